// The program's one failure path. A function that meets a failure formats its message and calls
// fatal(); the message and exit status travel up as a FatalError, which the program's entry writes
// to standard error before it exits with the status. Tests and fuzz targets catch it instead.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

struct FatalError : std::runtime_error {
  int status;
  FatalError(int status_, const std::string &message)
      : std::runtime_error(message), status(status_) {}
};

[[noreturn]] void fatal(int status, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// A warning is written at once and the work goes on.
void warn(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The end of what the warnings of this run wrote: at most its last kWarningLinesKept lines (a
// failure's message dialog shows them with the message, as standard error has them).
std::string RecentWarnings();
constexpr int kWarningLinesKept = 10;

// "Memory allocation for %s (%d bytes) failed on line %d in %s\n", status 1.
[[noreturn]] void allocFailed(const char *type, long long count, int line, const char *module);
// "Memory re-allocation for %s (%d bytes) failed on line %d in %s\n", status 1.
[[noreturn]] void reallocFailed(const char *type, long long count, int line, const char *module);

// Asks for transparent huge pages on a fresh, untouched block: fewer page faults, but on a
// machine whose memory is handed out fresh (a virtual machine that gives freed memory back) each
// huge-page fault costs several times as much as the small pages it replaces, so the array
// helpers below do not ask for them.
void AdviseHugePages(const void *p, std::size_t bytes);

// Runs `work`; false when an allocation inside it could not be made (std::bad_alloc, or a size
// beyond what a container can hold). What the work had done stays as the container's failed call
// leaves it. The one place that catches allocation failures: every report below goes through it.
template <class Work> bool TryAlloc(Work &&work) {
  try {
    work();
    return true;
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  return false;
}

// Runs `work`; an allocation it cannot make ends the run with the allocation report naming the
// record type, the count asked for, the line and the module.
template <class Work>
void allocOrReport(Work &&work, const char *type, long long count, int line, const char *module) {
  if (!TryAlloc(work)) allocFailed(type, count, line, module);
}
// The report carries the line of the call: ALLOC_OR_REPORT("uint", n, kModule, v.reserve(n)).
#define ALLOC_OR_REPORT(type, count, module, ...)                                                  \
  allocOrReport([&] { __VA_ARGS__; }, (type), static_cast<long long>(count), __LINE__, (module))

// Sizes a vector to n value-initialised (zero-filled) elements; an allocation that cannot be made
// ends the run with the allocation report naming the record type and the module.
template <class T>
void allocArray(std::vector<T> &v, std::size_t n, const char *type, const char *module, int line) {
  allocOrReport([&] { v.assign(n, T{}); }, type, static_cast<long long>(n), line, module);
}

#define ALLOC_ARRAY(vec, n, type, module) allocArray((vec), (n), (type), (module), __LINE__)
