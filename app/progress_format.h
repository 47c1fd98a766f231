// How q9m-update-cli words an update's state: the redrawn terminal line, the plain lines for a
// pipe, one JSON object per line for scripts, and where an update stopped and what that leaves
// on the device.
#pragma once

#include <optional>
#include <string>

#include "app/update_progress.h"

namespace q9m::app {

// "2:14", "1:02:03"; "-:--" for nothing.
std::string FormatDuration(std::optional<double> seconds);
// "812 B/s", "31.9 kB/s", "1.20 MB/s" (powers of 1000); "- B/s" for nothing.
std::string FormatRate(std::optional<double> bytesPerSecond);
// "7,341,056"
std::string FormatCount(uint64_t value);

// The activity, as a phrase: "writing image 136", "erasing 0x05B000-0x118FFF", ...
std::string PhaseText(const ProgressSnapshot& s);
// Where the update stands, for an error or a stop: the step, the phase and the flash address.
std::string WhereText(const ProgressSnapshot& s);
// What the device holds after an update ended at `s` without completing.
std::string DeviceStateText(const ProgressSnapshot& s);

// "step 9/12 writing image 136   43.2%  31.9 kB/s  2:14 left", at most `width` characters.
std::string TerminalLine(const ProgressSnapshot& s, size_t width);
// "step 9/12: writing image 136 at 0x1F0000, 43.2% of 7,341,056 bytes, 31.9 kB/s, 2:14 left"
std::string PlainLine(const ProgressSnapshot& s);

// A JSON string literal, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);
// {"event":"step",...}: plan row `step` (1 to 12) as it begins: what it does, where, how much.
std::string JsonStep(int step);
// {"event":"progress",...}: step, phase, address, bytes, percent, rate, time left.
std::string JsonProgress(const char* event, const ProgressSnapshot& s);

}  // namespace q9m::app
