// The receiving half of the update protocol. On every timer tick it takes each message that
// the input port has queued, in arrival order, and either records the outcome for the worker
// (then signals ReplyEvent), answers the device by itself, or drops the message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/dxm_timer.h"
#include "protocol/update_context.h"

namespace q9m::protocol {

// One tick: drains the whole queue, including messages queued while it runs.
void DispatchReplies(UpdateContext& context);

// Interprets one received message (exactly `length` bytes, never read beyond).
void DispatchReply(UpdateContext& context, const uint8_t* message, size_t length);

// Timer callback shape: `user` is the UpdateContext.
void DispatchRepliesTick(uint32_t timerId, uint32_t message, uintptr_t user, uintptr_t reserved1,
                         uintptr_t reserved2);

// Starts `timer` running the dispatcher for `context`: every millisecond while a MIDI port is
// open, at once when the input port queues a message, and not at all while no port is open.
// Returns the timer's id (0 when refused).
uint32_t StartReplyDispatcher(midi::CDxMTimer& timer, UpdateContext& context);

}  // namespace q9m::protocol
