// The signals that end a run from outside: Ctrl-C, kill and hang-up. A file the user keeps is
// written with them held back, so that it is whole before the run ends; the load pipeline also
// restores a decompressed folder when one of them arrives.
#pragma once

#include <csignal>

constexpr int kEndSignalCount = 3;
extern const int kEndSignals[kEndSignalCount];

// The three signals as a set.
sigset_t EndSignalSet();

// Holds back the three signals in the calling thread for its lifetime.
class HoldEndSignals {
public:
  HoldEndSignals();
  ~HoldEndSignals();
  HoldEndSignals(const HoldEndSignals &) = delete;
  HoldEndSignals &operator=(const HoldEndSignals &) = delete;

private:
  sigset_t saved_;
};
