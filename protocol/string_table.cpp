#include "protocol/string_table.h"

#include <cstdio>

namespace q9m::protocol {

const char* LoadString(int id) {
  switch (id) {
    case IDS_ABOUTBOX:
      return "About VELA Q9m Updater(&A)...";
    case IDS_TIMEOUT_1:
      return "Time out error(1)";
    case IDS_TIMEOUT_2:
      return "Time out error(2)";
    case IDS_TIMEOUT_3:
      return "Time out error(3)";
    case IDS_ILLEGAL_DEVICE:
      return "Illegal device connected.";
    case IDS_SET_UPDATE_MODE:
      return "Please set the Version update mode.";
    case IDS_TRANSFER_ERROR:
      return "Transfer error occurred.";
    case IDS_UPDATE_COMPLETED:
      return "Version update completed.";
    case IDS_IN_PROGRESS:
      return "In Progress.";
    case IDS_CANT_OPEN_MIDI_IN:
      return "Can't open MIDI In device.";
    case IDS_ERROR_CAPTION:
      return "Error";
    case IDS_CANT_OPEN_MIDI_OUT:
      return "Can't open MIDI Out device.";
    case IDS_ERASING:
      return "Erasing Flash memory.";
    case IDS_DATA_TRANSMIT:
      return "Data transmit  %d / %d ";
    case IDS_VERIFYING:
      return "Verifying";
    case IDS_VERIFY_AFTER_WRITING:
      return "Verify after writing";
    default:
      return "";
  }
}

std::string FormatDataTransmit(int offset, int total) {
  char text[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(text, sizeof text, LoadString(IDS_DATA_TRANSMIT), offset, total);
#pragma GCC diagnostic pop
  return text;
}

std::string FormatStep(int step, int steps) {
  char text[32];
  if (step == 0) {
    std::snprintf(text, sizeof text, "0/%d", steps);
  } else {
    std::snprintf(text, sizeof text, "%d/%d", step, steps);
  }
  return text;
}

}  // namespace q9m::protocol
