#include "base/scanText.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>
#include <system_error>

static float CLibraryReal(const std::string &text, float) {
  return std::strtof(text.c_str(), nullptr);
}
static double CLibraryReal(const std::string &text, double) {
  return std::strtod(text.c_str(), nullptr);
}

// from_chars takes the C library's syntax except for a plus sign and the "0x" of a hexadecimal
// number, so the sign and the prefix are read here and the rest is left to it.
template <typename Real>
static const char *ConvertReal(const char *p, const char *end, Real &value, bool *outOfRange) {
  value = 0;
  if (outOfRange) *outOfRange = false;
  const char *s = p;
  const bool negative = s < end && *s == '-';
  if (s < end && (*s == '-' || *s == '+')) ++s;
  if (s == end || *s == '-' || *s == '+') return p;
  Real v = 0;
  std::from_chars_result r;
  if (end - s > 2 && s[0] == '0' && (s[1] | 0x20) == 'x' &&
      (std::isxdigit(static_cast<unsigned char>(s[2])) || s[2] == '.')) {
    r = std::from_chars(s + 2, end, v, std::chars_format::hex);
    // "0x" followed by no hexadecimal digits: the number is the "0" before it.
    if (r.ec == std::errc::invalid_argument) r = {s + 1, std::errc()};
  } else {
    r = std::from_chars(s, end, v, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) return p;
  }
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow and underflow: the C library's infinity or signed zero.
    value = CLibraryReal(std::string(p, r.ptr), Real());
    if (outOfRange) *outOfRange = true;
    return r.ptr;
  }
  value = negative ? -v : v;
  return r.ptr;
}

const char *ParseRealGeneral(const char *p, const char *end, float &value, bool *outOfRange) {
  return ConvertReal(p, end, value, outOfRange);
}

const char *ParseRealGeneral(const char *p, const char *end, double &value, bool *outOfRange) {
  return ConvertReal(p, end, value, outOfRange);
}

const char *ParseInteger(const char *p, const char *end, long long &value) {
  value = 0;
  const char *q = p;
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '+' || *q == '-')) ++q;
  if (q == end || !IsTextDigit(*q)) return p;
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; q != end && IsTextDigit(*q); ++q) {
    const unsigned digit = static_cast<unsigned>(*q - '0');
    if (magnitude > (ULLONG_MAX - digit) / 10)
      overflow = true;
    else
      magnitude = magnitude * 10 + digit;
  }
  const unsigned long long limit = static_cast<unsigned long long>(LLONG_MAX);
  if (negative)
    value =
        overflow || magnitude > limit + 1 ? LLONG_MIN : static_cast<long long>(0ULL - magnitude);
  else
    value = overflow || magnitude > limit ? LLONG_MAX : static_cast<long long>(magnitude);
  return q;
}

// A value after white space, read by `parse` from the cursor on.
template <typename Value, typename Parse>
static ScanResult ScanWith(TextCursor &c, Value &value, Parse parse) {
  if (ScanAtEnd(c)) return kScanEnd;
  const char *stop = parse(c.p, c.end, value);
  if (stop == c.p) return kScanNoMatch;
  c.p = stop;
  return kScanRead;
}

ScanResult ScanInt(TextCursor &c, long long &value) {
  return ScanWith(c, value, ParseInteger);
}

ScanResult ScanFloat(TextCursor &c, float &value) {
  return ScanWith(c, value,
                  [](const char *p, const char *end, float &v) { return ParseFloat(p, end, v); });
}

ScanResult ScanDouble(TextCursor &c, double &value) {
  return ScanWith(c, value,
                  [](const char *p, const char *end, double &v) { return ParseDouble(p, end, v); });
}

ScanResult ScanSkipFloat(TextCursor &c) {
  float ignored;
  return ScanFloat(c, ignored);
}

ScanResult ScanWord(TextCursor &c, std::string_view &word) {
  if (ScanAtEnd(c)) return kScanEnd;
  const char *q = c.p;
  while (q != c.end && !IsTextSpace(*q)) ++q;
  word = std::string_view(c.p, static_cast<std::size_t>(q - c.p));
  c.p = q;
  return kScanRead;
}
