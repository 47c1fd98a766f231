#include "platform/timer_service.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/timer_resolution.h"

namespace q9m::platform {

namespace {

using Clock = TickSchedule::Clock;

struct TimerEvent {
  uint32_t id = 0;
  Clock::duration period{};
  Clock::time_point start{};
  LPTIMECALLBACK callback = nullptr;
  uintptr_t user = 0;
  bool servesMidi = false;  // TIME_MIDI_PORTS

  std::mutex mutex;
  std::condition_variable changed;  // stopped, woken, or the first MIDI port opened
  bool stopped = false;             // guarded by mutex
  bool woken = false;               // guarded by mutex: an extra callback is owed
  std::thread thread;               // guarded by mutex; moved out by timeKillEvent
};

// The event whose callbacks run on this thread, if any.
thread_local const TimerEvent* currentEvent = nullptr;

struct Registry {
  std::mutex mutex;
  std::map<uint32_t, std::shared_ptr<TimerEvent>> events;
  uint32_t lastId = 0;
  std::map<uint32_t, int> raises;
  int refusals = 0;
  // Read by the events' threads under their own lock; see NotifyMidiEvents.
  std::atomic<int> openMidiPorts{0};
};

// Never destroyed: an event that nobody killed keeps its thread running past static
// destruction, and must not find the registry gone.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

// Wakes the thread of every TIME_MIDI_PORTS event; `wake` also owes each one a callback.
// Each event's lock is taken before the notice, so that a thread that has just found nothing
// to do cannot miss it on its way into the wait.
void NotifyMidiEvents(bool wake) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (auto& [id, event] : r.events) {
    if (!event->servesMidi) continue;
    {
      std::lock_guard eventLock(event->mutex);
      if (wake) event->woken = true;
    }
    event->changed.notify_one();
  }
}

bool Idle(const TimerEvent& event) {
  return event.servesMidi && TheRegistry().openMidiPorts.load() == 0;
}

void RunEvent(std::shared_ptr<TimerEvent> event) {
  currentEvent = event.get();
  TickSchedule schedule(event->start, event->period);
  std::unique_lock lock(event->mutex);
  const auto wokenOrStopped = [&] { return event->woken || event->stopped; };
  for (;;) {
    bool onGrid = false;
    if (Idle(*event)) {
      // No port open: nothing to tick for until one opens or a message arrives after all.
      event->changed.wait(lock, [&] { return wokenOrStopped() || !Idle(*event); });
      schedule = TickSchedule(Clock::now(), event->period);
      if (!wokenOrStopped()) continue;
    } else {
      // An absolute sleep (a futex wait on CLOCK_MONOTONIC) that a kill or a wake cuts short.
      onGrid = !event->changed.wait_until(lock, schedule.Next(), wokenOrStopped);
    }
    if (event->stopped) break;
    event->woken = false;
    lock.unlock();
    event->callback(event->id, 0, event->user, 0, 0);
    lock.lock();
    if (event->stopped) break;
    if (onGrid) schedule.Advance(Clock::now());
  }
}

}  // namespace

void TickSchedule::Advance(Clock::time_point now) {
  next_ += period_;
  if (now < next_) return;
  const int64_t due = (now - next_) / period_ + 1;
  if (due > kMaxCatchUp) {
    next_ += (due - kMaxCatchUp) * period_;
    skipped_ += static_cast<uint64_t>(due - kMaxCatchUp);
  }
}

MMRESULT timeGetDevCaps(TIMECAPS* caps, uint32_t capsSize) {
  if (caps == nullptr || capsSize < sizeof(TIMECAPS)) return TIMERR_STRUCT;
  caps->wPeriodMin = kTimerPeriodMin;
  caps->wPeriodMax = kTimerPeriodMax;
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(uint32_t period) {
  if (period < kTimerPeriodMin || period > kTimerPeriodMax) return TIMERR_NOCANDO;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  ++r.raises[period];
  RaiseSystemTimerResolution(period);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(uint32_t period) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.raises.find(period);
  if (it == r.raises.end() || it->second == 0) return TIMERR_NOCANDO;
  --it->second;
  LowerSystemTimerResolution(period);
  return TIMERR_NOERROR;
}

uint32_t timeSetEvent(uint32_t delay, uint32_t /*resolution*/, LPTIMECALLBACK callback,
                      uintptr_t user, uint32_t kind) {
  if (delay == 0 || callback == nullptr || (kind & ~TIME_MIDI_PORTS) != TIME_PERIODIC) return 0;
  auto event = std::make_shared<TimerEvent>();
  event->period = std::chrono::milliseconds(delay);
  event->callback = callback;
  event->user = user;
  event->servesMidi = (kind & TIME_MIDI_PORTS) != 0;
  Registry& r = TheRegistry();
  {
    std::lock_guard lock(r.mutex);
    if (r.refusals != 0) {
      if (r.refusals > 0) --r.refusals;
      return 0;
    }
    do {
      ++r.lastId;  // skips 0 on wrap-around, and ids still in use
    } while (r.lastId == 0 || r.events.count(r.lastId) != 0);
    event->id = r.lastId;
    r.events.emplace(event->id, event);
  }
  event->start = Clock::now();
  try {
    // Under the event's lock, so that a callback that kills its own event (it knows the id
    // from its first call) finds the thread already stored.
    std::lock_guard lock(event->mutex);
    event->thread = std::thread(RunEvent, event);
  } catch (const std::system_error&) {
    std::lock_guard lock(r.mutex);
    r.events.erase(event->id);
    return 0;
  }
  return event->id;
}

MMRESULT timeKillEvent(uint32_t id) {
  std::shared_ptr<TimerEvent> event;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.events.find(id);
    if (it == r.events.end()) return MMSYSERR_INVALPARAM;
    event = std::move(it->second);
    r.events.erase(it);
  }
  std::thread thread;
  {
    std::lock_guard lock(event->mutex);
    event->stopped = true;
    thread = std::move(event->thread);
  }
  event->changed.notify_all();
  if (currentEvent == event.get()) {
    // Called from the event's own callback: the thread ends by itself once the callback
    // returns, and its reference keeps the event alive until then.
    thread.detach();
  } else if (thread.joinable()) {
    thread.join();  // waits for a callback in progress
  }
  return TIMERR_NOERROR;
}

void timeMidiPortOpened() {
  if (TheRegistry().openMidiPorts.fetch_add(1) == 0) NotifyMidiEvents(false);
}

void timeMidiPortClosed() {
  // Events notice at their next tick, which drains what the last port left in its queue.
  TheRegistry().openMidiPorts.fetch_sub(1);
}

void timeWakeMidiEvents() {
  NotifyMidiEvents(true);
}

int OpenMidiPorts() {
  return TheRegistry().openMidiPorts.load();
}

int TimerPeriodRaises(uint32_t period) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.raises.find(period);
  return it == r.raises.end() ? 0 : it->second;
}

size_t ActiveTimerEvents() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.events.size();
}

void RefuseTimerEvents(int times) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.refusals = times;
}

}  // namespace q9m::platform
