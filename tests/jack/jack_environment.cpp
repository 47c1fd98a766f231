#include "tests/jack/jack_environment.h"

#include "platform/midi_system.h"

namespace q9m::testing {

namespace {

using namespace q9m::platform;

constexpr int kPeriodFrames = 1024;

class JackEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string error;
    // Periods of 1,024 frames (21 ms): in a sanitizer build on two cores, clients often ran
    // late at 256, and a client that runs a cycle late can miss what a port buffer held.
    server_ = JackServer::Start(&error, kPeriodFrames);
    ASSERT_TRUE(server_) << error;
    backend_ = MakeMidiSystemBackend(kBackendClientName, &error, MidiSystem::Jack);
    ASSERT_TRUE(backend_) << error;
    StartMidiService(backend_);
  }

  void TearDown() override {
    StopMidiService();
    backend_.reset();
    server_.reset();
  }

  static std::shared_ptr<MidiBackend> backend_;

 private:
  std::unique_ptr<JackServer> server_;
};

std::shared_ptr<MidiBackend> JackEnvironment::backend_;

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new JackEnvironment);

template <typename Caps>
std::vector<std::string> Names(uint32_t count, MMRESULT (*getCaps)(uintptr_t, Caps*, uint32_t)) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    Caps caps{};
    EXPECT_EQ(getCaps(i, &caps, sizeof caps), MMSYSERR_NOERROR) << "port " << i;
    names.emplace_back(caps.szPname);
  }
  return names;
}

std::optional<uint32_t> IndexIn(const std::vector<std::string>& names, const std::string& name) {
  std::optional<uint32_t> found;
  for (uint32_t i = 0; i < names.size(); ++i) {
    if (names[i] != name) continue;
    if (found) return std::nullopt;
    found = i;
  }
  return found;
}

}  // namespace

MidiBackend& Backend() {
  return *JackEnvironment::backend_;
}

std::vector<std::string> OutputNames() {
  return Names<MIDIOUTCAPSA>(midiOutGetNumDevs(), &midiOutGetDevCapsA);
}

std::vector<std::string> InputNames() {
  return Names<MIDIINCAPSA>(midiInGetNumDevs(), &midiInGetDevCapsA);
}

std::optional<uint32_t> OutputIndex(const std::string& name) {
  return IndexIn(OutputNames(), name);
}

std::optional<uint32_t> InputIndex(const std::string& name) {
  return IndexIn(InputNames(), name);
}

std::unique_ptr<JackPeer> JackTest::OpenPeer(const std::string& client,
                                             const std::vector<std::string>& inputs,
                                             const std::vector<std::string>& outputs) {
  std::string error;
  auto peer = JackPeer::Open(client, inputs, outputs, &error);
  EXPECT_TRUE(peer) << error;
  return peer;
}

Bytes PatternMessage(size_t n, uint32_t tag) {
  Bytes message(n);
  message[0] = 0xF0;
  for (size_t i = 1; i + 1 < n; ++i) {
    // Bytes 1 to 3 hold the tag, the rest a run that depends on the tag and the position.
    message[i] = static_cast<uint8_t>(i <= 3 ? (tag >> (7 * (i - 1))) & 0x7F
                                             : (tag * 31 + i * 7 + (i >> 7)) & 0x7F);
  }
  message[n - 1] = 0xF7;
  return message;
}

}  // namespace q9m::testing
