#include "base/scanText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <type_traits>
#include <utility>
#include <cmath>
#include <string>

namespace {
struct Scan {
  std::string text;
  TextCursor in;
  explicit Scan(std::string t) : text(std::move(t)), in(CursorOver(text)) {}
};
} // namespace

TEST(ScanText, FortranNumbersRunTogetherReadSeparately) {
  Scan s(" 1702-1701 0.00000E+00-0.26730E-01+5");
  long long a = 0, b = 0;
  float x = 1, y = 0;
  ASSERT_EQ(ScanInt(s.in, a), kScanRead);
  ASSERT_EQ(ScanInt(s.in, b), kScanRead);
  EXPECT_EQ(a, 1702);
  EXPECT_EQ(b, -1701);
  ASSERT_EQ(ScanFloat(s.in, x), kScanRead);
  ASSERT_EQ(ScanFloat(s.in, y), kScanRead);
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, -0.02673f);
  ASSERT_EQ(ScanFloat(s.in, x), kScanRead);
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(ScanFloat(s.in, x), kScanEnd);
}

TEST(ScanText, IntegerStopsWhereRealNumberGoesOn) {
  // %d on "3.5e2" takes 3; the rest is no integer but still a real number.
  Scan s("3.5e2 -x");
  long long n = 0;
  float f = 0;
  ASSERT_EQ(ScanInt(s.in, n), kScanRead);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(ScanInt(s.in, n), kScanNoMatch);
  ASSERT_EQ(ScanFloat(s.in, f), kScanRead);
  EXPECT_EQ(f, 50.0f);
  // A lone sign is no number and is left in place for a word read.
  EXPECT_EQ(ScanInt(s.in, n), kScanNoMatch);
  EXPECT_EQ(ScanFloat(s.in, f), kScanNoMatch);
  std::string_view w;
  ASSERT_EQ(ScanWord(s.in, w), kScanRead);
  EXPECT_EQ(w, "-x");
  EXPECT_TRUE(ScanAtEnd(s.in));
}

TEST(ScanText, RealNumbersAreCorrectlyRoundedAndSaturate) {
  // 16777217 lies halfway between two floats: ties go to even. Rounding through a double first
  // would get the second one wrong (its double is the tie itself).
  Scan s("16777217 16777217.000000001 1. .5 1e39 -1e39 1e-50 2.5e 99999999999999999999999");
  float f[7];
  for (float &v : f) ASSERT_EQ(ScanFloat(s.in, v), kScanRead);
  EXPECT_EQ(f[0], 16777216.0f);
  EXPECT_EQ(f[1], 16777218.0f);
  EXPECT_EQ(f[2], 1.0f);
  EXPECT_EQ(f[3], 0.5f);
  EXPECT_TRUE(std::isinf(f[4]) && f[4] > 0);
  EXPECT_TRUE(std::isinf(f[5]) && f[5] < 0);
  EXPECT_EQ(f[6], 0.0f);
  // An exponent mark without digits is not part of the number.
  float g = 0;
  ASSERT_EQ(ScanFloat(s.in, g), kScanRead);
  EXPECT_EQ(g, 2.5f);
  EXPECT_EQ(ScanFloat(s.in, g), kScanNoMatch);
  std::string_view w;
  ScanWord(s.in, w);
  EXPECT_EQ(w, "e");
  long long big = 0;
  ASSERT_EQ(ScanInt(s.in, big), kScanRead);
  EXPECT_EQ(big, LLONG_MAX);
}

TEST(ScanText, SkipAcceptsExactlyWhatReadAccepts) {
  const char *cases[] = {"-1.25E+03x", "inf", "-Infinity", "nan(abc)", "nan(",
                         ".e5",        "+.",  "7e+",       "0x10",     "1e5.5"};
  for (const char *c : cases) {
    Scan a(c), b(c);
    float f;
    EXPECT_EQ(ScanFloat(a.in, f), ScanSkipFloat(b.in)) << c;
    EXPECT_EQ(CursorOffset(a.in), CursorOffset(b.in)) << c;
  }
}

