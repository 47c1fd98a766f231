#include "protocol/update_context.h"

namespace q9m::protocol {

DeviceState& DeviceState::Process() {
  static DeviceState state;
  return state;
}

}  // namespace q9m::protocol
