// Which number this running copy takes: the lowest of 1 to 20 whose named mutex no other copy
// holds. The number picks the window title and the ports that the dialog preselects.
#pragma once

#include <string>

#include "platform/named_mutex.h"

namespace q9m::app {

// The highest number tried, and the number that the refusal message shows.
inline constexpr int kMaxInstances = 20;

struct InstanceClaim {
  platform::MutexHandle mutex = platform::MutexHandle::kNoMutex;  // held until the process ends
  int number = 0;  // 1 to kMaxInstances, or 0 when every number is taken
};

// Tries 1, 2, ... kMaxInstances in turn. A name that already exists, or whose mutex cannot be
// created at all, counts as taken. Two copies starting at once never get the same number: the
// creation is atomic, and the second one moves on to the next number.
InstanceClaim TakeInstanceNumber();

// What a copy shows when every number is taken, and opens no window.
std::string TooManyInstancesText();

// The name under which copy `instanceNumber` opens its MIDI clients. Each copy has its own:
// JACK gives two clients that open under one name at the same moment the same name, and one of
// them then fails to connect, as 20 copies started together showed.
std::string MidiClientName(int instanceNumber);

}  // namespace q9m::app
