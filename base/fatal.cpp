#include "base/fatal.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <sys/mman.h>

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

static std::string warningTail;

void warn(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string message = vformat(fmt, ap);
  va_end(ap);
  std::fflush(stdout);
  std::fputs(message.c_str(), stderr);
  std::fflush(stderr);
  // Only the last lines are kept, so a reader that warns once a facet costs no memory.
  warningTail += message;
  if (warningTail.size() > 4096) warningTail = RecentWarnings();
}

std::string RecentWarnings() {
  const std::string &t = warningTail;
  std::size_t end = t.size();
  if (end > 0 && t[end - 1] == '\n') --end; // the last line's own end
  std::size_t start = 0;
  int lines = 1;
  for (std::size_t i = end; i > 0; --i) {
    if (t[i - 1] != '\n') continue;
    if (lines == kWarningLinesKept) {
      start = i;
      break;
    }
    ++lines;
  }
  return t.substr(start);
}

void allocFailed(const char *type, long long count, int line, const char *module) {
  fatal(1, "Memory allocation for %s (%lld bytes) failed on line %d in %s\n", type, count, line,
        module);
}

void reallocFailed(const char *type, long long count, int line, const char *module) {
  fatal(1, "Memory re-allocation for %s (%lld bytes) failed on line %d in %s\n", type, count, line,
        module);
}

void AdviseHugePages(const void *p, std::size_t bytes) {
  const std::uintptr_t huge = std::uintptr_t(2) << 20;
  std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(p) + huge - 1) & ~(huge - 1);
  std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(huge - 1);
  if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}
