// Inputs from an ALSA port. A thread of the input's own waits on the port's descriptors and
// hands every byte it reads to the receiver, in whatever pieces it comes (the service's parser
// joins System Exclusive). When the device goes away, the thread ends; closing wakes it and
// joins it, so a close never waits for the device.
//
// The buffers on the way: a card's raw MIDI input buffer (made large here, so that the device's
// replies wait while the receiver works; the kernel drops what does not fit); on the sequencer,
// snd-seq-midi turns the card's bytes into events of at most 256 bytes, which wait in this
// client's input pool (made large here; a full pool drops events).
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/alsa/alsa_seq.h"
#include "platform/midi_service.h"

namespace q9m::platform::alsa {

class AlsaInput : public InputSource {
 public:
  explicit AlsaInput(InputReceiver& receiver) : receiver_(receiver) {}
  ~AlsaInput() override;

  void Close() override;

 protected:
  // Starts the thread once the subclass has opened its port.
  MMRESULT StartThread();
  InputReceiver& receiver_;

 private:
  virtual std::vector<pollfd> Descriptors() = 0;
  // Reads what is there; false when the port is gone and reading must end.
  virtual bool ReadAvailable(const std::vector<pollfd>& fds) = 0;
  virtual void ClosePort() = 0;
  void Run();

  int wake_ = -1;  // an eventfd that Close writes to end the thread's wait
  std::thread thread_;
};

// A card's raw MIDI input substream, opened by this program alone.
class RawMidiInput final : public AlsaInput {
 public:
  RawMidiInput(RawMidiAddress address, InputReceiver& receiver)
      : AlsaInput(receiver), address_(address) {}
  ~RawMidiInput() override { Close(); }

  MMRESULT Open();

 private:
  std::vector<pollfd> Descriptors() override;
  bool ReadAvailable(const std::vector<pollfd>& fds) override;
  void ClosePort() override;

  const RawMidiAddress address_;
  snd_rawmidi_t* in_ = nullptr;
};

// A port of a sequencer client of this program's own, subscribed to the source.
class SeqInput final : public AlsaInput {
 public:
  SeqInput(std::string clientName, SeqAddress source, InputReceiver& receiver)
      : AlsaInput(receiver), clientName_(std::move(clientName)), source_(source) {}
  ~SeqInput() override { Close(); }

  MMRESULT Open();

 private:
  std::vector<pollfd> Descriptors() override;
  bool ReadAvailable(const std::vector<pollfd>& fds) override;
  void ClosePort() override;

  const std::string clientName_;
  const SeqAddress source_;
  SeqHandle seq_;
  snd_midi_event_t* decoder_ = nullptr;
  std::vector<uint8_t> bytes_;
};

}  // namespace q9m::platform::alsa
