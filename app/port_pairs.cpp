#include "app/port_pairs.h"

namespace q9m::app {

bool IsSequencerLoopback(const std::string& name) {
  return name.rfind(kSequencerLoopbackName, 0) == 0;
}

std::vector<PortPair> PairPortsByName(const std::vector<std::string>& outs,
                                      const std::vector<std::string>& ins) {
  std::vector<PortPair> pairs;
  std::vector<bool> taken(ins.size(), false);
  for (size_t o = 0; o < outs.size(); ++o) {
    if (IsSequencerLoopback(outs[o])) continue;
    for (size_t i = 0; i < ins.size(); ++i) {
      if (taken[i] || ins[i] != outs[o]) continue;
      taken[i] = true;
      pairs.push_back({static_cast<int>(o), static_cast<int>(i), outs[o]});
      break;
    }
  }
  return pairs;
}

}  // namespace q9m::app
