#include "app/port_wait.h"

#include <algorithm>

#include "app/all_devices.h"
#include "platform/midi_service.h"
#include "ui/port_preselection.h"
#include "ui/update_session.h"

namespace q9m::app {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks for a stop request between the MIDI system's notices.
constexpr std::chrono::milliseconds kStopLook{100};

// A name that copy 1 to 20 of the dialog preselects.
bool NamedLikeTheDevice(const std::string& name) {
  for (int n = 1; n <= static_cast<int>(kMostDevices); ++n) {
    const auto candidates = ui::PortNameCandidates(n);
    if (std::find(candidates.begin(), candidates.end(), name) != candidates.end()) return true;
  }
  return false;
}

// "\"A\", \"B\" or \"C\"": the names that copy 1 preselects.
std::string PreferredNamesText() {
  const auto& names = ui::PreferredPortNames;
  return std::string("\"") + names[0] + "\", \"" + names[1] + "\" or \"" + names[2] + "\"";
}

std::string PortText(const char* direction, const std::optional<std::string>& wanted) {
  return wanted ? std::string("the MIDI ") + direction + " port \"" + *wanted + "\""
                : std::string("a MIDI ") + direction + " port named " + PreferredNamesText();
}

// Which of the waited ports are missing from the last lists, for the message of a wait that
// ran out.
std::string MissingText(const CliOptions& options, const RunPorts& ports) {
  if (options.all) return "no such pair appeared";
  const bool out = ChoosePort(ports.outs, options.outPort) != ui::kNoSelection;
  const bool in = ChoosePort(ports.ins, options.inPort) != ui::kNoSelection;
  if (out) return "the MIDI OUT port is there, the MIDI IN port did not appear";
  if (in) return "the MIDI IN port is there, the MIDI OUT port did not appear";
  return "neither appeared";
}

}  // namespace

int ChoosePort(const std::vector<std::string>& names, const std::optional<std::string>& wanted) {
  return wanted ? ui::FindPort(names, *wanted) : ui::PreselectPort(names, 1);
}

bool PortsPresent(const CliOptions& options, const std::vector<std::string>& outs,
                  const std::vector<std::string>& ins) {
  if (!options.all) {
    return ChoosePort(outs, options.outPort) != ui::kNoSelection &&
           ChoosePort(ins, options.inPort) != ui::kNoSelection;
  }
  return std::any_of(outs.begin(), outs.end(), [&](const std::string& name) {
    return NamedLikeTheDevice(name) && std::find(ins.begin(), ins.end(), name) != ins.end();
  });
}

std::string WaitedPortsText(const CliOptions& options) {
  if (options.all) {
    return "a MIDI OUT and a MIDI IN port of one name as a Q9m's are named (" +
           PreferredNamesText() + ", or one of them with \" (2)\" to \" (" +
           std::to_string(kMostDevices) + ")\")";
  }
  if (!options.outPort && !options.inPort) {
    return "a MIDI OUT and a MIDI IN port named " + PreferredNamesText();
  }
  return PortText("OUT", options.outPort) + " and " + PortText("IN", options.inPort);
}

RunPorts ListRunPorts(const CliOptions& options, ConsoleReport& report, const StopCheck& stop) {
  RunPorts ports;
  // Watching before the first listing: a port that comes meanwhile is told of, not missed.
  const auto watch = options.wait ? platform::WatchMidiPorts() : nullptr;
  const auto list = [&] {
    ports.outs = ui::MidiOutNames();
    ports.ins = ui::MidiInNames();
  };
  list();
  if (!watch || PortsPresent(options, ports.outs, ports.ins)) return ports;

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = options.waitSeconds
                                         ? start + std::chrono::seconds(*options.waitSeconds)
                                         : Clock::time_point::max();
  const std::string what = WaitedPortsText(options);
  report.Waiting(what, options.waitSeconds);
  // With --all: the time at which the pairs there are taken, once one is there.
  std::optional<Clock::time_point> settled;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (settled && (now >= *settled || now >= deadline)) return ports;
    if (!settled && now >= deadline) {
      report.NotStarted("waited " + std::to_string(*options.waitSeconds) + " s for " + what + "; " +
                            MissingText(options, ports) +
                            ". Nothing was sent (q9m-update-cli --list shows the ports).",
                        kExitNotStarted);
      ports.exitStatus = kExitNotStarted;
      return ports;
    }
    if (watch->Wait(std::min({now + kStopLook, settled.value_or(deadline), deadline}))) {
      const auto before = std::make_pair(ports.outs, ports.ins);
      list();
      if (!PortsPresent(options, ports.outs, ports.ins)) {
        settled.reset();
      } else if (!options.all) {
        return ports;
      } else if (!settled || before != std::make_pair(ports.outs, ports.ins)) {
        settled = Clock::now() + kSettleTime;
      }
    }
    if (const std::string who = stop(std::chrono::milliseconds(0)); !who.empty()) {
      report.NotStarted("stopped by " + who + " while waiting for " + what + ". Nothing was sent.",
                        kExitStopped);
      ports.exitStatus = kExitStopped;
      return ports;
    }
  }
}

}  // namespace q9m::app
