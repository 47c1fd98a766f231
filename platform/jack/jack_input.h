// An input from one port of a JACK server: a port of our own, registered through RtMidi and
// fed by the source, whose messages go to the receiver through a pump.
#pragma once

#include <memory>
#include <string>

#include "platform/input_pump.h"
#include "platform/jack/jack_core.h"
#include "platform/midi_service.h"

namespace q9m::platform::jack {

class JackInputSource final : public InputSource {
 public:
  JackInputSource(std::shared_ptr<JackCore> core, std::string source, InputReceiver& receiver)
      : core_(std::move(core)), source_(std::move(source)), pump_(receiver) {}
  ~JackInputSource() override { Close(); }

  MMRESULT Open();
  void Close() override;

 private:
  std::shared_ptr<JackCore> core_;
  const std::string source_;
  std::string own_;
  RtMidiErrorSink errors_;
  InputPump pump_;
  std::unique_ptr<RtMidiIn> in_;
};

}  // namespace q9m::platform::jack
