#include "platform/port_watch.h"

#include <algorithm>
#include <thread>

namespace q9m::platform {

void ChangeCount::Note() {
  {
    std::lock_guard lock(mutex_);
    ++count_;
  }
  changed_.notify_all();
}

uint64_t ChangeCount::Now() {
  std::lock_guard lock(mutex_);
  return count_;
}

bool ChangeCount::WaitPast(uint64_t seen, PortWatchClock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [&] { return count_ != seen; });
}

ChangeCountWatch::ChangeCountWatch(std::shared_ptr<ChangeCount> changes)
    : changes_(std::move(changes)), seen_(changes_->Now()) {}

bool ChangeCountWatch::Wait(PortWatchClock::time_point deadline) {
  if (!changes_->WaitPast(seen_, deadline)) return false;
  seen_ = changes_->Now();
  return true;
}

RelistingPortWatch::RelistingPortWatch(Lister list, PortWatchClock::duration interval)
    : list_(std::move(list)),
      interval_(interval),
      last_(list_()),
      nextLook_(PortWatchClock::now() + interval) {}

bool RelistingPortWatch::Wait(PortWatchClock::time_point deadline) {
  for (;;) {
    const auto until = std::min(deadline, nextLook_);
    std::this_thread::sleep_until(until);
    if (until != nextLook_) return false;  // the deadline came first
    nextLook_ = PortWatchClock::now() + interval_;
    std::vector<std::string> now = list_();
    if (now != last_) {
      last_ = std::move(now);
      return true;
    }
    if (PortWatchClock::now() >= deadline) return false;
  }
}

std::unique_ptr<PortWatch> MakePeriodicPortWatch() {
  // A list that differs at every look.
  return std::make_unique<RelistingPortWatch>(
      [looks = uint64_t{0}]() mutable { return std::vector<std::string>{std::to_string(looks++)}; },
      kRelistInterval);
}

}  // namespace q9m::platform
