// A complete update through the real dialog (Qt, offscreen unless QT_QPA_PLATFORM names
// another platform) next to the same update through the worker alone, both against the
// simulated device on the in-process MIDI service with an instant link. What the dialog adds
// is its handling of the worker's view calls: each is queued onto the dialog's thread, which
// sets the texts and the progress bar and paints.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>

#include "bench/update_run.h"
#include "ui/main_dialog.h"

namespace {

using namespace q9m;
using Clock = std::chrono::steady_clock;

// Wall time from pressing Execute until the dialog reports the end of the press.
void BM_UpdateThroughDialog(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    bench::VirtualMidi midi;
    devsim::VirtualDevice device(midi.Service(), "USB Audio Device", {});
    protocol::DeviceState deviceState;
    bool completed = false;
    QString outcome;
    double seconds = 0;
    {
      ui::CK2pUpdatorDlg dialog(1, deviceState);
      dialog.show();
      QEventLoop loop;
      // An error box would wait for a user: record it and close it.
      QObject::connect(&dialog, &ui::CK2pUpdatorDlg::errorBoxShown, &dialog, [](QMessageBox* box) {
        QTimer::singleShot(0, box, [box] { box->accept(); });
      });
      QObject::connect(&dialog, &ui::CK2pUpdatorDlg::executeEnded, &loop,
                       [&](bool done, const QString& text) {
                         completed = done;
                         outcome = text;
                         loop.quit();
                       });
      QTimer::singleShot(std::chrono::milliseconds(300'000), &loop, &QEventLoop::quit);
      auto* execute = dialog.findChild<QPushButton*>(QStringLiteral("control1"));
      if (execute == nullptr) {
        state.SkipWithError("the dialog has no Execute button");
        return;
      }
      const auto pressed = Clock::now();
      execute->click();
      loop.exec();
      seconds = std::chrono::duration<double>(Clock::now() - pressed).count();
    }  // the dialog closes its session before the device goes
    device.Device().WaitIdle(10'000);
    const devsim::DeviceReport report = device.Report();
    if (!completed || !report.Passed()) {
      const std::string why = completed ? "the device did not verify the update"
                                        : "no completion: " + outcome.toStdString();
      state.SkipWithError(why.c_str());
      return;
    }
    state.SetIterationTime(seconds);
    total += seconds;
  }
  state.counters["wall_s"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_UpdateThroughDialog)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Wall time from Execute until the worker gives the controls back, with no dialog.
void BM_UpdateThroughWorkerAlone(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    const bench::UpdateResult run = bench::RunWorkerUpdate({});
    if (const std::string failure = run.Failure(); !failure.empty()) {
      state.SkipWithError(failure.c_str());
      return;
    }
    state.SetIterationTime(run.wallSeconds);
    total += run.wallSeconds;
  }
  state.counters["wall_s"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_UpdateThroughWorkerAlone)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
