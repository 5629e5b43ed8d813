#include "viewer/readers/scanText.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>

static bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Case-insensitive match of an ASCII word at [p, end).
static bool HasWord(const char *p, const char *end, const char *word) {
  for (; *word; ++word, ++p)
    if (p == end || std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
  return true;
}

TextScanner::Result TextScanner::ReadInt(long long &value) {
  SkipSpace();
  if (p_ == end_) return kEnd;
  const char *q = p_;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (q == end_ || !IsDigit(*q)) return kNoMatch;
  unsigned long long magnitude = 0;
  bool overflow = false;
  for (; q != end_ && IsDigit(*q); ++q) {
    unsigned digit = static_cast<unsigned>(*q - '0');
    if (magnitude > (ULLONG_MAX - digit) / 10)
      overflow = true;
    else
      magnitude = magnitude * 10 + digit;
  }
  p_ = q;
  const unsigned long long limit = static_cast<unsigned long long>(LLONG_MAX);
  if (overflow || magnitude > limit)
    value = negative ? LLONG_MIN : LLONG_MAX;
  else
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  return kRead;
}

std::size_t TextScanner::FloatLength() const {
  const char *q = p_;
  if (q != end_ && (*q == '+' || *q == '-')) ++q;
  if (q == end_) return 0;
  if (!IsDigit(*q) && *q != '.') {
    if (HasWord(q, end_, "infinity")) return static_cast<std::size_t>(q + 8 - p_);
    if (HasWord(q, end_, "inf")) return static_cast<std::size_t>(q + 3 - p_);
    if (HasWord(q, end_, "nan")) {
      q += 3;
      // "nan(chars)" takes its parenthesised tail only when it is closed.
      if (q != end_ && *q == '(') {
        const char *r = q + 1;
        while (r != end_ && (std::isalnum(static_cast<unsigned char>(*r)) || *r == '_')) ++r;
        if (r != end_ && *r == ')') q = r + 1;
      }
      return static_cast<std::size_t>(q - p_);
    }
    return 0;
  }
  std::size_t digits = 0;
  for (; q != end_ && IsDigit(*q); ++q) ++digits;
  if (q != end_ && *q == '.') {
    ++q;
    for (; q != end_ && IsDigit(*q); ++q) ++digits;
  }
  if (digits == 0) return 0;
  if (q != end_ && (*q == 'e' || *q == 'E')) {
    const char *r = q + 1;
    if (r != end_ && (*r == '+' || *r == '-')) ++r;
    if (r != end_ && IsDigit(*r)) {
      while (r != end_ && IsDigit(*r)) ++r;
      q = r;
    }
  }
  return static_cast<std::size_t>(q - p_);
}

TextScanner::Result TextScanner::SkipFloat() {
  SkipSpace();
  if (p_ == end_) return kEnd;
  std::size_t n = FloatLength();
  if (n == 0) return kNoMatch;
  p_ += n;
  return kRead;
}

TextScanner::Result TextScanner::ReadFloat(float &value) {
  SkipSpace();
  if (p_ == end_) return kEnd;
  // from_chars takes the stream conversion's syntax except for a plus sign.
  const char *s = p_;
  if (*s == '+' && (++s == end_ || *s == '-')) return kNoMatch;
  std::from_chars_result r = std::from_chars(s, end_, value, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return kNoMatch;
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow and underflow get strtof's answer (an infinity, zero or a subnormal), as the stream
    // conversion gives them.
    std::string copy(p_, r.ptr);
    value = std::strtof(copy.c_str(), nullptr);
  }
  p_ = r.ptr;
  return kRead;
}

TextScanner::Result TextScanner::ReadWord(std::string_view &word) {
  SkipSpace();
  if (p_ == end_) return kEnd;
  const char *q = p_;
  while (q != end_ && !IsSpace(*q)) ++q;
  word = std::string_view(p_, static_cast<std::size_t>(q - p_));
  p_ = q;
  return kRead;
}
