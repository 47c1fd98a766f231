#include "app/sleep_hold.h"

#include <atomic>
#include <cstdio>

#include "platform/sleep_inhibitor.h"

namespace q9m::app {

namespace {

constexpr const char* kWho = "Q9m updater";
std::atomic<bool> saidOnce{false};

}  // namespace

const char* const kSleepHoldReason =
    "Writing the Q9m's firmware: a device whose update is cut short does not start";

std::function<std::shared_ptr<void>()> SleepHoldWhileWriting(Notice notice) {
  return [notice = std::move(notice)]() -> std::shared_ptr<void> {
    std::string error;
    std::shared_ptr<platform::SleepInhibitor> held =
        platform::HoldOffSleep(kWho, kSleepHoldReason, &error);
    if (!held && !saidOnce.exchange(true) && notice) {
      notice("sleep and shutdown are not held off during the update (" + error +
             "); keep the computer awake until it ends");
    }
    return held;
  };
}

Notice NoticeOnStandardError(const std::string& program) {
  return [program](const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
    std::fflush(stderr);
  };
}

}  // namespace q9m::app
