// What a sequencer port is, told from what the sequencer says about it: its address, the raw
// MIDI device behind it, and the kernel buffer that its bytes wait in.
//
// Kept free of alsa-lib so that the rules can be checked without a sequencer.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace q9m::platform::alsa {

// A sequencer port's address, written "client:port" as the port's id in the lists.
struct SeqAddress {
  int client = 0;
  int port = 0;
  bool operator==(const SeqAddress&) const = default;
};
std::string FormatSeqAddress(SeqAddress address);
std::optional<SeqAddress> ParseSeqAddress(const std::string& id);

// A substream of a card's raw MIDI device: "hw:card,device,subdevice".
struct RawMidiAddress {
  int card = 0;
  int device = 0;
  int subdevice = 0;
  bool operator==(const RawMidiAddress&) const = default;
};
std::string RawMidiName(RawMidiAddress address);

// What a card says of one raw MIDI device, as snd-seq-midi reads it to name the device's ports.
struct RawMidiDescription {
  std::string name;           // the device's name
  std::string subdeviceName;  // the port's subdevice: its output's name, else its input's
  int subdevices = 0;         // the larger of the device's output and input subdevice counts
};
// The description of the device and subdevice at `address`, or nothing when there is none.
using DescribeRawMidi = std::function<std::optional<RawMidiDescription>(RawMidiAddress)>;

// The raw MIDI substream behind a port that snd-seq-midi made for a card's raw MIDI device: it
// numbers the ports device * 32 + subdevice and names each after its subdevice, else after its
// device (sound/core/seq/seq_midi.c). Other hardware ports of a card's client (a wavetable
// synth's, a UMP group's) follow neither rule, so the name must match too. `card` is the
// client's card, or negative for none.
std::optional<RawMidiAddress> RawMidiBehindPort(int card, int port, bool hardwarePort,
                                                const std::string& portName,
                                                const DescribeRawMidi& describe);

// The raw MIDI device of a VirMIDI port: snd-virmidi names each device's client "Virtual Raw
// MIDI <card>-<device>" (sound/core/seq/seq_virmidi.c). Its raw device is the far end: what is
// sent to the port arrives there as input.
std::optional<RawMidiAddress> VirMidiDeviceOfClient(const std::string& clientName);

// Bytes that wait in a raw MIDI substream's buffer, read from the card's
// /proc/asound/cardC/midiD text: for an output substream those not yet taken by the driver, for
// an input substream (the far end of a VirMIDI port) those not yet read. Nothing when the
// substream is not open or the text does not say. With `subdevice` negative, the fullest open
// substream of that direction counts.
struct BufferFill {
  size_t size = 0;     // the buffer's size in bytes
  size_t waiting = 0;  // bytes in it
  bool operator==(const BufferFill&) const = default;
};
std::optional<BufferFill> ReadBufferFill(const std::string& procText, bool output, int subdevice);

}  // namespace q9m::platform::alsa
