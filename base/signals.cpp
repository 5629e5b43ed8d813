#include "base/signals.h"

#include <pthread.h>

const int kEndSignals[kEndSignalCount] = {SIGINT, SIGTERM, SIGHUP};

sigset_t EndSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kEndSignals) sigaddset(&set, sig);
  return set;
}

HoldEndSignals::HoldEndSignals() {
  sigset_t set = EndSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

HoldEndSignals::~HoldEndSignals() {
  pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
}
