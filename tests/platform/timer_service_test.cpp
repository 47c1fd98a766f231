#include "platform/timer_service.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "tests/support/wait_for.h"

namespace q9m::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using q9m::testing::WaitFor;

// What the callbacks of one event saw.
struct Probe {
  std::atomic<int> ticks{0};
  std::atomic<int> running{0};  // callbacks in progress
  std::atomic<bool> overlap{false};
  std::atomic<bool> onCaller{false};
  std::atomic<uint32_t> lastId{0};
  std::atomic<uint32_t> lastMessage{99};
  std::thread::id caller = std::this_thread::get_id();
  std::mutex mutex;
  std::set<std::thread::id> threads;
  Clock::duration work{0};  // how long each callback takes
};

void ProbeCallback(uint32_t id, uint32_t message, uintptr_t user, uintptr_t, uintptr_t) {
  auto* probe = reinterpret_cast<Probe*>(user);
  if (probe->running.fetch_add(1) != 0) probe->overlap = true;
  if (std::this_thread::get_id() == probe->caller) probe->onCaller = true;
  {
    std::lock_guard lock(probe->mutex);
    probe->threads.insert(std::this_thread::get_id());
  }
  probe->lastId = id;
  probe->lastMessage = message;
  if (probe->work > Clock::duration::zero()) std::this_thread::sleep_for(probe->work);
  probe->running.fetch_sub(1);
  probe->ticks.fetch_add(1);
}

TEST(TimerServiceTest, CapsAndPeriodRaisesStayBalanced) {
  TIMECAPS caps{};
  EXPECT_EQ(timeGetDevCaps(&caps, sizeof caps - 1), TIMERR_STRUCT);
  EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), TIMERR_STRUCT);
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_GE(caps.wPeriodMax, caps.wPeriodMin);

  const int before = TimerPeriodRaises(1);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(TimerPeriodRaises(1), before + 2);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(TimerPeriodRaises(1), before);

  EXPECT_EQ(timeEndPeriod(7), TIMERR_NOCANDO);  // never raised
  EXPECT_EQ(TimerPeriodRaises(7), 0);
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(kTimerPeriodMax + 1), TIMERR_NOCANDO);
}

