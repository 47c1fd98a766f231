// What every JACK test program shares: its own JACK server, started once for the program, and
// the JACK backend on it, running as the MIDI service. Each test opens its own peers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi_service.h"
#include "tests/support/jack_server.h"

namespace q9m::testing {

// The name under which the backend opens its JACK clients.
inline constexpr char kBackendClientName[] = "q9m-updater";

// The backend that the environment started (also the running MIDI service).
platform::MidiBackend& Backend();

// Listed names, read through the service as a port user reads them.
std::vector<std::string> OutputNames();
std::vector<std::string> InputNames();
// Index of the listed port with this name, if exactly one has it.
std::optional<uint32_t> OutputIndex(const std::string& name);
std::optional<uint32_t> InputIndex(const std::string& name);

// A fixture with a fresh device peer for each test.
class JackTest : public ::testing::Test {
 protected:
  // Opens a peer client; fails the test when it cannot.
  std::unique_ptr<JackPeer> OpenPeer(const std::string& client,
                                     const std::vector<std::string>& inputs,
                                     const std::vector<std::string>& outputs);
};

using Bytes = std::vector<uint8_t>;

// A System Exclusive message of `n` bytes (n >= 2) whose body tells `tag` and the position of
// each byte, so that a message cut, merged or mixed with another one cannot match.
Bytes PatternMessage(size_t n, uint32_t tag);

}  // namespace q9m::testing
