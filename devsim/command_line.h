// The options of q9m-devsim: port names, the device's faults (mirroring DeviceOptions), and
// when to stop.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devsim/simulated_device.h"

namespace q9m::devsim {

inline constexpr const char* kDefaultPortName = "USB Audio Device";

struct CommandLine {
  DeviceOptions device;
  std::string inPort = kDefaultPortName;   // the device listens here (the host's output)
  std::string outPort = kDefaultPortName;  // the device answers here (the host's input)
  std::string clientSuffix;                // appended to the MIDI client names
  std::optional<std::string> rawDevice;    // serve on this raw MIDI device instead of ports
  uint32_t intakeBytesPerSecond = 0;       // raw input taken in at most at this rate (0: all)
  uint64_t intakeSlowBytes = 0;            // ... for only this many first bytes (0: all)
  bool exitAfterEnd = false;
  double timeoutSeconds = 0;            // 0: run until a signal
  std::optional<std::string> jsonPath;  // "-": standard output
  bool help = false;
};

struct ParsedCommandLine {
  std::optional<CommandLine> line;  // nothing on error
  std::string error;
};

// `args` without the program name.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string Usage(const std::string& program);

}  // namespace q9m::devsim
