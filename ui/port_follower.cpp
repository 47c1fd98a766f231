#include "ui/port_follower.h"

#include <utility>

#include "platform/midi_service.h"

namespace q9m::ui {

namespace {

// How often the thread looks whether it is to stop, between the watch's notices.
constexpr std::chrono::milliseconds kStopLook{100};

}  // namespace

PortFollower::PortFollower(std::function<void()> changed)
    : watch_(platform::WatchMidiPorts()), changed_(std::move(changed)) {
  thread_ = std::thread([this] { Run(); });
}

PortFollower::~PortFollower() {
  stopping_.store(true);
  thread_.join();
}

bool PortFollower::Take(bool busy) {
  told_.store(false);  // a notice from here on is told again
  deferred_ = deferred_ || busy;
  return !busy;
}

bool PortFollower::ControlsBack() {
  return std::exchange(deferred_, false);
}

void PortFollower::Run() {
  while (!stopping_.load()) {
    if (!watch_->Wait(platform::PortWatchClock::now() + kStopLook)) continue;
    if (!told_.exchange(true) && !stopping_.load()) changed_();
  }
}

}  // namespace q9m::ui
