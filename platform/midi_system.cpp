#include "platform/midi_system.h"

#include <algorithm>

#include "platform/utf8_cut.h"
#ifdef _WIN32
#include "platform/winmm/winmm_backend.h"
#else
#include "platform/alsa/alsa_backend.h"
#include "platform/jack/jack_backend.h"
#endif

namespace q9m::platform {

namespace {

// JACK client names are at most 64 bytes with the terminator, and the server may append "-NN"
// to make a taken name unique.
constexpr size_t kMaxClientNameBytes = 56;

// A client name that JACK and ALSA take as it is: no ':' (it separates client and port),
// short enough for JACK to add its "-NN", and no UTF-8 sequence cut in half.
std::string UsableClientName(std::string name) {
  std::replace(name.begin(), name.end(), ':', ' ');
  if (name.empty()) name = "MIDI";
  name.resize(Utf8CutLength(name.data(), name.size(), name.size(), kMaxClientNameBytes));
  return name;
}

}  // namespace

std::shared_ptr<MidiBackend> MakeMidiSystemBackend(std::string clientName, std::string* error,
                                                   MidiSystem system) {
  clientName = UsableClientName(std::move(clientName));
#ifdef _WIN32
  // Windows has one MIDI system for programs: winmm (Windows MIDI Services serves it too).
  if (system == MidiSystem::Automatic || system == MidiSystem::Winmm) {
    return MakeWinmmBackend(std::move(clientName), error);
  }
  if (error) *error = "No MIDI system is available: only winmm serves MIDI on Windows.";
  return nullptr;
#else
  std::string alsaWhy = "not tried";
  std::string jackWhy = "not tried";
  if (system == MidiSystem::Winmm) {
    if (error) *error = "No MIDI system is available: winmm is Windows' own.";
    return nullptr;
  }
  if (system != MidiSystem::Jack) {
    if (auto backend = MakeAlsaBackend(clientName, &alsaWhy)) return backend;
  }
  if (system != MidiSystem::Alsa) {
    if (auto backend = MakeJackBackend(clientName, &jackWhy)) return backend;
  }
  if (error) {
    *error =
        "No MIDI system is available: the ALSA sequencer: " + alsaWhy + "; JACK: " + jackWhy + ".";
  }
  return nullptr;
#endif
}

bool StartRealMidiService(std::string clientName, std::string* error, MidiSystem system) {
  auto backend = MakeMidiSystemBackend(std::move(clientName), error, system);
  if (!backend) return false;
  StartMidiService(std::move(backend));
  return true;
}

}  // namespace q9m::platform
