#include "app/all_devices.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "app/console_report.h"
#include "app/console_view.h"
#include "app/progress_format.h"
#include "app/sleep_hold.h"
#include "app/stop_requests.h"
#include "app/summary_table.h"
#include "app/terminal.h"
#include "firmware/image_origin.h"
#include "protocol/string_table.h"
#include "ui/instance_name.h"
#include "ui/port_preselection.h"
#include "ui/update_session.h"

namespace q9m::app {

namespace {

using Clock = UpdateProgress::Clock;

constexpr auto kTick = std::chrono::milliseconds(100);

struct Device {
  Device(PortPair pair, ReportStyle style, Clock::time_point start)
      : pair(std::move(pair)), session(state), view(session, start), report(style, stdout, stderr) {
    report.SetDevice(this->pair.name);
    run.ports = this->pair.name;
  }
  PortPair pair;
  protocol::DeviceState state;  // each device its own code and read-back buffer
  ui::UpdateSession session;
  ConsoleView view;
  ConsoleReport report;
  bool running = false;
  ProgressSnapshot last;
  DeviceRun run;
};

std::string CodeText(const protocol::DeviceCode& code) {
  const auto bytes = code.Get();
  if (bytes == protocol::DeviceCodeBytes{}) return "";
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

// The worker's error, and what it found there.
std::string ErrorMessage(const ProgressSnapshot& s) {
  return std::string(protocol::LoadString(s.errorId)) +
         (s.errorDetail.empty() ? "" : " (" + s.errorDetail + ")");
}

// For the summary: also where it happened.
std::string ErrorText(const ProgressSnapshot& s) {
  return s.errorId == 0 ? "" : WhereText(s) + ": " + ErrorMessage(s);
}

// One line per device, redrawn in place: the block of lines is drawn over on every call.
void DrawTerminal(const std::vector<std::unique_ptr<Device>>& devices, bool redraw,
                  Clock::time_point now) {
  size_t nameWidth = 0;
  for (const auto& d : devices) nameWidth = std::max(nameWidth, d->pair.name.size());
  const size_t width = TerminalLineWidth(stdout);
  if (redraw) std::printf("\x1b[%zuA", devices.size());
  for (const auto& d : devices) {
    std::string text;
    if (d->running) {
      text =
          TerminalLine(d->view.Snapshot(now), width > nameWidth + 2 ? width - nameWidth - 2 : 20);
    } else {
      text = ResultName(d->run.result);
      if (!d->run.firstError.empty()) text += ": " + d->run.firstError;
      text = text.substr(0, width > nameWidth + 2 ? width - nameWidth - 2 : 20);
    }
    std::printf("\r%-*s  %s\x1b[K\n", static_cast<int>(nameWidth), d->pair.name.c_str(),
                text.c_str());
  }
  std::fflush(stdout);
}

// Marks the device running when `result` is Started, else refused with the reason.
void MarkStarted(Device& d, ui::UpdateSession::ExecuteResult result) {
  const std::string problem = ui::UpdateSession::RefusalText(result);
  d.running = problem.empty();
  if (!d.running) {
    d.run.result = DeviceResult::Refused;
    d.run.firstError = problem + " (\"" + d.pair.name + "\")";
  }
}

// Ends a device's record from what its worker showed last.
void Conclude(Device& d, bool stopped) {
  d.run.result = ResultOf(d.last, stopped);
  d.run.seconds = d.last.elapsedSeconds;
  d.run.deviceCode = CodeText(d.state.deviceCode);
  d.run.firstError = ErrorText(d.last);
}

// `stoppedBy`: who asked the run to stop, or empty.
void ReportEnd(Device& d, const CliOptions& options, const std::string& stoppedBy) {
  const ProgressSnapshot& s = d.last;
  switch (d.run.result) {
    case DeviceResult::Completed:
      d.report.Finished(RunOutcome::Completed, s, kExitCompleted,
                        protocol::LoadString(protocol::IDS_UPDATE_COMPLETED));
      return;
    case DeviceResult::Failed:
    case DeviceResult::Skipped:
    case DeviceResult::Refused:
      d.report.Finished(RunOutcome::Failed, s,
                        d.run.result == DeviceResult::Failed ? kExitFailed : kExitNotStarted,
                        s.errorId != 0 ? ErrorMessage(s) : d.run.firstError);
      return;
    case DeviceResult::Stopped:
      d.report.Finished(RunOutcome::Stopped, s, kExitStopped, stoppedBy);
      return;
    case DeviceResult::TimedOut:
      d.report.Finished(RunOutcome::GaveUp, s, kExitFailed,
                        std::to_string(options.timeoutSeconds) + " s");
      return;
  }
}

}  // namespace

int UpdateAllDevices(const CliOptions& options, const std::vector<std::string>& outs,
                     const std::vector<std::string>& ins) {
  const ReportStyle style = ConsoleReport::StyleFor(stdout, options.json);
  ConsoleReport whole(style, stdout, stderr);
  std::vector<PortPair> pairs = PairPortsByName(outs, ins);
  if (pairs.empty()) {
    whole.NotStarted(
        "--all found no MIDI OUT and MIDI IN ports of one name; connect the devices "
        "(q9m-update-cli --list shows the ports). Nothing was sent.",
        kExitNotStarted);
    return kExitNotStarted;
  }
  if (!firmware::UpdatesAllowed()) {
    whole.NotStarted(firmware::StandInRefusalText(), kExitNotStarted);
    return kExitNotStarted;
  }

  // One hold for the process, taken by whichever worker erases first; calls from the workers
  // are one at a time.
  auto hold = SleepHoldWhileWriting(NoticeOnStandardError("q9m-update-cli"));
  auto holdLock = std::make_shared<std::mutex>();
  const auto sharedHold = [hold, holdLock] {
    std::lock_guard lock(*holdLock);
    return hold();
  };

  const Clock::time_point start = Clock::now();
  std::vector<std::unique_ptr<Device>> devices;
  for (size_t n = 0; n < pairs.size(); ++n) {
    auto d = std::make_unique<Device>(pairs[n], style, start);
    if (n >= kMostDevices) {
      d->run.result = DeviceResult::Refused;
      d->run.firstError = "not updated: --all updates at most 20 devices";
    } else if (const std::string warning = ui::PortRouteWarning(d->pair.out, d->pair.in);
               !warning.empty() && !options.throughBridge) {
      d->run.result = DeviceResult::Refused;
      d->run.firstError = warning + " Nothing was sent; --through-bridge goes ahead all the same.";
    } else {
      d->session.SetVerifyAfterWriting(options.verify);
      d->session.SetHoldWhileWriting(sharedHold);
      d->session.StartTimer();
      MarkStarted(*d, d->session.OpenPorts(d->pair.out, d->pair.in));
    }
    devices.push_back(std::move(d));
  }
  // Every port is open before the first worker sends: a JACK graph reshaped by a later open
  // could otherwise drop a message to a device that is already being written.
  for (auto& d : devices) {
    if (d->running) MarkStarted(*d, d->session.Start(d->view));
  }

  if (style == ReportStyle::Terminal) {
    std::printf("%s, %s\nUpdating %zu port pairs side by side\n", ui::kProgramTitle,
                firmware::ImageOriginText().c_str(), devices.size());
    DrawTerminal(devices, false, Clock::now());
  } else {
    for (auto& d : devices) {
      if (d->running) {
        d->report.Started(d->pair.name, d->pair.name, firmware::ImageOriginText());
      } else {
        d->report.NotStarted(d->run.firstError, kExitNotStarted);
      }
    }
  }

  const auto limit = start + std::chrono::seconds(options.timeoutSeconds);
  const auto anyRunning = [&] {
    for (const auto& d : devices) {
      if (d->running) return true;
    }
    return false;
  };
  std::string stoppedBy;
  while (anyRunning() && stoppedBy.empty() && Clock::now() < limit) {
    stoppedBy = WaitForStopRequest(kTick);
    const Clock::time_point now = Clock::now();
    for (auto& d : devices) {
      if (!d->running) continue;
      if (style != ReportStyle::Terminal) d->report.Progress(d->view.Snapshot(now), now);
      if (!d->view.Finished()) continue;
      // Its worker has ended: its ports close now, while the others go on.
      d->session.Close();
      d->last = d->view.Snapshot(now);
      d->running = false;
      Conclude(*d, false);
      if (style != ReportStyle::Terminal) ReportEnd(*d, options, {});
    }
    if (style == ReportStyle::Terminal) DrawTerminal(devices, true, now);
  }
  // A stop request or the time limit: the rest end as when the dialog closes.
  for (auto& d : devices) {
    if (!d->running) continue;
    d->session.Close();
    d->last = d->view.Snapshot(Clock::now());
    d->running = false;
    Conclude(*d, !stoppedBy.empty());
    if (style != ReportStyle::Terminal) ReportEnd(*d, options, stoppedBy);
  }
  if (style == ReportStyle::Terminal) DrawTerminal(devices, true, Clock::now());

  std::vector<DeviceRun> runs;
  for (const auto& d : devices) runs.push_back(d->run);
  const int status = AllDevicesExitStatus(runs, !stoppedBy.empty());
  if (style == ReportStyle::Json) {
    std::printf("%s\n", SummaryJson(runs, status).c_str());
  } else {
    std::printf("\n%s", SummaryTable(runs).c_str());
  }
  std::fflush(stdout);
  return status;
}

}  // namespace q9m::app
