// Why the last open of a port was refused, kept for the user's message: the ports pass on only
// whether an open succeeded, while "in use by another program" is what the user can act on.
#pragma once

#include <string>

#include "platform/midi_types.h"

namespace q9m::platform {

enum class PortDirection { Output, Input };

// Records the result of an open of a port in `direction` (MMSYSERR_NOERROR clears the reason).
void NoteOpenResult(PortDirection direction, MMRESULT result);

// The reason for the last refused open in `direction`, as a clause ("the port is in use by
// another program"); empty when the last open succeeded or none was refused.
std::string LastOpenRefusal(PortDirection direction);

// The clause for a refused open's result.
std::string OpenRefusalText(MMRESULT result);

}  // namespace q9m::platform
