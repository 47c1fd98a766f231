// An output to one port of a JACK server: a port of the backend's client, connected to the
// destination, into whose buffer the process callback puts each message whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/jack/jack_client.h"
#include "platform/midi_service.h"

namespace q9m::platform::jack {

class JackOutputConnection final : public OutputConnection {
 public:
  JackOutputConnection(std::shared_ptr<JackClient> client, std::string destination)
      : client_(std::move(client)), destination_(std::move(destination)) {}
  ~JackOutputConnection() override { Close(); }

  // Opens a MIDI output port of the client and connects it to `destination`.
  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override;

 private:
  // The device is there as long as our port still feeds its port; when it goes away, JACK
  // unregisters its port and the connection with it.
  bool Linked() const;
  // Hands the message to the next cycle and waits until the process callback has written it
  // into the port buffer, or until kSendTimeout has passed (then the message is withdrawn).
  MMRESULT Send(const uint8_t* bytes, size_t n);

  std::shared_ptr<JackClient> client_;
  const std::string destination_;
  JackOutputChannel* channel_ = nullptr;
};

}  // namespace q9m::platform::jack