namespace {
// The C library's reading of the longest number at the start of `text`: its value and length.
template <typename Real> std::pair<Real, std::size_t> CReading(const std::string &text) {
  char *stop = nullptr;
  Real v;
  if constexpr (std::is_same_v<Real, float>)
    v = std::strtof(text.c_str(), &stop);
  else
    v = std::strtod(text.c_str(), &stop);
  return {v, static_cast<std::size_t>(stop - text.c_str())};
}

template <typename Real> void ExpectCReading(const std::string &text) {
  const auto [want, length] = CReading<Real>(text);
  Real got = 1;
  const char *stop;
  if constexpr (std::is_same_v<Real, float>)
    stop = ParseFloat(text.data(), text.data() + text.size(), got);
  else
    stop = ParseDouble(text.data(), text.data() + text.size(), got);
  EXPECT_EQ(static_cast<std::size_t>(stop - text.data()), length) << text;
  if (std::isnan(want))
    EXPECT_TRUE(std::isnan(got)) << text;
  else
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text << " gave " << got;
}

// Numbers where a reading that is off by one step of rounding, a digit limit or the syntax
// shows: ties, the exact path's edges, hexadecimal forms, range ends, words that only begin like
// numbers.
const char *const kNumberTexts[] = {"0x1p3",
                                    "-0x1.8p1",
                                    "0X.8",
                                    "0x",
                                    "0xg",
                                    "0x1p",
                                    "0x1p+",
                                    "0x-1",
                                    "+0x10",
                                    "0x1.fffffffp127",
                                    "0x1p-1075",
                                    "0x1p-149",
                                    "00x1",
                                    "16777217",
                                    "16777219",
                                    "9007199254740993",
                                    "9007199254740993e0",
                                    "1e22",
                                    "1e23",
                                    "123456789012345678e-5",
                                    "1234567890123456789",
                                    "12345678901234567890",
                                    "0.1",
                                    "-0.0",
                                    "0e999999",
                                    "1e-45",
                                    "1e-46",
                                    "2.4703282292062328e-324",
                                    "1e-400",
                                    "1e400",
                                    "-1e39",
                                    "3.4028235e38",
                                    "3.4028236e38",
                                    "1.7976931348623157e308",
                                    "1.7976931348623159e308",
                                    "4.9406564584124654e-324",
                                    "2.5e",
                                    "7e+",
                                    "1e5.5",
                                    ".e5",
                                    ".",
                                    "+.",
                                    "-",
                                    "+-1",
                                    "--1",
                                    "++1",
                                    "+",
                                    "inf",
                                    "-Infinity",
                                    "infinit",
                                    "nan",
                                    "NaN(abc)",
                                    "nan(",
                                    "nan(a b)",
                                    "1,5",
                                    "0.000000000000000000000000000000001",
                                    "100000000000000000000000",
                                    "1.00000000000000000000000000001",
                                    "8.589973e9",
                                    "8.589974e9",
                                    "0.3e-10",
                                    "7.038531e-26",
                                    "1e0010",
                                    "5e-10",
                                    "1.5e10",
                                    "1.5e11"};
} // namespace

TEST(ScanText, RealNumbersReadExactlyAsTheCLibraryReadsThem) {
  for (const char *text : kNumberTexts) {
    ExpectCReading<float>(text);
    ExpectCReading<double>(text);
  }
  // Decimals of every length and exponent, and hexadecimal ones, from a fixed seed: both paths
  // and the border between them.
  std::mt19937_64 random(26);
  char text[64];
  for (int i = 0; i < 20000; ++i) {
    const unsigned long long digits = random() >> (random() % 64);
    const int point = static_cast<int>(random() % 22),
              exponent = static_cast<int>(random() % 70) - 35;
    std::string s = std::to_string(digits);
    if (point < static_cast<int>(s.size())) s.insert(s.size() - std::size_t(point), ".");
    std::snprintf(text, sizeof text, "%s%se%d", i % 3 ? "" : "-", s.c_str(), exponent);
    ExpectCReading<float>(text);
    ExpectCReading<double>(text);
    std::snprintf(text, sizeof text, "0x%llx.%llxp%d", digits,
                  static_cast<unsigned long long>(random() >> 40), exponent * 30);
    ExpectCReading<float>(text);
    ExpectCReading<double>(text);
  }
}

TEST(ScanText, OutOfRangeIsToldApartAndIntegersSaturate) {
  const struct {
    const char *text;
    bool outOfRange;
  } cases[] = {
      {"1e400", true}, {"-1e-400", true}, {"1e-310", false}, {"1e300", false}, {"inf", false}};
  for (const auto &c : cases) {
    double d;
    bool out = !c.outOfRange;
    ParseDouble(c.text, c.text + std::strlen(c.text), d, &out);
    EXPECT_EQ(out, c.outOfRange) << c.text;
  }
  const char *ints[] = {"9223372036854775807",
                        "9223372036854775808",
                        "-9223372036854775808",
                        "-9223372036854775809",
                        "99999999999999999999999",
                        "+12x",
                        "-x",
                        "+"};
  for (const char *text : ints) {
    long long v = 1;
    const char *stop = ParseInteger(text, text + std::strlen(text), v);
    char *want = nullptr;
    const long long expected = std::strtoll(text, &want, 10);
    EXPECT_EQ(v, expected) << text;
    EXPECT_EQ(stop, want) << text;
  }
}

TEST(ScanText, NothingPastTheEndIsRead) {
  // The text is cut out of a longer one: digits after the end must not join the number.
  const std::string text = "12.5e3999 0x1p3ff";
  double d = 0;
  EXPECT_EQ(ParseDouble(text.data(), text.data() + 4, d), text.data() + 4);
  EXPECT_EQ(d, 12.5);
  EXPECT_EQ(ParseDouble(text.data(), text.data() + 5, d), text.data() + 4);
  EXPECT_EQ(d, 12.5);
  float f = 0;
  EXPECT_EQ(ParseFloat(text.data() + 10, text.data() + 12, f), text.data() + 11);
  EXPECT_EQ(f, 0.0f);
  EXPECT_EQ(ParseFloat(text.data() + 10, text.data() + 15, f), text.data() + 15);
  EXPECT_EQ(f, 8.0f);
}
