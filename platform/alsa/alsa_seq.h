// What the ALSA backend's parts share: sequencer handles, what the sequencer says about a
// port, the fill of the kernel buffer that a port's bytes wait in, and a raw MIDI substream's
// poll descriptors.
#pragma once

#include <alsa/asoundlib.h>
#include <poll.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/alsa/alsa_port_names.h"

namespace q9m::platform::alsa {

struct SeqCloser {
  void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using SeqHandle = std::unique_ptr<snd_seq_t, SeqCloser>;

// The capabilities of the program's own ports: none that another program could use to
// subscribe to the port or to subscribe it to another, and hidden from their lists.
inline constexpr unsigned int kUnexportedPort = SND_SEQ_PORT_CAP_NO_EXPORT;

// Opens a sequencer client named `clientName` for `streams` (SND_SEQ_OPEN_INPUT, _OUTPUT or
// _DUPLEX), not blocking. Nothing, with alsa-lib's error in *error, when it cannot be opened.
SeqHandle OpenSeq(const std::string& clientName, int streams, int* error);

// A sequencer port as the sequencer describes it.
struct SeqPort {
  SeqAddress address;
  std::string client;  // the client's name: the device's own name for a kernel client
  std::string port;
  int card = -1;          // the client's sound card, or negative for none
  bool hardware = false;  // the port is of the hardware type (snd-seq-midi's ports are)
  unsigned int caps = 0;  // SND_SEQ_PORT_CAP_*
  // Tells this port apart from one that another device gets at the same address later: for a
  // card's port the card's long name, which says where the device is plugged in ("... at
  // usb-0000:00:14.0-2, full speed"), and the port's name; for a program's, its client's name
  // and the port's.
  std::string identity;
};

// What a card's control device says of the card; empty texts when it cannot be read.
struct CardInfo {
  std::string driver;
  std::string longName;
};
CardInfo ReadCardInfo(int card);

// Every port of every client but the system's, in client and port order, with identities.
std::vector<SeqPort> ListSeqPorts(snd_seq_t* seq);
// The port at `address` now, or nothing when it is gone; its identity only when asked for
// (that reads the card's control device).
std::optional<SeqPort> DescribeSeqPort(snd_seq_t* seq, SeqAddress address, bool identify = false);

// The raw MIDI substream behind a port that snd-seq-midi made for a card's raw MIDI device (see
// RawMidiBehindPort), asking the card's control device for the names.
std::optional<RawMidiAddress> RawMidiOfPort(const SeqPort& port);

// The raw MIDI substream whose buffer holds the bytes sent to `port` until they leave: the
// card's output substream behind a hardware port, or the far end's input of a VirMIDI port.
struct PacingBuffer {
  RawMidiAddress address;  // subdevice -1: any open substream of the device
  bool output = true;
};
std::optional<PacingBuffer> PacingBufferOf(const SeqPort& port);
// The fill of that buffer now, read from /proc/asound; nothing when it cannot be read.
std::optional<BufferFill> ReadPacingBuffer(const PacingBuffer& buffer);

// The descriptors to poll for an open raw MIDI substream; empty when alsa-lib gives none.
std::vector<pollfd> RawMidiPollDescriptors(snd_rawmidi_t* rawmidi);

}  // namespace q9m::platform::alsa
