// SIGTERM, SIGINT and SIGHUP end the updater as Exit does: the window closes, the worker stops
// at its next wait, nothing more is sent, and the program ends normally. The signals are
// blocked in every thread (BlockStopSignals runs before any thread starts, and threads inherit
// the mask) and read from a signalfd on the UI thread's event loop, so no code runs inside a
// signal handler and no other thread is interrupted.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace q9m::app {

// Call first in main, before any thread exists.
void BlockStopSignals();

class StopSignalWatcher : public QObject {
  Q_OBJECT

 public:
  // Needs the application object; without a signalfd the signals stay blocked and pending.
  StopSignalWatcher();
  ~StopSignalWatcher() override;

  // True once one of the signals has come.
  bool Received() const { return received_; }

 signals:
  void received(int signal);

 private:
  void Read();

  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  bool received_ = false;
};

}  // namespace q9m::app
