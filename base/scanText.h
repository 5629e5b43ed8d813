// Reading numbers and words out of text held in memory: the one scanner of every text format.
//
// Two levels, both free of allocation on their common paths:
//
// * Parse...(p, end, value): a number that starts exactly at p (no white space is skipped), read
//   as the C library's strtol/strtof/strtod read the longest prefix of [p, end) that forms one.
//   They return where the number stops; p itself when no number starts there, and then value is
//   0. Nothing past `end` is ever looked at, so the text needs no terminating NUL.
// * Scan...(cursor, value): a number or word after optional white space, as the %d, %f and %s
//   conversions of the C library's formatted reads take them from a stream, moving the cursor
//   past what was read. A format's own rules (a number that must end at white space, a keyword)
//   are written on top of these by its reader.
//
// Real numbers are correctly rounded, to nearest with ties to even, in the precision asked for:
// a float is rounded once from the decimal text, never through a double. The syntax is the C
// library's: an optional sign, then decimal digits with an optional point and an optional
// exponent ("1", "-2.", ".5", "1e-3", "7E+2"), hexadecimal digits after "0x" or "0X" with an
// optional binary exponent ("0x1p3" is 8, "0x.8" is 0.5), "inf", "infinity", "nan" or
// "nan(chars)" in any case. An exponent mark without digits is not part of the number ("2.5e"
// reads 2.5 and stops at the "e"). Values beyond the type's range become an infinity, values
// below its smallest subnormal a zero of the number's sign, just as strtof/strtod give them; the
// optional `outOfRange` flag tells those two cases apart from the rest.
//
// Short decimals (at most 19 significant digits and a small exponent, the numbers most files
// hold) take an exact path: their digits and the power of ten are both exact in the target type,
// so one multiplication or division rounds them correctly. Everything else goes through the
// standard library's conversion, which rounds correctly as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Character classes. White space is the C library's isspace in the "C" locale. A word ends at
// white space and also at a NUL byte or the DOS end-of-file mark (^Z), which pad the end of some
// files.
enum : unsigned char { kCharSpace = 1, kCharDigit = 2, kCharPad = 4 };
struct CharClassTable {
  unsigned char of[256];
};
constexpr CharClassTable MakeCharClasses() {
  CharClassTable t{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t.of[c] = kCharSpace;
  for (unsigned char c = '0'; c <= '9'; ++c) t.of[c] = kCharDigit;
  t.of[0] = t.of[0x1a] = kCharPad;
  return t;
}
inline constexpr CharClassTable kCharClasses = MakeCharClasses();

inline bool IsTextSpace(char c) {
  return kCharClasses.of[static_cast<unsigned char>(c)] & kCharSpace;
}
inline bool IsTextDigit(char c) {
  return kCharClasses.of[static_cast<unsigned char>(c)] & kCharDigit;
}
inline bool EndsTextWord(char c) {
  return kCharClasses.of[static_cast<unsigned char>(c)] & (kCharSpace | kCharPad);
}

// 10^0 to 10^22, every one exact in a double (10^22 = 2^22 * 5^22, and 5^22 < 2^53); up to 10^10
// they are exact in a float as well.
inline constexpr double kPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The pieces of a short plain decimal: value = ±mantissa * 10^exponent, written in [p, stop).
struct ShortDecimal {
  uint64_t mantissa = 0;
  int exponent = 0;
  bool negative = false;
  const char *stop = nullptr;
};

// Splits a plain decimal at p into its pieces; false for anything else (no digits, hexadecimal,
// infinity and NaN, more than 19 significant digits), which the general conversion then reads.
inline bool SplitShortDecimal(const char *p, const char *end, ShortDecimal &d) {
  const char *q = p;
  d.negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  if (q < end && *q == '0' && end - q > 1 && (q[1] | 0x20) == 'x') return false;
  uint64_t mantissa = 0;
  int exponent = 0, significant = 0;
  bool digits = false;
  for (; q < end && IsTextDigit(*q); ++q, digits = true) {
    if (significant >= 19) return false;
    mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
    significant += mantissa != 0;
  }
  if (q < end && *q == '.') {
    for (++q; q < end && IsTextDigit(*q); ++q, digits = true) {
      if (significant >= 19) return false;
      mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
      significant += mantissa != 0;
      --exponent;
    }
  }
  if (!digits) return false;
  if (q < end && (*q | 0x20) == 'e') {
    const char *r = q + 1;
    const bool down = r < end && *r == '-';
    if (r < end && (*r == '-' || *r == '+')) ++r;
    if (r < end && IsTextDigit(*r)) {
      int value = 0;
      for (; r < end && IsTextDigit(*r); ++r)
        value = value < 10000 ? value * 10 + (*r - '0') : value;
      exponent += down ? -value : value;
      q = r;
    }
  }
  d.mantissa = mantissa;
  d.exponent = exponent;
  d.stop = q;
  return true;
}

// The general conversion behind ParseFloat and ParseDouble, for what the exact path leaves.
const char *ParseRealGeneral(const char *p, const char *end, float &value, bool *outOfRange);
const char *ParseRealGeneral(const char *p, const char *end, double &value, bool *outOfRange);

// The largest mantissa and power of ten that are both exact in Real.
template <typename Real> struct ExactDecimal;
template <> struct ExactDecimal<float> {
  static constexpr uint64_t kMantissa = uint64_t(1) << 24;
  static constexpr int kPower = 10;
};
template <> struct ExactDecimal<double> {
  static constexpr uint64_t kMantissa = uint64_t(1) << 53;
  static constexpr int kPower = 22;
};

template <typename Real>
inline const char *ParseReal(const char *p, const char *end, Real &value, bool *outOfRange) {
  ShortDecimal d;
  if (!SplitShortDecimal(p, end, d)) return ParseRealGeneral(p, end, value, outOfRange);
  Real v = 0;
  if (d.mantissa != 0) {
    if (d.mantissa > ExactDecimal<Real>::kMantissa || d.exponent > ExactDecimal<Real>::kPower ||
        d.exponent < -ExactDecimal<Real>::kPower)
      return ParseRealGeneral(p, end, value, outOfRange);
    // Both operands exact, so the one operation rounds correctly (in Real itself, never through
    // a wider type).
    const Real m = static_cast<Real>(d.mantissa);
    v = d.exponent >= 0 ? m * static_cast<Real>(kPowersOfTen[d.exponent])
                        : m / static_cast<Real>(kPowersOfTen[-d.exponent]);
  }
  value = d.negative ? -v : v;
  if (outOfRange) *outOfRange = false;
  return d.stop;
}

// A real number at p as strtof reads it (see the top of this file).
inline const char *ParseFloat(const char *p, const char *end, float &value,
                              bool *outOfRange = nullptr) {
  return ParseReal(p, end, value, outOfRange);
}
// A real number at p as strtod reads it (see the top of this file).
inline const char *ParseDouble(const char *p, const char *end, double &value,
                               bool *outOfRange = nullptr) {
  return ParseReal(p, end, value, outOfRange);
}

// A decimal integer at p (an optional sign, then digits) as strtoll reads it: values beyond the
// range of long long saturate to its limits.
const char *ParseInteger(const char *p, const char *end, long long &value);

// A cursor over text in [begin, end); p is where the next read starts.
struct TextCursor {
  const char *begin = nullptr;
  const char *p = nullptr;
  const char *end = nullptr;
};
inline TextCursor CursorOver(const char *begin, const char *end) {
  return TextCursor{begin, begin, end};
}
inline TextCursor CursorOver(std::string_view text) {
  return CursorOver(text.data(), text.data() + text.size());
}
inline std::size_t CursorOffset(const TextCursor &c) {
  return static_cast<std::size_t>(c.p - c.begin);
}
inline std::size_t CursorRemaining(const TextCursor &c) {
  return static_cast<std::size_t>(c.end - c.p);
}

// How a Scan... call went.
enum ScanResult {
  kScanRead,    // a value was read and the cursor moved past it
  kScanEnd,     // only white space was left (the cursor is at the end)
  kScanNoMatch, // the next characters do not form the value; the cursor is after the white space
};

inline void ScanSpace(TextCursor &c) {
  while (c.p != c.end && IsTextSpace(*c.p)) ++c.p;
}
// Skips white space; true when nothing is left after it.
inline bool ScanAtEnd(TextCursor &c) {
  ScanSpace(c);
  return c.p == c.end;
}
// The literal character ch, without skipping white space before it.
inline bool ScanChar(TextCursor &c, char ch) {
  if (c.p == c.end || *c.p != ch) return false;
  ++c.p;
  return true;
}
// An integer as %d reads it (saturating, see ParseInteger).
ScanResult ScanInt(TextCursor &c, long long &value);
// A real number as %f reads it into a float or a double.
ScanResult ScanFloat(TextCursor &c, float &value);
ScanResult ScanDouble(TextCursor &c, double &value);
// Steps over a real number exactly as ScanFloat would read it, without keeping its value.
ScanResult ScanSkipFloat(TextCursor &c);
// A word as %s reads it: the next run of characters that are not white space.
ScanResult ScanWord(TextCursor &c, std::string_view &word);
