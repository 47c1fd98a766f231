#include "midi/dxm_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/timer_service.h"
#include "tests/support/wait_for.h"

namespace q9m::midi {
namespace {

using namespace std::chrono_literals;
using q9m::testing::WaitFor;

struct Counter {
  std::atomic<int> ticks{0};
  std::atomic<uintptr_t> user{0};
};

void CountingCallback(uint32_t, uint32_t, uintptr_t user, uintptr_t, uintptr_t) {
  auto* counter = reinterpret_cast<Counter*>(user);
  counter->user = user;
  counter->ticks.fetch_add(1);
}

class TickingTimer : public CDxMTimer {
 public:
  ~TickingTimer() { Stop(); }  // no tick may reach a half-destroyed timer
  std::atomic<int> ticks{0};
  std::atomic<bool> onCaller{false};
  std::thread::id caller = std::this_thread::get_id();

 protected:
  void OnTick() override {
    if (std::this_thread::get_id() == caller) onCaller = true;
    ticks.fetch_add(1);
  }
};

class CDxMTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    raises_ = platform::TimerPeriodRaises(1);
    active_ = platform::ActiveTimerEvents();
  }
  void TearDown() override { platform::RefuseTimerEvents(0); }
  // Raises and events beyond what was there before the test.
  int Raises() const { return platform::TimerPeriodRaises(1) - raises_; }
  int Events() const { return static_cast<int>(platform::ActiveTimerEvents() - active_); }

  int raises_ = 0;
  size_t active_ = 0;
};

TEST_F(CDxMTimerTest, StartRaisesTheResolutionAndPassesTheUserValue) {
  Counter counter;
  CDxMTimer timer;
  const auto user = reinterpret_cast<uintptr_t>(&counter);
  const uint32_t id = timer.Start(1, CountingCallback, user);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(timer.TimerId(), id);
  EXPECT_EQ(Raises(), 1);
  EXPECT_EQ(Events(), 1);
  EXPECT_TRUE(WaitFor([&] { return counter.ticks > 0; }));
  EXPECT_EQ(counter.user, user);

  EXPECT_EQ(timer.Stop(), 1);
  EXPECT_EQ(timer.TimerId(), 0u);
  EXPECT_EQ(Raises(), 0);
  EXPECT_EQ(Events(), 0);
  const int ticks = counter.ticks;
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(counter.ticks, ticks);
}

TEST_F(CDxMTimerTest, RestartReplacesTheRunningEvent) {
  Counter first, second;
  CDxMTimer timer;
  const uint32_t a = timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&first));
  ASSERT_NE(a, 0u);
  ASSERT_TRUE(WaitFor([&] { return first.ticks > 0; }));
  const uint32_t b = timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&second));
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  const int firstTicks = first.ticks;
  EXPECT_EQ(Raises(), 1);  // the old raise was lowered
  EXPECT_EQ(Events(), 1);
  EXPECT_EQ(platform::timeKillEvent(a), platform::MMSYSERR_INVALPARAM);  // already killed

  EXPECT_TRUE(WaitFor([&] { return second.ticks > 2; }));
  EXPECT_EQ(first.ticks, firstTicks);
  timer.Stop();
  EXPECT_EQ(Raises(), 0);
}

TEST_F(CDxMTimerTest, StopOnAnIdleTimerLowersNothing) {
  platform::timeBeginPeriod(1);  // somebody else's raise, which Stop must leave alone
  {
    CDxMTimer timer;
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_EQ(timer.Stop(), 1);
  }  // destroying an idle timer lowers nothing either
  EXPECT_EQ(Raises(), 1);
  platform::timeEndPeriod(1);
}

TEST_F(CDxMTimerTest, DestroyingARunningTimerKillsAndLowersOnce) {
  platform::timeBeginPeriod(1);
  Counter counter;
  {
    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&counter)), 0u);
    EXPECT_EQ(Raises(), 2);
    EXPECT_EQ(Events(), 1);
  }
  EXPECT_EQ(Raises(), 1);
  EXPECT_EQ(Events(), 0);
  platform::timeEndPeriod(1);
}

TEST_F(CDxMTimerTest, WithoutACallbackTicksReachTheDerivedOnTick) {
  TickingTimer timer;
  ASSERT_NE(timer.Start(1), 0u);
  EXPECT_TRUE(WaitFor([&] { return timer.ticks >= 3; }));
  timer.Stop();
  EXPECT_FALSE(timer.onCaller);
}

TEST_F(CDxMTimerTest, ARefusedEventLeavesTheResolutionAsItWas) {
  Counter counter;
  CDxMTimer timer;
  platform::RefuseTimerEvents(1);
  EXPECT_EQ(timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&counter)), 0u);
  EXPECT_EQ(timer.TimerId(), 0u);
  EXPECT_EQ(Raises(), 0);
  EXPECT_EQ(Events(), 0);

  // A running timer refused at its restart: the old event is gone and nothing stays raised.
  ASSERT_NE(timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&counter)), 0u);
  platform::RefuseTimerEvents(1);
  EXPECT_EQ(timer.Start(1, CountingCallback, reinterpret_cast<uintptr_t>(&counter)), 0u);
  EXPECT_EQ(Raises(), 0);
  EXPECT_EQ(Events(), 0);
  timer.Stop();
  EXPECT_EQ(Raises(), 0);
}

}  // namespace
}  // namespace q9m::midi