TEST(TimerServiceTest, RefusesEventsItCannotRun) {
  Probe probe;
  const auto user = reinterpret_cast<uintptr_t>(&probe);
  const size_t active = ActiveTimerEvents();
  EXPECT_EQ(timeSetEvent(0, 1, ProbeCallback, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(1, 1, nullptr, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(1, 1, ProbeCallback, user, TIME_ONESHOT), 0u);

  RefuseTimerEvents(1);
  EXPECT_EQ(timeSetEvent(1, 1, ProbeCallback, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(ActiveTimerEvents(), active);
  // Refused once only. A minute's delay: no tick before the kill, which cuts the wait short.
  const uint32_t id = timeSetEvent(60000, 1, ProbeCallback, user, TIME_PERIODIC);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);

  RefuseTimerEvents();
  EXPECT_EQ(timeSetEvent(1, 1, ProbeCallback, user, TIME_PERIODIC), 0u);
  EXPECT_EQ(timeSetEvent(1, 1, ProbeCallback, user, TIME_PERIODIC), 0u);
  RefuseTimerEvents(0);
  EXPECT_EQ(ActiveTimerEvents(), active);
  EXPECT_EQ(probe.ticks, 0);
}

TEST(TimerServiceTest, CallbacksRunOneAtATimeOnAThreadOfTheirOwn) {
  Probe probe;
  probe.work = 3ms;  // longer than the period: the next tick is due before this one ends
  const uint32_t id =
      timeSetEvent(1, 1, ProbeCallback, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  EXPECT_TRUE(WaitFor([&] { return probe.ticks >= 20; }));
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);

  EXPECT_FALSE(probe.overlap);
  EXPECT_FALSE(probe.onCaller);
  EXPECT_EQ(probe.threads.size(), 1u);
  EXPECT_EQ(probe.lastId, id);
  EXPECT_EQ(probe.lastMessage, 0u);
}

TEST(TimerServiceTest, EventsHaveDistinctIdsAndThreads) {
  Probe first, second;
  const uint32_t a =
      timeSetEvent(2, 1, ProbeCallback, reinterpret_cast<uintptr_t>(&first), TIME_PERIODIC);
  const uint32_t b =
      timeSetEvent(3, 1, ProbeCallback, reinterpret_cast<uintptr_t>(&second), TIME_PERIODIC);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(WaitFor([&] { return first.ticks >= 3 && second.ticks >= 3; }));
  EXPECT_EQ(timeKillEvent(a), TIMERR_NOERROR);
  EXPECT_EQ(timeKillEvent(b), TIMERR_NOERROR);
  EXPECT_EQ(first.lastId, a);
  EXPECT_EQ(second.lastId, b);
  EXPECT_NE(*first.threads.begin(), *second.threads.begin());

  EXPECT_EQ(timeKillEvent(a), MMSYSERR_INVALPARAM);  // already killed
  EXPECT_EQ(timeKillEvent(0), MMSYSERR_INVALPARAM);
}

TEST(TimerServiceTest, NoCallbackRunsAfterKillReturns) {
  Probe probe;
  const uint32_t id =
      timeSetEvent(1, 1, ProbeCallback, reinterpret_cast<uintptr_t>(&probe), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitFor([&] { return probe.ticks >= 5; }));
  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);
  const int ticks = probe.ticks;
  EXPECT_EQ(probe.running, 0);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.ticks, ticks);
}

// Blocks inside its callback until released, so that a kill meets a callback in progress.
struct Gate {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> left{false};
  std::atomic<int> calls{0};
};

void GateCallback(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* gate = reinterpret_cast<Gate*>(user);
  gate->calls.fetch_add(1);
  gate->entered = true;
  while (!gate->release) std::this_thread::sleep_for(1ms);
  gate->left = true;
}

TEST(TimerServiceTest, KillWaitsForACallbackInProgress) {
  Gate gate;
  const uint32_t id =
      timeSetEvent(1, 1, GateCallback, reinterpret_cast<uintptr_t>(&gate), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitFor([&] { return gate.entered.load(); }));

  std::atomic<bool> killed{false};
  std::thread killer([&] {
    timeKillEvent(id);
    killed = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(killed) << "returned while the callback still ran";
  gate.release = true;
  killer.join();
  EXPECT_TRUE(gate.left);
  const int calls = gate.calls;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(gate.calls, calls);
}

struct SelfKill {
  std::atomic<int> calls{0};
  std::atomic<MMRESULT> result{MMSYSERR_ERROR};
  std::atomic<bool> returned{false};
};

void SelfKillCallback(uint32_t id, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* self = reinterpret_cast<SelfKill*>(user);
  if (self->calls.fetch_add(1) + 1 == 3) {
    self->result = timeKillEvent(id);
    self->returned = true;
  }
}

TEST(TimerServiceTest, AnEventCanKillItselfFromItsCallback) {
  SelfKill self;
  const size_t active = ActiveTimerEvents();
  const uint32_t id =
      timeSetEvent(1, 1, SelfKillCallback, reinterpret_cast<uintptr_t>(&self), TIME_PERIODIC);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(WaitFor([&] { return self.returned.load(); }));
  EXPECT_EQ(self.result, TIMERR_NOERROR);
  EXPECT_EQ(ActiveTimerEvents(), active);
  EXPECT_EQ(timeKillEvent(id), MMSYSERR_INVALPARAM);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(self.calls, 3);
}

TEST(TimerServiceTest, AMidiEventTicksOnlyWhileAPortIsOpenAndAtOnceWhenWoken) {
  ASSERT_EQ(OpenMidiPorts(), 0);
  Probe probe;
  const uint32_t id = timeSetEvent(1, 1, ProbeCallback, reinterpret_cast<uintptr_t>(&probe),
                                   TIME_PERIODIC | TIME_MIDI_PORTS);
  ASSERT_NE(id, 0u);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.ticks, 0) << "ticked with no port open";
  timeWakeMidiEvents();  // a message arrived after all: one callback, and asleep again
  EXPECT_TRUE(WaitFor([&] { return probe.ticks == 1; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.ticks, 1);

  timeMidiPortOpened();
  EXPECT_TRUE(WaitFor([&] { return probe.ticks >= 20; }));
  timeMidiPortClosed();
  std::this_thread::sleep_for(50ms);  // the tick that notices the close, at most
  const int ticks = probe.ticks;
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(probe.ticks, ticks) << "kept ticking after the last port closed";

  EXPECT_EQ(timeKillEvent(id), TIMERR_NOERROR);  // ends a sleep that has no deadline
  EXPECT_FALSE(probe.overlap);
  EXPECT_FALSE(probe.onCaller);
  EXPECT_EQ(probe.threads.size(), 1u);
}

// ---- The schedule's arithmetic, without waiting --------------------------------------------

TEST(TickScheduleTest, KeepsToTheGridAndMakesUpAShortOverrun) {
  const auto start = Clock::time_point{} + 1h;
  TickSchedule schedule(start, 1ms);
  EXPECT_EQ(schedule.Next(), start + 1ms);
  schedule.Advance(start + 1ms + 200us);  // an ordinary tick
  EXPECT_EQ(schedule.Next(), start + 2ms);

  // The tick due at 2 ms runs until 5.5 ms: the ticks due at 3, 4 and 5 ms follow at once,
  // and the one at 6 ms is on time again.
  schedule.Advance(start + 5ms + 500us);
  EXPECT_EQ(schedule.Next(), start + 3ms);
  schedule.Advance(start + 5ms + 510us);
  schedule.Advance(start + 5ms + 520us);
  EXPECT_EQ(schedule.Next(), start + 5ms);
  schedule.Advance(start + 5ms + 530us);
  EXPECT_EQ(schedule.Next(), start + 6ms);
  EXPECT_EQ(schedule.Skipped(), 0u);
}

TEST(TickScheduleTest, ALongStallMakesUpOnlyTheLastFewTicks) {
  const auto start = Clock::time_point{} + 1h;
  TickSchedule schedule(start, 2ms);
  // The first tick (due at 2 ms) returns at 1002.5 ms: 500 deadlines have passed since.
  schedule.Advance(start + 1002ms + 500us);
  EXPECT_EQ(schedule.Skipped(), static_cast<uint64_t>(500 - TickSchedule::kMaxCatchUp));
  const auto next = schedule.Next();
  EXPECT_EQ((next - start) % 2ms, Clock::duration::zero()) << "left the grid";
  EXPECT_EQ(next, start + 1002ms - (TickSchedule::kMaxCatchUp - 1) * 2ms);

  int64_t due = 0;
  for (auto now = start + 1002ms + 600us; schedule.Next() <= now; now += 10us) {
    schedule.Advance(now);
    ++due;
  }
  EXPECT_EQ(due, TickSchedule::kMaxCatchUp);
  EXPECT_EQ(schedule.Next(), start + 1004ms);
}

}  // namespace
}  // namespace q9m::platform
