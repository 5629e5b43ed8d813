#include "viewer/readers/scanText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

namespace {
struct Scan {
  std::string text;
  TextScanner in;
  explicit Scan(std::string t) : text(std::move(t)), in(text.data(), text.data() + text.size()) {}
};
} // namespace

TEST(TextScanner, FortranNumbersRunTogetherReadSeparately) {
  Scan s(" 1702-1701 0.00000E+00-0.26730E-01+5");
  long long a = 0, b = 0;
  float x = 1, y = 0;
  ASSERT_EQ(s.in.ReadInt(a), TextScanner::kRead);
  ASSERT_EQ(s.in.ReadInt(b), TextScanner::kRead);
  EXPECT_EQ(a, 1702);
  EXPECT_EQ(b, -1701);
  ASSERT_EQ(s.in.ReadFloat(x), TextScanner::kRead);
  ASSERT_EQ(s.in.ReadFloat(y), TextScanner::kRead);
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, -0.02673f);
  ASSERT_EQ(s.in.ReadFloat(x), TextScanner::kRead);
  EXPECT_EQ(x, 5.0f);
  EXPECT_EQ(s.in.ReadFloat(x), TextScanner::kEnd);
}

TEST(TextScanner, IntegerStopsWhereRealNumberGoesOn) {
  // %d on "3.5e2" takes 3; the rest is no integer but still a real number.
  Scan s("3.5e2 -x");
  long long n = 0;
  float f = 0;
  ASSERT_EQ(s.in.ReadInt(n), TextScanner::kRead);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(s.in.ReadInt(n), TextScanner::kNoMatch);
  ASSERT_EQ(s.in.ReadFloat(f), TextScanner::kRead);
  EXPECT_EQ(f, 50.0f);
  // A lone sign is no number and is left in place for a word read.
  EXPECT_EQ(s.in.ReadInt(n), TextScanner::kNoMatch);
  EXPECT_EQ(s.in.ReadFloat(f), TextScanner::kNoMatch);
  std::string_view w;
  ASSERT_EQ(s.in.ReadWord(w), TextScanner::kRead);
  EXPECT_EQ(w, "-x");
  EXPECT_TRUE(s.in.AtEnd());
}

TEST(TextScanner, RealNumbersAreCorrectlyRoundedAndSaturate) {
  // 16777217 lies halfway between two floats: ties go to even. Rounding through a double first
  // would get the second one wrong (its double is the tie itself).
  Scan s("16777217 16777217.000000001 1. .5 1e39 -1e39 1e-50 2.5e 99999999999999999999999");
  float f[7];
  for (float &v : f) ASSERT_EQ(s.in.ReadFloat(v), TextScanner::kRead);
  EXPECT_EQ(f[0], 16777216.0f);
  EXPECT_EQ(f[1], 16777218.0f);
  EXPECT_EQ(f[2], 1.0f);
  EXPECT_EQ(f[3], 0.5f);
  EXPECT_TRUE(std::isinf(f[4]) && f[4] > 0);
  EXPECT_TRUE(std::isinf(f[5]) && f[5] < 0);
  EXPECT_EQ(f[6], 0.0f);
  // An exponent mark without digits is not part of the number.
  float g = 0;
  ASSERT_EQ(s.in.ReadFloat(g), TextScanner::kRead);
  EXPECT_EQ(g, 2.5f);
  EXPECT_EQ(s.in.ReadFloat(g), TextScanner::kNoMatch);
  std::string_view w;
  s.in.ReadWord(w);
  EXPECT_EQ(w, "e");
  long long big = 0;
  ASSERT_EQ(s.in.ReadInt(big), TextScanner::kRead);
  EXPECT_EQ(big, LLONG_MAX);
}

TEST(TextScanner, SkipAcceptsExactlyWhatReadAccepts) {
  const char *cases[] = {"-1.25E+03x", "inf", "-Infinity", "nan(abc)", "nan(",
                         ".e5",        "+.",  "7e+",       "0x10",     "1e5.5"};
  for (const char *c : cases) {
    Scan a(c), b(c);
    float f;
    EXPECT_EQ(a.in.ReadFloat(f), b.in.SkipFloat()) << c;
    EXPECT_EQ(a.in.Offset(), b.in.Offset()) << c;
  }
}
