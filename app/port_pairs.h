// Which MIDI OUT and MIDI IN ports q9m-update-cli --all tries as one device each: the ports
// that share a name.
#pragma once

#include <string>
#include <vector>

namespace q9m::app {

struct PortPair {
  int out;
  int in;
  std::string name;
};

// The ports of the ALSA sequencer's loopback client (snd-seq-dummy), which every ALSA system
// has: it sends back whatever it is sent, so it can never be a device, and trying it would
// only end in a skipped pair and a failed run.
inline constexpr const char* kSequencerLoopbackName = "Midi Through ";
bool IsSequencerLoopback(const std::string& name);

// In the order of the MIDI OUT list; the k-th OUT port of a name pairs with the k-th IN port
// of that name. Ports without a partner, and the sequencer's loopback, are left out.
std::vector<PortPair> PairPortsByName(const std::vector<std::string>& outs,
                                      const std::vector<std::string>& ins);

}  // namespace q9m::app
