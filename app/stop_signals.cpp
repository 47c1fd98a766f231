#include "app/stop_signals.h"

#include "app/stop_signal_set.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace q9m::app {

void BlockStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignalWatcher::StopSignalWatcher() {
  const sigset_t set = StopSignalSet();
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) return;
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignalWatcher::Read);
}

StopSignalWatcher::~StopSignalWatcher() {
  delete notifier_;
  if (fd_ >= 0) close(fd_);
}

void StopSignalWatcher::Read() {
  signalfd_siginfo info{};
  while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    received_ = true;
    emit received(static_cast<int>(info.ssi_signo));
  }
}

}  // namespace q9m::app
