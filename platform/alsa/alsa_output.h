// An output to one port of the ALSA sequencer, through librtmidi.
#pragma once

#include <memory>
#include <string>

#include "platform/jack/rtmidi_support.h"
#include "platform/midi_service.h"

namespace q9m::platform::alsa {

class AlsaOutputConnection final : public OutputConnection {
 public:
  AlsaOutputConnection(std::string clientName, std::string destination)
      : clientName_(std::move(clientName)), destination_(std::move(destination)) {}
  ~AlsaOutputConnection() override { Close(); }

  MMRESULT Open();
  MMRESULT SendLong(MIDIHDR* header) override;
  MMRESULT SendShort(uint32_t packed) override;
  void Close() override { out_.reset(); }

 private:
  MMRESULT Send(const uint8_t* bytes, size_t n);

  const std::string clientName_;
  const std::string destination_;
  RtMidiErrorSink errors_;
  std::unique_ptr<RtMidiOut> out_;
};

}  // namespace q9m::platform::alsa
