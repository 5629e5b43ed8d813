// Reading numbers out of a text file held in memory, the way the C library's %d, %e/%f and %s
// conversions read them from a stream: leading white space is skipped, a number ends at the first
// character that cannot continue it. Fortran-written files rely on this, since their numbers often
// run together ("1702-1701", "0.00000E+00-0.26730E-01").
#pragma once

#include <cstddef>
#include <string_view>

class TextScanner {
public:
  enum Result {
    kRead,    // a value was converted
    kEnd,     // only white space was left
    kNoMatch, // the next characters do not form the value; nothing was consumed
  };

  TextScanner(const char *begin, const char *end) : p_(begin), begin_(begin), end_(end) {}

  // Skips white space; true when nothing is left after it.
  bool AtEnd() {
    SkipSpace();
    return p_ == end_;
  }
  void SkipSpace() {
    while (p_ != end_ && IsSpace(*p_)) ++p_;
  }
  // An integer as %d reads it; values beyond the range of long long saturate.
  Result ReadInt(long long &value);
  // A real number as %e/%f reads it into a float, correctly rounded; out-of-range values become
  // an infinity or zero as strtof gives them.
  Result ReadFloat(float &value);
  // Steps over a real number as ReadFloat would read it, without converting it.
  Result SkipFloat();
  // A word as %s reads it: the next run of characters that are not white space.
  Result ReadWord(std::string_view &word);
  // The literal character c, without skipping white space before it.
  bool Match(char c) {
    if (p_ == end_ || *p_ != c) return false;
    ++p_;
    return true;
  }

  std::size_t Offset() const { return static_cast<std::size_t>(p_ - begin_); }
  std::size_t Remaining() const { return static_cast<std::size_t>(end_ - p_); }
  void Rewind() { p_ = begin_; }

  static bool IsSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  }

private:
  // Length of the real number starting at p_ (after white space), 0 when there is none; the same
  // syntax from_chars takes, plus a leading plus sign.
  std::size_t FloatLength() const;

  const char *p_;
  const char *begin_;
  const char *end_;
};
