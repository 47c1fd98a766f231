// Following the ports of a MIDI system as devices come and go: each system's backend tells
// through its own notice (the sequencer's announcements, JACK's registration callback), or,
// where a system gives none, by listing its ports again now and then.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace q9m::platform {

using PortWatchClock = std::chrono::steady_clock;

// Watches from its creation until it is destroyed. Made before the caller lists the ports, so
// that a port which comes while the caller looks at its lists is not missed.
class PortWatch {
 public:
  virtual ~PortWatch() = default;
  // Waits until a port may have come or gone since the watch was made or since the last Wait
  // that returned true, or until `deadline`. True: list the ports again (the lists need not
  // show a difference). False: nothing changed before the deadline.
  virtual bool Wait(PortWatchClock::time_point deadline) = 0;
};

// A count of changes that one thread notes and others wait on, for the watches whose system
// calls back on a thread of its own. Not for a real-time thread: it takes a lock.
class ChangeCount {
 public:
  void Note();
  uint64_t Now();
  // True once the count differs from `seen`; false at `deadline`.
  bool WaitPast(uint64_t seen, PortWatchClock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t count_ = 0;
};

// Reports a change once the count has moved past the one it saw last (at first: at its
// making). For the systems that note their notices in a ChangeCount.
class ChangeCountWatch : public PortWatch {
 public:
  explicit ChangeCountWatch(std::shared_ptr<ChangeCount> changes);
  bool Wait(PortWatchClock::time_point deadline) override;

 private:
  std::shared_ptr<ChangeCount> changes_;
  uint64_t seen_;
};

// Lists again every `interval` (with `list`, which says what each port is) and reports a
// change when the list differs from the one before. For a system that gives no notice.
class RelistingPortWatch final : public PortWatch {
 public:
  using Lister = std::function<std::vector<std::string>()>;
  RelistingPortWatch(Lister list, PortWatchClock::duration interval);
  bool Wait(PortWatchClock::time_point deadline) override;

 private:
  Lister list_;
  PortWatchClock::duration interval_;
  std::vector<std::string> last_;
  PortWatchClock::time_point nextLook_;
};

// How often a system without a notice of its own is listed again.
inline constexpr std::chrono::seconds kRelistInterval{1};

// A watch that cannot tell: it reports a possible change every kRelistInterval, so that the
// caller lists again. For a backend whose notice could not be set up.
std::unique_ptr<PortWatch> MakePeriodicPortWatch();

}  // namespace q9m::platform
