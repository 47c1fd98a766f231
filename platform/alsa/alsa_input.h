// An input from one port of the ALSA sequencer, through librtmidi.
#pragma once

#include <memory>
#include <string>

#include "platform/input_pump.h"
#include "platform/jack/rtmidi_support.h"
#include "platform/midi_service.h"

namespace q9m::platform::alsa {

class AlsaInputSource final : public InputSource {
 public:
  AlsaInputSource(std::string clientName, std::string source, InputReceiver& receiver)
      : clientName_(std::move(clientName)), source_(std::move(source)), pump_(receiver) {}
  ~AlsaInputSource() override { Close(); }

  MMRESULT Open();
  void Close() override;

 private:
  const std::string clientName_;
  const std::string source_;
  RtMidiErrorSink errors_;
  InputPump pump_;
  std::unique_ptr<RtMidiIn> in_;
};

}  // namespace q9m::platform::alsa
