#include "devsim/command_line.h"

#include <charconv>
#include <cstdlib>

namespace q9m::devsim {

namespace {

// A whole unsigned number: decimal, or hexadecimal after 0x.
std::optional<uint64_t> Number(const std::string& text) {
  int base = 10;
  size_t at = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  }
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + at, end, value, base);
  if (ec != std::errc() || ptr != end || at == text.size()) return std::nullopt;
  return value;
}

std::optional<uint32_t> Number32(const std::string& text) {
  const auto value = Number(text);
  if (!value || *value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// The fault for the block named by `which` (an index, or @address), merged with any earlier
// option for the same block.
BlockFault* FaultFor(DeviceOptions& options, const std::string& which) {
  BlockFault wanted;
  if (!which.empty() && which[0] == '@') {
    const auto address = Number32(which.substr(1));
    if (!address) return nullptr;
    wanted.address = address;
  } else {
    const auto index = Number32(which);
    if (!index) return nullptr;
    wanted.blockIndex = index;
  }
  for (BlockFault& fault : options.blockFaults) {
    if (fault.address == wanted.address && fault.blockIndex == wanted.blockIndex) return &fault;
  }
  options.blockFaults.push_back(wanted);
  return &options.blockFaults.back();
}

}  // namespace

std::string Usage(const std::string& program) {
  return "usage: " + program +
         " [options]\n"
         "Runs a simulated Q9m on MIDI ports until a signal, --timeout or --exit-after-end.\n"
         "Exit status: 0 for a complete, verified update without protocol violations,\n"
         "1 otherwise, 2 for bad options.\n"
         "\n"
         "ports:\n"
         "  --port NAME             both port names (default \"USB Audio Device\")\n"
         "  --in-port NAME          the port the device listens on (the updater's output)\n"
         "  --out-port NAME         the port the device answers through (the updater's input)\n"
         "  --client-suffix TEXT    appended to the MIDI client names (JACK: q9m-devsim-in\n"
         "                          and -out; ALSA sequencer: the port names)\n"
         "  --raw DEVICE            serve on a raw MIDI device instead (an emulated USB\n"
         "                          device's gadget end or a VirMIDI port): hw:CARD,DEV, or a\n"
         "                          card id for its first device\n"
         "  --intake-rate BYTES[:FIRST]  with --raw: take in at most BYTES per second, as a\n"
         "                          device busy writing its flash (only the FIRST bytes if given)\n"
         "device:\n"
         "  --code HEX8             device code, e.g. 4B000000 (default 4A000000)\n"
         "  --not-in-update-mode    answer BeginUpdate with status 0B\n"
         "  --version-matches       the boot image is current: rows 3 and 4 must be skipped\n"
         "faults (BLOCK is a block index in arrival order, or @ADDRESS):\n"
         "  --refuse-block BLOCK[:N[:STATUS]]  refuse the block's first N sends (1; status 01)\n"
         "  --silent-block BLOCK[:N]           write it but lose the next N replies (1)\n"
         "  --late-block BLOCK[:N[:MS]]        send the next N replies MS late (1; 1500 ms)\n"
         "  --corrupt-block BLOCK[:N]          acknowledge the next N sends but store the\n"
         "                                     block with its middle byte changed (1)\n"
         "  --refuse-erases N       refuse the first N erase requests with status 01\n"
         "  --erase-never-answers   carry out erases but never answer them\n"
         "  --silent-erase K        only erase request K (0-based) goes unanswered\n"
         "  --reply-delay MS        every reply MS later\n"
         "  --erase-ms-per-64k MS   erasing takes MS per 64 KiB\n"
         "  --link-rate BYTES       each message spends size/BYTES seconds on the wire\n"
         "  --unsolicited           send messages the updater must ignore before each reply\n"
         "  --own-requests          send the device's own requests and check the answers\n"
         "  --own-request-every N   blocks between own requests (100)\n"
         "ending:\n"
         "  --exit-after-end        exit once EndUpdate is handled\n"
         "  --timeout SECONDS       exit after this long\n"
         "  --json FILE             also write the report as JSON (- for standard output)\n"
         "  --help                  this text\n";
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  DeviceOptions& d = line.device;
  auto fail = [](std::string error) { return ParsedCommandLine{std::nullopt, std::move(error)}; };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto number = [&]() -> std::optional<uint32_t> {
      const auto text = value();
      return text ? Number32(*text) : std::nullopt;
    };
    // Options without a value.
    if (option == "--help" || option == "-h") {
      line.help = true;
    } else if (option == "--not-in-update-mode") {
      d.updateMode = false;
    } else if (option == "--version-matches") {
      d.versionMatches = true;
    } else if (option == "--erase-never-answers") {
      d.eraseNeverAnswers = true;
    } else if (option == "--unsolicited") {
      d.unsolicitedBetweenReplies = true;
    } else if (option == "--own-requests") {
      d.sendOwnRequests = true;
    } else if (option == "--exit-after-end") {
      line.exitAfterEnd = true;
    } else if (option == "--port" || option == "--in-port" || option == "--out-port" ||
               option == "--client-suffix" || option == "--json") {
      const auto text = value();
      if (!text || (option != "--client-suffix" && text->empty())) {
        return fail(option + " needs a value");
      }
      if (option == "--port" || option == "--in-port") line.inPort = *text;
      if (option == "--port" || option == "--out-port") line.outPort = *text;
      if (option == "--client-suffix") line.clientSuffix = *text;
      if (option == "--json") line.jsonPath = *text;
    } else if (option == "--raw") {
      const auto text = value();
      if (!text || text->empty()) return fail("--raw needs a raw MIDI device");
      line.rawDevice = *text;
    } else if (option == "--intake-rate") {
      const auto text = value();
      const std::vector<std::string> parts = Split(text.value_or(""), ':');
      const auto rate = Number32(parts[0]);
      const auto first = parts.size() > 1 ? Number(parts[1]) : std::optional<uint64_t>(0);
      if (!rate || *rate == 0 || !first || parts.size() > 2) {
        return fail("--intake-rate needs BYTES_PER_SECOND[:FIRST_BYTES], e.g. 8000:200000");
      }
      line.intakeBytesPerSecond = *rate;
      line.intakeSlowBytes = *first;
    } else if (option == "--code") {
      const auto text = value();
      const auto code = text && text->size() == 8 ? Number("0x" + *text) : std::nullopt;
      if (!code) return fail("--code needs eight hex digits, e.g. 4A000000");
      for (int k = 0; k < 4; ++k) d.code[k] = static_cast<uint8_t>(*code >> (24 - 8 * k));
    } else if (option == "--refuse-block" || option == "--silent-block" ||
               option == "--late-block" || option == "--corrupt-block") {
      const auto text = value();
      if (!text) return fail(option + " needs a block");
      const std::vector<std::string> parts = Split(*text, ':');
      const size_t most = option == "--silent-block" || option == "--corrupt-block" ? 2 : 3;
      BlockFault* fault = parts.size() <= most ? FaultFor(d, parts[0]) : nullptr;
      const auto times = parts.size() > 1 ? Number32(parts[1]) : std::optional<uint32_t>(1);
      std::optional<uint32_t> extra;
      if (parts.size() > 2) extra = Number32(parts[2]);
      if (!fault || !times || (parts.size() > 2 && !extra) || *times > 1000000) {
        return fail(option + ": bad value '" + *text + "'");
      }
      const int n = static_cast<int>(*times);
      if (option == "--refuse-block") {
        fault->refuse = n;
        if (extra) {
          if (*extra == 0 || *extra > 0x7F) return fail(option + ": status must be 01 to 7F");
          fault->refuseStatus = static_cast<uint8_t>(*extra);
        }
      } else if (option == "--silent-block") {
        fault->silent = n;
      } else if (option == "--corrupt-block") {
        fault->corrupt = n;
      } else {
        fault->late = n;
        fault->lateMs = extra.value_or(fault->lateMs);
      }
    } else if (option == "--refuse-erases" || option == "--silent-erase" ||
               option == "--reply-delay" || option == "--erase-ms-per-64k" ||
               option == "--link-rate" || option == "--own-request-every") {
      const auto n = number();
      if (!n) return fail(option + " needs a whole number");
      if (option == "--refuse-erases") d.refuseErases = static_cast<int>(*n);
      if (option == "--silent-erase") {
        d.eraseNeverAnswers = true;
        d.onlyErase = *n;
      }
      if (option == "--reply-delay") d.replyDelayMs = *n;
      if (option == "--erase-ms-per-64k") d.eraseMsPer64KiB = *n;
      if (option == "--link-rate") d.linkBytesPerSecond = *n;
      if (option == "--own-request-every") d.ownRequestEveryBlocks = *n;
    } else if (option == "--timeout") {
      const auto text = value();
      char* end = nullptr;
      const double seconds = text ? std::strtod(text->c_str(), &end) : -1;
      if (!text || text->empty() || *end != '\0' || !(seconds > 0)) {
        return fail("--timeout needs a positive number of seconds");
      }
      line.timeoutSeconds = seconds;
    } else {
      return fail("unknown option '" + option + "'");
    }
  }
  if (line.intakeBytesPerSecond > 0 && !line.rawDevice) {
    return fail("--intake-rate works only with --raw");
  }
  return {line, ""};
}

}  // namespace q9m::devsim
