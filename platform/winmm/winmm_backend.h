// Real ports on Windows, through the multimedia MIDI calls of winmm.
//
// The backend lists the system's ports under their names in UTF-8 (read through the wide-
// character calls, so that a Japanese system's "USB オーディオ デバイス" comes through whole),
// finds a listed port again by an id that does not change when device indexes shift, and opens
// it by its device index of that moment. A port that another program holds is refused with
// MMSYSERR_ALLOCATED, which the service's users turn into a message that says so.
#pragma once

#include <memory>
#include <string>

#include "platform/midi_service.h"
#include "platform/winmm/winmm_driver.h"

namespace q9m::platform {

// The backend on the system's winmm (Windows only). `clientName` is not used: winmm ports have
// no client of the program's own. Never fails; *error is left alone.
std::shared_ptr<MidiBackend> MakeWinmmBackend(std::string clientName, std::string* error);

// The backend on any driver layer (the tests' own).
std::shared_ptr<MidiBackend> MakeWinmmBackendOn(std::unique_ptr<winmm::Driver> driver);

}  // namespace q9m::platform
