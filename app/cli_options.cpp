#include "app/cli_options.h"

#include <cerrno>
#include <cstdlib>

namespace q9m::app {

namespace {

ParsedCliOptions Error(std::string text) {
  return {std::nullopt, std::move(text)};
}

// Whether `arg` is the value of an option that may go without one: any argument but an option
// ("-5" is a value, and a wrong one).
bool IsOptionalValue(const std::string& arg) {
  return arg.empty() || arg[0] != '-' || (arg.size() > 1 && arg[1] >= '0' && arg[1] <= '9');
}

// SECONDS of --wait: 0 to kMaxWaitSeconds, as a whole number. Nothing, with the reason in
// *error, otherwise.
std::optional<long> WaitSeconds(const std::string& value, std::string* error) {
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || seconds < 0) {
    *error = "--wait takes a whole number of seconds from 0 to " + std::to_string(kMaxWaitSeconds) +
             ", not \"" + value + "\"";
    return std::nullopt;
  }
  if (seconds > kMaxWaitSeconds) {
    *error = "--wait takes at most " + std::to_string(kMaxWaitSeconds) + " seconds (a day), not " +
             value + "; without SECONDS it waits without limit";
    return std::nullopt;
  }
  return seconds;
}

}  // namespace

ParsedCliOptions ParseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != name.npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    const bool takesValue = name == "--in" || name == "--out" || name == "--timeout";
    const bool mayTakeValue = name == "--wait";
    if (takesValue && !value) {
      if (i + 1 >= args.size()) return Error(name + " needs a value");
      value = args[++i];
    } else if (mayTakeValue && !value && i + 1 < args.size() && IsOptionalValue(args[i + 1])) {
      value = args[++i];
    } else if (!takesValue && !mayTakeValue && value) {
      return Error(name + " takes no value");
    }

    if (name == "--in") {
      options.inPort = *value;
    } else if (name == "--out") {
      options.outPort = *value;
    } else if (name == "--timeout") {
      char* end = nullptr;
      errno = 0;
      const long seconds = std::strtol(value->c_str(), &end, 10);
      if (value->empty() || *end != '\0' || errno != 0 || seconds <= 0) {
        return Error("--timeout needs a whole number of seconds above 0, not \"" + *value + "\"");
      }
      options.timeoutSeconds = seconds;
    } else if (name == "--wait") {
      options.wait = true;
      options.waitSeconds.reset();
      if (value) {
        std::string error;
        options.waitSeconds = WaitSeconds(*value, &error);
        if (!options.waitSeconds) return Error(error);
        // Not waiting at all: the ports must be there now, as without --wait.
        if (*options.waitSeconds == 0) options.wait = false;
      }
    } else if (name == "--all") {
      options.all = true;
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--verify") {
      options.verify = true;
    } else if (name == "--through-bridge") {
      options.throughBridge = true;
    } else if (name == "--list" || name == "-l") {
      options.action = CliOptions::Action::List;
    } else if (name == "--help" || name == "-h") {
      options.action = CliOptions::Action::Help;
    } else if (name == "--version" || name == "-V") {
      options.action = CliOptions::Action::Version;
    } else {
      return Error("unknown argument \"" + args[i] + "\"");
    }
  }
  if (options.all && (options.inPort || options.outPort)) {
    return Error("--all takes every port pair; it cannot be given with --in or --out");
  }
  if (options.wait && options.action == CliOptions::Action::List) {
    return Error("--wait waits for the ports of an update; it cannot be given with --list");
  }
  return {options, {}};
}

std::string HelpText() {
  return "usage: q9m-update-cli [--in NAME] [--out NAME] [--wait [SECONDS]] [--json]\n"
         "                      [--timeout SECONDS] [--verify] [--through-bridge]\n"
         "       q9m-update-cli --all [--wait [SECONDS]] [--json] [--timeout SECONDS]\n"
         "                      [--verify] [--through-bridge]\n"
         "       q9m-update-cli --list [--json]\n"
         "       q9m-update-cli --help | --version\n"
         "\n"
         "Updates the firmware of a VELA Q9m over MIDI, as the Q9m updater's dialog does.\n"
         "Without --in and --out it takes the ports that the first copy of the dialog\n"
         "preselects (a device named \"USB Audio Device\").\n"
         "\n"
         "  --in NAME          the MIDI IN port the device answers on, as --list names it\n"
         "  --out NAME         the MIDI OUT port to the device, as --list names it\n"
         "  --all              update every device at once: each MIDI OUT port is paired with\n"
         "                     the MIDI IN port of the same name, and every pair that\n"
         "                     answers the identity request with a Q9m's code is updated,\n"
         "                     side by side, up to 20; a pair that answers another code or\n"
         "                     none is skipped (nothing erased on it). One line per device,\n"
         "                     and a table at the end\n"
         "  --wait [SECONDS]   when the ports are not there yet, wait for them, then start\n"
         "                     as if they had been: for the ports that --in and --out name\n"
         "                     (or the default ones); with --all, for one MIDI OUT and MIDI\n"
         "                     IN port of one name as a Q9m's ports are named (\"USB Audio\n"
         "                     Device\", \"VELA T Series\", their Japanese form, or any of these\n"
         "                     with \" (2)\" to \" (20)\"), and then until no port has come or\n"
         "                     gone for 2 s, so that devices plugged in together are all\n"
         "                     taken; every pair there then is tried. Without SECONDS it\n"
         "                     waits until Ctrl-C; at most 86400; 0 does not wait. Nothing is\n"
         "                     sent while waiting, and a wait that runs out ends with status\n"
         "                     2. The wait does not count towards --timeout\n"
         "  -l, --list         list the MIDI ports; '*' marks those taken by default\n"
         "  --json             one JSON object per line on standard output\n"
         "  --timeout SECONDS  give up on an update that takes longer (1800)\n"
         "  --verify           after the last row, read every written range back and\n"
         "                     compare it with the image; a 4 KiB sector that differs is\n"
         "                     erased and written again once. Off by default: whether a\n"
         "                     real device answers reads beyond the version check is not\n"
         "                     known, and a device that does not makes the update fail\n"
         "                     before EndUpdate\n"
         "  --through-bridge   update even over ports behind a bridge known to cut long\n"
         "                     messages (without it, such a route is refused)\n"
         "  -h, --help         this text\n"
         "  -V, --version      the program's version and the firmware images it carries\n"
         "\n"
         "Ctrl-C stops the update at its next wait; nothing more is sent to the device.\n"
         "While --wait waits, Ctrl-C ends the program at once, with status 3.\n"
         "\n"
         "Exit status: 0 completed; 1 failed after the device was identified; 2 could\n"
         "not start (arguments, MIDI system, ports not there or not there in time, or no\n"
         "accepted device answered);\n"
         "3 stopped by the user. With --all: 0 only when every port pair tried completed (a\n"
         "skipped pair counts against it: it may be a Q9m that answered wrongly); 2 when no\n"
         "pair was found, or none was a Q9m, and nothing was erased; 1 otherwise; 3 stopped.\n";
}

}  // namespace q9m::app
