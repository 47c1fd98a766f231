// The MIDI system when none can be reached: the program's own one-line reason, and nothing
// from libjack on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/midi_system.h"

namespace q9m::platform {
namespace {

TEST(MidiSystem, NoJackServerIsSaidInOurWordsAndLibjackStaysQuiet) {
  setenv("JACK_DEFAULT_SERVER", "q9m-test-no-such-server", 1);
  std::FILE* captured = std::tmpfile();
  ASSERT_NE(captured, nullptr);
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(fileno(captured), STDERR_FILENO);
  std::string error;
  const auto backend = MakeMidiSystemBackend("q9m-test", &error, MidiSystem::Jack);
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  unsetenv("JACK_DEFAULT_SERVER");

  EXPECT_EQ(backend, nullptr);
  EXPECT_NE(error.find("JACK: no JACK server is running (status 0x"), std::string::npos) << error;
  std::rewind(captured);
  char line[256] = {};
  const bool wrote = std::fgets(line, sizeof line, captured) != nullptr;
  std::fclose(captured);
  EXPECT_FALSE(wrote) << line;
}

}  // namespace
}  // namespace q9m::platform
