// An input from one port of a JACK server: a port of the backend's client, fed by the source,
// whose messages go to the receiver through a pump.
#pragma once

#include <memory>
#include <string>

#include "platform/input_pump.h"
#include "platform/jack/jack_client.h"
#include "platform/midi_service.h"

namespace q9m::platform::jack {

class JackInputSource final : public InputSource {
 public:
  JackInputSource(std::shared_ptr<JackClient> client, std::string source, InputReceiver& receiver)
      : client_(std::move(client)), source_(std::move(source)), pump_(receiver) {}
  ~JackInputSource() override { Close(); }

  // Opens a MIDI input port of the client and connects `source` to it.
  MMRESULT Open();
  void Close() override;

 private:
  std::shared_ptr<JackClient> client_;
  const std::string source_;
  InputPump pump_;
  JackInputChannel* channel_ = nullptr;
};

}  // namespace q9m::platform::jack
