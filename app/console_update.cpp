// q9m-update-cli: the update from a terminal or a script, without the dialog. It lists the MIDI
// ports under the dialog's names, takes the ports that copy 1 of the dialog preselects (or the
// ones named), runs one update on the same session, worker, dispatcher and ports as the dialog,
// and reports its progress. Ctrl-C does what closing the dialog does. The exit statuses are
// those of app/cli_options.h.
#include <cstdio>
#include <string>
#include <vector>

#include "app/all_devices.h"
#include "app/cli_options.h"
#include "app/console_report.h"
#include "app/console_view.h"
#include "app/port_wait.h"
#include "app/progress_format.h"
#include "app/sleep_hold.h"
#include "app/stop_requests.h"
#include "firmware/image_origin.h"
#include "platform/midi_system.h"
#include "platform/open_refusal.h"
#include "protocol/string_table.h"
#include "ui/instance_name.h"
#include "ui/port_preselection.h"
#include "ui/update_session.h"

using namespace q9m;
using namespace q9m::app;

namespace {

using Clock = UpdateProgress::Clock;

// How often the main thread looks at the run and redraws.
constexpr auto kTick = std::chrono::milliseconds(100);

void PrintList(const std::vector<std::string>& outs, const std::vector<std::string>& ins,
               bool json) {
  const int out = ui::PreselectPort(outs, 1);
  const int in = ui::PreselectPort(ins, 1);
  if (json) {
    const auto ports = [](const std::vector<std::string>& names, int chosen) {
      std::string list = "[";
      for (size_t i = 0; i < names.size(); ++i) {
        list += std::string(i ? "," : "") + "{\"name\":" + JsonString(names[i]) +
                ",\"default\":" + (static_cast<int>(i) == chosen ? "true" : "false") + "}";
      }
      return list + "]";
    };
    std::printf("{\"event\":\"ports\",\"out\":%s,\"in\":%s}\n", ports(outs, out).c_str(),
                ports(ins, in).c_str());
    return;
  }
  const auto print = [](const char* title, const std::vector<std::string>& names, int chosen) {
    std::printf("%s\n", title);
    if (names.empty()) std::printf("  (none)\n");
    for (size_t i = 0; i < names.size(); ++i) {
      std::printf("  %c %s\n", static_cast<int>(i) == chosen ? '*' : ' ', names[i].c_str());
    }
  };
  print("MIDI OUT ports:", outs, out);
  print("MIDI IN ports:", ins, in);
  std::printf("* taken when --out or --in is not given\n");
}

std::string MissingPort(const char* direction, const std::optional<std::string>& wanted) {
  if (wanted) {
    return std::string("no MIDI ") + direction + " port is named \"" + *wanted +
           "\" (q9m-update-cli --list shows the names)";
  }
  return std::string("no MIDI ") + direction + " port named \"" + ui::PreferredPortNames[1] +
         "\" or like it was found; connect the device, or name a port with --" +
         (direction[0] == 'O' ? "out" : "in") + " (see --list)";
}

// ": <why>" for a port that could not be opened, when the MIDI system said why.
std::string Because(platform::PortDirection direction) {
  const std::string why = platform::LastOpenRefusal(direction);
  return why.empty() ? std::string() : ": " + why;
}

// Runs the update to its end, a stop signal or the time limit, then ends the worker.
int RunUpdate(ui::UpdateSession& session, ConsoleView& view, ConsoleReport& report,
              const CliOptions& options, Clock::time_point start) {
  const auto limit = start + std::chrono::seconds(options.timeoutSeconds);
  std::string stoppedBy;
  while (!view.Finished() && stoppedBy.empty() && Clock::now() < limit) {
    stoppedBy = WaitForStopRequest(kTick);
    report.Progress(view.Snapshot(Clock::now()), Clock::now());
  }
  // As when the dialog closes: the ports close, a waiting worker wakes to status 255 and ends
  // without sending anything more; then its thread is collected.
  session.Close();
  const ProgressSnapshot last = view.Snapshot(Clock::now());
  if (last.phase == UpdatePhase::Completed) {
    report.Finished(RunOutcome::Completed, last, kExitCompleted,
                    protocol::LoadString(protocol::IDS_UPDATE_COMPLETED));
    return kExitCompleted;
  }
  if (last.errorId != 0) {
    // Nothing but the identity request went out before the device was accepted.
    const int status = last.phase == UpdatePhase::Identifying ? kExitNotStarted : kExitFailed;
    report.Finished(RunOutcome::Failed, last, status,
                    std::string(protocol::LoadString(last.errorId)) +
                        (last.errorDetail.empty() ? "" : " (" + last.errorDetail + ")"));
    return status;
  }
  if (!stoppedBy.empty()) {
    report.Finished(RunOutcome::Stopped, last, kExitStopped, stoppedBy);
    return kExitStopped;
  }
  report.Finished(RunOutcome::GaveUp, last, kExitFailed,
                  std::to_string(options.timeoutSeconds) + " s");
  return kExitFailed;
}

int Update(const CliOptions& options, const std::vector<std::string>& outs,
           const std::vector<std::string>& ins) {
  ConsoleReport report(ConsoleReport::StyleFor(stdout, options.json), stdout, stderr);
  const int out = ChoosePort(outs, options.outPort);
  const int in = ChoosePort(ins, options.inPort);
  if (out == ui::kNoSelection || in == ui::kNoSelection) {
    report.NotStarted(out == ui::kNoSelection ? MissingPort("OUT", options.outPort)
                                              : MissingPort("IN", options.inPort),
                      kExitNotStarted);
    return kExitNotStarted;
  }

  // A route through a bridge known to cut long messages would damage blocks: said before
  // anything is sent, and taken only when asked for.
  if (const std::string warning = ui::PortRouteWarning(out, in); !warning.empty()) {
    if (!options.throughBridge) {
      report.NotStarted(warning + "\nNothing was sent; --through-bridge goes ahead all the same.",
                        kExitNotStarted);
      return kExitNotStarted;
    }
    std::fprintf(stderr, "%s\n", warning.c_str());
  }

  ui::UpdateSession session;
  session.SetVerifyAfterWriting(options.verify);
  session.SetHoldWhileWriting(SleepHoldWhileWriting(NoticeOnStandardError("q9m-update-cli")));
  const Clock::time_point start = Clock::now();
  ConsoleView view(session, start);
  session.StartTimer();
  switch (session.Execute(out, in, view)) {
    case ui::UpdateSession::ExecuteResult::Started:
      break;
    case ui::UpdateSession::ExecuteResult::CantOpenOut:
      report.NotStarted(std::string(protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_OUT)) +
                            " (\"" + outs[static_cast<size_t>(out)] + "\")" +
                            Because(platform::PortDirection::Output),
                        kExitNotStarted);
      return kExitNotStarted;
    case ui::UpdateSession::ExecuteResult::CantOpenIn:
      report.NotStarted(std::string(protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_IN)) +
                            " (\"" + ins[static_cast<size_t>(in)] + "\")" +
                            Because(platform::PortDirection::Input),
                        kExitNotStarted);
      return kExitNotStarted;
    case ui::UpdateSession::ExecuteResult::StandInImages:
      report.NotStarted(firmware::StandInRefusalText(), kExitNotStarted);
      return kExitNotStarted;
    case ui::UpdateSession::ExecuteResult::Busy:
      report.NotStarted(protocol::LoadString(protocol::IDS_IN_PROGRESS), kExitNotStarted);
      return kExitNotStarted;
    case ui::UpdateSession::ExecuteResult::NoThread:
      report.NotStarted(std::string(protocol::LoadString(protocol::IDS_TRANSFER_ERROR)) +
                            " (the update's thread could not be started)",
                        kExitNotStarted);
      return kExitNotStarted;
  }
  report.Started(outs[static_cast<size_t>(out)], ins[static_cast<size_t>(in)],
                 firmware::ImageOriginText());
  return RunUpdate(session, view, report, options, start);
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedCliOptions parsed = ParseCliOptions(ProgramArguments(argc, argv));
  if (!parsed.options) {
    std::fprintf(stderr, "q9m-update-cli: %s\nTry 'q9m-update-cli --help'.\n",
                 parsed.error.c_str());
    return kExitNotStarted;
  }
  const CliOptions& options = *parsed.options;
  if (options.action == CliOptions::Action::Help) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitCompleted;
  }
  if (options.action == CliOptions::Action::Version) {
    std::printf("q9m-update-cli %s\n%s (%s)\n", Q9M_VERSION, ui::kProgramTitle,
                firmware::ImageOriginText().c_str());
    return kExitCompleted;
  }

  // Before any other thread starts, so that every thread leaves the stop requests to the
  // main thread.
  TakeOverStopRequests();

  std::string error;
  // A client name of this process's own: a JACK server fails one of two clients that open under
  // one name at the same moment, as copies started together by a script would.
  if (!platform::StartRealMidiService("q9m-update-cli-" + std::to_string(CurrentProcessId()),
                                      &error)) {
    ConsoleReport(ConsoleReport::StyleFor(stdout, options.json), stdout, stderr)
        .NotStarted(error, kExitNotStarted);
    return kExitNotStarted;
  }
  ConsoleReport report(ConsoleReport::StyleFor(stdout, options.json), stdout, stderr);
  // With --wait, until the ports are there; a wait that runs out or is stopped has been reported.
  const RunPorts ports = ListRunPorts(options, report, WaitForStopRequest);
  int status = ports.exitStatus;
  if (options.action == CliOptions::Action::List) {
    PrintList(ports.outs, ports.ins, options.json);
  } else if (status == kExitCompleted) {
    status = options.all ? UpdateAllDevices(options, ports.outs, ports.ins)
                         : Update(options, ports.outs, ports.ins);
  }
  platform::StopMidiService();
  return status;
}
