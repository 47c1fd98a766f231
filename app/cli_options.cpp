#include "app/cli_options.h"

#include <cerrno>
#include <cstdlib>

namespace q9m::app {

namespace {

ParsedCliOptions Error(std::string text) {
  return {std::nullopt, std::move(text)};
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
    if (takesValue && !value) {
      if (i + 1 >= args.size()) return Error(name + " needs a value");
      value = args[++i];
    } else if (!takesValue && value) {
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
  return {options, {}};
}

std::string HelpText() {
  return "usage: q9m-update-cli [--in NAME] [--out NAME] [--json] [--timeout SECONDS]\n"
         "                      [--verify] [--through-bridge]\n"
         "       q9m-update-cli --all [--json] [--timeout SECONDS] [--verify] [--through-bridge]\n"
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
         "\n"
         "Exit status: 0 completed; 1 failed after the device was identified; 2 could\n"
         "not start (arguments, MIDI system, ports, or no accepted device answered);\n"
         "3 stopped by the user. With --all: 0 only when every port pair tried completed (a\n"
         "skipped pair counts against it: it may be a Q9m that answered wrongly); 2 when no\n"
         "pair was found, or none was a Q9m, and nothing was erased; 1 otherwise; 3 stopped.\n";
}

}  // namespace q9m::app
