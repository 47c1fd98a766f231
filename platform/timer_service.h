// The multimedia timer, shaped after the Windows API that the updater's timer is written
// against: periodic events whose callbacks run on a thread of their own, and the timer
// resolution that callers raise and lower in pairs.
//
// Events run on real time (std::chrono::steady_clock), never on the platform clock of sync.h:
// the 1 ms tick is what the rest of the program measures time by.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/midi_types.h"

namespace q9m::platform {

inline constexpr MMRESULT TIMERR_NOERROR = 0;
inline constexpr MMRESULT TIMERR_NOCANDO = 97;
inline constexpr MMRESULT TIMERR_STRUCT = 129;

struct TIMECAPS {
  uint32_t wPeriodMin;
  uint32_t wPeriodMax;
};

// Shortest and longest period, in milliseconds, that timeBeginPeriod accepts.
inline constexpr uint32_t kTimerPeriodMin = 1;
inline constexpr uint32_t kTimerPeriodMax = 1000000;

// Event callback: event id, message (always 0), user value, two reserved values (0).
using LPTIMECALLBACK = void (*)(uint32_t id, uint32_t message, uintptr_t user, uintptr_t reserved1,
                                uintptr_t reserved2);

// Event kinds. Only periodic events are offered.
inline constexpr uint32_t TIME_ONESHOT = 0;
inline constexpr uint32_t TIME_PERIODIC = 1;
// Added to TIME_PERIODIC for an event that serves the MIDI ports: it ticks every `delay` ms
// only while the process has a MIDI port open, sleeps without waking while none is, and runs
// one extra callback as soon as it can after timeWakeMidiEvents, so that received messages
// are handled on arrival instead of at the next tick.
inline constexpr uint32_t TIME_MIDI_PORTS = 0x1000;

MMRESULT timeGetDevCaps(TIMECAPS* caps, uint32_t capsSize);
// Raises (and lowers) the timer resolution; every raise must be matched by a lower with the
// same period. Linux timers are high resolution already, so there the service only keeps count;
// on Windows it also raises the system timer's resolution (timer_resolution.h).
MMRESULT timeBeginPeriod(uint32_t period);
MMRESULT timeEndPeriod(uint32_t period);

// Starts a periodic event that calls `callback` every `delay` ms, the first time `delay` ms
// from now. Returns its id (never 0), or 0 when refused (delay 0, no callback, a kind other
// than TIME_PERIODIC, no thread to be had, or a test refusal). `resolution` is not needed: the
// events keep time to the system's timer accuracy whatever it says.
//
// The callbacks of one event run one at a time on a thread of their own. They keep to a grid
// of absolute deadlines (start + k·delay), so the period holds on average even when one
// callback runs long; the deadlines missed meanwhile are made up by calls back to back, at
// most TickSchedule::kMaxCatchUp of them, so that a long stall does not end in a flood. The
// extra callbacks of a TIME_MIDI_PORTS event come between those of the grid and never move it,
// so no gap between two callbacks is longer than `delay` while a port is open; when the first
// port opens, the grid starts anew from that moment.
uint32_t timeSetEvent(uint32_t delay, uint32_t resolution, LPTIMECALLBACK callback, uintptr_t user,
                      uint32_t kind);
// Stops the event. Once it returns no callback of the event runs any more: a callback in
// progress on another thread is waited for. Called from the event's own callback, it marks
// the event stopped and returns at once; the event's thread ends when the callback returns.
MMRESULT timeKillEvent(uint32_t id);

// The MIDI service counts its open ports here (input and output alike).
void timeMidiPortOpened();
void timeMidiPortClosed();
// Called when a MIDI input port has queued a received message: every TIME_MIDI_PORTS event
// runs a callback as soon as its thread is free. Never blocks for longer than it takes to
// take two short locks, so it may be called from a driver's thread.
void timeWakeMidiEvents();

// ---- Test hooks ----------------------------------------------------------------------------

// How many raises of `period` have not been lowered yet.
int TimerPeriodRaises(uint32_t period);
// Events started and not yet killed.
size_t ActiveTimerEvents();
// MIDI ports open, as counted by timeMidiPortOpened and timeMidiPortClosed.
int OpenMidiPorts();
// Refuses the next `times` calls of timeSetEvent (every call when negative, none when 0).
void RefuseTimerEvents(int times = -1);

// ---- The schedule of one periodic event ----------------------------------------------------

class TickSchedule {
 public:
  using Clock = std::chrono::steady_clock;
  // Deadlines that passed during one late tick and are still made up afterwards.
  static constexpr int64_t kMaxCatchUp = 16;

  TickSchedule(Clock::time_point start, Clock::duration period)
      : next_(start + period), period_(period) {}

  // When the next tick is due.
  Clock::time_point Next() const { return next_; }
  // Moves on after the tick due at Next() ran and returned at `now`. Deadlines that already
  // passed stay due (the ticks follow at once) unless more than kMaxCatchUp passed: then the
  // oldest are skipped, and the schedule stays on its grid.
  void Advance(Clock::time_point now);
  // Deadlines skipped so far.
  uint64_t Skipped() const { return skipped_; }

 private:
  Clock::time_point next_;
  Clock::duration period_;
  uint64_t skipped_ = 0;
};

}  // namespace q9m::platform
