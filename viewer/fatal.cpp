#include "fatal.h"

#include <cstdarg>
#include <cstdio>

static std::string vformat(const char *fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(&s[0], s.size(), fmt, ap);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

void fatal(int status, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string message = vformat(fmt, ap);
  va_end(ap);
  throw FatalError(status, message);
}

void warn(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string message = vformat(fmt, ap);
  va_end(ap);
  std::fflush(stdout);
  std::fputs(message.c_str(), stderr);
  std::fflush(stderr);
}

void allocFailed(const char *type, long long count, int line, const char *module) {
  fatal(1, "Memory allocation for %s (%lld bytes) failed on line %d in %s\n", type, count, line,
        module);
}

void reallocFailed(const char *type, long long count, int line, const char *module) {
  fatal(1, "Memory re-allocation for %s (%lld bytes) failed on line %d in %s\n", type, count, line,
        module);
}
