// The texts that the user sees, by their string ids. The worker and the dialog take every
// message, caption and activity text from here.
#pragma once

#include <string>

namespace q9m::protocol {

enum StringId : int {
  IDS_ABOUTBOX = 101,
  IDS_TIMEOUT_1 = 102,
  IDS_TIMEOUT_2 = 103,
  IDS_TIMEOUT_3 = 104,
  IDS_ILLEGAL_DEVICE = 105,
  IDS_SET_UPDATE_MODE = 106,
  IDS_TRANSFER_ERROR = 107,
  IDS_UPDATE_COMPLETED = 108,
  IDS_IN_PROGRESS = 109,
  IDS_CANT_OPEN_MIDI_IN = 110,
  IDS_ERROR_CAPTION = 111,
  IDS_CANT_OPEN_MIDI_OUT = 113,
  IDS_ERASING = 114,
  IDS_DATA_TRANSMIT = 115,
  IDS_VERIFYING = 116,
  IDS_VERIFY_AFTER_WRITING = 117,
};

// The text of `id`, or an empty text for an id the table does not hold.
const char* LoadString(int id);

// Text 115 with the bytes acknowledged so far and the total: "Data transmit  %d / %d ".
std::string FormatDataTransmit(int offset, int total);
// The step field: "0/12" and "%d/%d".
std::string FormatStep(int step, int steps);

}  // namespace q9m::protocol
