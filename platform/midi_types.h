// Types and constants of the MIDI service, shaped after the multimedia MIDI API that the
// ports are written against: result codes, headers of long messages, capability records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/utf8_cut.h"

namespace q9m::platform {

using MMRESULT = uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT MIDIERR_UNPREPARED = 64;
inline constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
inline constexpr MMRESULT MIDIERR_NOTREADY = 67;

// Open handles. 0 means "no port"; the service never hands out the same value twice, so a
// stale handle is refused (MMSYSERR_INVALHANDLE) instead of reaching another port.
enum class HMIDIOUT : uintptr_t {};
enum class HMIDIIN : uintptr_t {};

// Header of a long (System Exclusive) message, owned by the caller.
struct MIDIHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  MIDIHDR* lpNext = nullptr;
  uintptr_t reserved = 0;
  uint32_t dwOffset = 0;
  uintptr_t dwReserved[4] = {};
};

inline constexpr uint32_t MHDR_DONE = 0x1;
inline constexpr uint32_t MHDR_PREPARED = 0x2;
inline constexpr uint32_t MHDR_INQUEUE = 0x4;

// Port names are at most 31 characters and a terminator. The MIDI systems report names in
// UTF-8, so the record holds 31 characters of up to 4 bytes each, and the terminator.
inline constexpr size_t kPortNameMaxChars = 31;
inline constexpr size_t MAXPNAMELEN = kPortNameMaxChars * kMaxUtf8CharBytes + 1;

struct MIDIOUTCAPSA {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  char szPname[MAXPNAMELEN] = {};
  uint16_t wTechnology = 0;
  uint16_t wVoices = 0;
  uint16_t wNotes = 0;
  uint16_t wChannelMask = 0;
  uint32_t dwSupport = 0;
};

struct MIDIINCAPSA {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  char szPname[MAXPNAMELEN] = {};
  uint32_t dwSupport = 0;
};

// Bytes of a packed short message with this status byte, status included.
inline size_t ShortMessageLength(uint8_t status) {
  if (status >= 0xF8 || status == 0xF6) return 1;
  if ((status & 0xE0) == 0xC0 || status == 0xF1 || status == 0xF3) return 2;
  return 3;
}

// Input callback: handle, message, instance value, parameter 1, parameter 2.
using MidiInProc = void (*)(HMIDIIN, uint32_t, uintptr_t, uintptr_t, uintptr_t);

inline constexpr uint32_t CALLBACK_NULL = 0x00000;
inline constexpr uint32_t CALLBACK_FUNCTION = 0x30000;

inline constexpr uint32_t MIM_OPEN = 0x3C1;
inline constexpr uint32_t MIM_CLOSE = 0x3C2;
inline constexpr uint32_t MIM_DATA = 0x3C3;
inline constexpr uint32_t MIM_LONGDATA = 0x3C4;
inline constexpr uint32_t MIM_ERROR = 0x3C5;
inline constexpr uint32_t MIM_LONGERROR = 0x3C6;

}  // namespace q9m::platform
