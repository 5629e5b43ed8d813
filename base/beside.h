// Work beside the caller's, on the machine's second processor: large objects are read and drawn
// in passes over millions of vertices, and a pass whose halves do not touch each other's results
// takes half the time on two threads.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

// Runs `work` on a thread of its own while the caller goes on, and hands back what it threw once
// joined; with no thread to be had, it runs at the join instead.
class Beside {
public:
  template <class Work> explicit Beside(Work work) : work_(work) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error &) {
    }
  }
  Beside(const Beside &) = delete;
  Beside &operator=(const Beside &) = delete;
  ~Beside() {
    if (thread_.joinable()) thread_.join();
  }
  void Join() {
    if (thread_.joinable())
      thread_.join();
    else
      Run();
    if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
  }

private:
  void Run() {
    try {
      work_();
    } catch (...) {
      failed_ = std::current_exception(); // an allocation report: the caller ends the run
    }
  }
  std::function<void()> work_;
  std::exception_ptr failed_;
  std::thread thread_;
};

// Calls work(half, begin, end) for the halves 0 and 1 of [0, count), the upper one beside this
// thread when there are at least `least` items (below that a thread costs more than it saves; the
// lower half is then the whole range and the upper one empty). The caller combines the halves'
// results in order, so that the outcome is the one a single pass gives.
template <class Work> void InHalves(std::size_t count, std::size_t least, Work work) {
  const std::size_t middle = count >= least ? count / 2 : count;
  if (middle == count) {
    work(0, std::size_t(0), count);
    work(1, count, count);
    return;
  }
  Beside upper([&work, middle, count] { work(1, middle, count); });
  work(0, std::size_t(0), middle);
  upper.Join();
}
