// Turns the bytes a MIDI system hands over (sequencer events, or a raw byte stream read in
// any pieces) into whole messages for the simulated device, one per call of `deliver`. A
// message cut by a new status byte goes to the device as it came, cut, so that the device
// reports it; so do stray data bytes, one by one. After a loss on the way (a sequencer that
// dropped events), the message under way is abandoned, with the rest of its bytes: two
// messages' pieces are never joined into one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace q9m::devsim {

class SysExAssembler {
 public:
  using Deliver = std::function<void(const uint8_t* bytes, size_t n)>;
  explicit SysExAssembler(Deliver deliver) : deliver_(std::move(deliver)) {}

  // Any thread; pieces are joined in the order of the calls.
  void Add(const uint8_t* bytes, size_t n);
  // Bytes were lost before the next call: drops the unfinished message and what follows of
  // it, up to its F7 or the next status byte.
  void Abandon();

 private:
  void Flush();

  const Deliver deliver_;
  std::mutex mutex_;
  std::vector<uint8_t> partial_;  // an unfinished message, from its status byte
  size_t need_ = 0;               // a short message's length; 0 for System Exclusive
  bool skipping_ = false;         // dropping the rest of an abandoned message
};

}  // namespace q9m::devsim
