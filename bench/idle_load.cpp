// idle_load MODE: one idle load, run until the process is ended (dev/measure-idle-cpu measures
// its CPU time from outside):
//   dialog  the updater's dialog shown (offscreen unless QT_QPA_PLATFORM names another
//           platform) on the in-process MIDI service with the simulated device on its ports,
//           waiting for Execute: its 1 ms timer runs the reply dispatcher, as in the program
//   timer   the same 1 ms timer and idle dispatcher, without Qt and without the dialog
//   grid    a bare loop sleeping to absolute deadlines 1 ms apart: the same 1,000 wake-ups
//           per second as the timer, with nothing else
//   sleep   a bare loop of 1 ms relative sleeps (each wake-up's latency adds to the period)
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "bench/update_run.h"
#include "ui/main_dialog.h"
#include "ui/update_session.h"

namespace {

using namespace q9m;

void Ready(const char* mode) {
  std::printf("idle_load %s: ready\n", mode);
  std::fflush(stdout);
}

[[noreturn]] void SleepLoop() {
  for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

[[noreturn]] void GridLoop() {
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (;;) {
    next.tv_nsec += 1'000'000;
    if (next.tv_nsec >= 1'000'000'000) {
      next.tv_nsec -= 1'000'000'000;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
}

int Usage() {
  std::fprintf(stderr, "usage: idle_load dialog|timer|grid|sleep\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  const char* mode = argv[1];
  if (std::strcmp(mode, "sleep") == 0) {
    Ready(mode);
    SleepLoop();
  }
  if (std::strcmp(mode, "grid") == 0) {
    Ready(mode);
    GridLoop();
  }
  if (std::strcmp(mode, "timer") == 0) {
    protocol::DeviceState device;
    ui::UpdateSession session(device);
    session.StartTimer();
    Ready(mode);
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  if (std::strcmp(mode, "dialog") == 0) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    bench::VirtualMidi midi;
    devsim::VirtualDevice simulated(midi.Service(), "USB Audio Device", {});
    protocol::DeviceState device;
    ui::CK2pUpdatorDlg dialog(1, device);
    dialog.show();
    Ready(mode);
    return app.exec();
  }
  return Usage();
}
