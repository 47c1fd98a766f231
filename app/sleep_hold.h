// What the programs' update sessions hold from the first erase until the run ends: the
// system's hold on sleep, shutdown and the lid switch. Where the system offers none (no
// systemd-logind, as in many containers) the update goes on, and the program says so once.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace q9m::app {

using Notice = std::function<void(const std::string&)>;

// For UpdateSession::SetHoldWhileWriting. The first hold that cannot be had in this process
// passes one sentence to `notice`; later ones say nothing.
std::function<std::shared_ptr<void>()> SleepHoldWhileWriting(Notice notice);

// Why the system is held: the text that the system shows beside the program's name.
extern const char* const kSleepHoldReason;

// Writes the sentence on standard error, prefixed with the program's name.
Notice NoticeOnStandardError(const std::string& program);

}  // namespace q9m::app
