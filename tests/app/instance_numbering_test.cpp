// Instance numbering across real processes: stand-in copies that hold numbers as the updater
// does, and the updater itself (offscreen, automated) for what the user sees.
#include "app/instance_numbering.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/app/child_process.h"

namespace q9m::app {
namespace {

using test::ChildProcess;

class InstanceNumberingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/q9m-instances-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;  // mkdtemp makes it 0700
  }
  void TearDown() override {
    copies_.clear();
    std::filesystem::remove_all(folder_);
  }

  std::vector<std::string> Environment() const {
    return {"XDG_RUNTIME_DIR=" + folder_, "QT_QPA_PLATFORM=offscreen", "Q9M_UPDATER_AUTORUN=1",
            // No JACK server of anybody else's is ever reached.
            "JACK_DEFAULT_SERVER=q9m-instances-none"};
  }

  // Starts a stand-in copy and returns the number it took (0 when refused).
  int StartCopy() {
    copies_.push_back(std::make_unique<ChildProcess>(Q9M_INSTANCE_PROBE, std::vector<std::string>{},
                                                     Environment()));
    return NumberOf(copies_.back()->ReadLine());
  }

  static int NumberOf(const std::string& line) {
    if (line.rfind("instance ", 0) != 0) return 0;
    return std::stoi(line.substr(9));
  }

  // Runs the updater to its end and returns everything it printed.
  std::string RunUpdater(int* status) {
    ChildProcess updater(Q9M_UPDATER, {}, Environment());
    std::string output = updater.ReadAll();
    *status = updater.Wait();
    return output;
  }

  std::string folder_;
  std::vector<std::unique_ptr<ChildProcess>> copies_;
};

TEST_F(InstanceNumberingTest, EachCopyTakesTheLowestFreeNumberAndAnEndedCopyFreesIt) {
  EXPECT_EQ(StartCopy(), 1);
  EXPECT_EQ(StartCopy(), 2);
  EXPECT_EQ(StartCopy(), 3);

  // Copy 2 ends normally: with 1 and 3 running, the next copy is 2.
  copies_[1]->CloseInput();
  EXPECT_EQ(copies_[1]->Wait(), 0);
  EXPECT_EQ(StartCopy(), 2);

  // Copy 1 is killed outright: the kernel frees its number all the same.
  copies_[0]->Kill(SIGKILL);
  EXPECT_EQ(copies_[0]->Wait(), 128 + SIGKILL);
  EXPECT_EQ(StartCopy(), 1);
  EXPECT_EQ(StartCopy(), 4);
}

TEST_F(InstanceNumberingTest, TwentyCopiesStartedAtOnceGetTwentyNumbersAndTheNextIsRefused) {
  // All started before any is read, so their start-ups overlap.
  for (int i = 0; i < kMaxInstances; ++i) {
    copies_.push_back(std::make_unique<ChildProcess>(Q9M_INSTANCE_PROBE, std::vector<std::string>{},
                                                     Environment()));
  }
  std::set<int> numbers;
  for (auto& copy : copies_) numbers.insert(NumberOf(copy->ReadLine()));
  std::set<int> expected;
  for (int n = 1; n <= kMaxInstances; ++n) expected.insert(n);
  EXPECT_EQ(numbers, expected);

  EXPECT_EQ(StartCopy(), 0);
  EXPECT_EQ(copies_.back()->Wait(), 1);
}

TEST_F(InstanceNumberingTest, TheUpdaterShowsItsNumberInTheTitle) {
  ASSERT_EQ(StartCopy(), 1);
  ASSERT_EQ(StartCopy(), 2);
  ASSERT_EQ(StartCopy(), 3);
  copies_[1]->CloseInput();
  ASSERT_EQ(copies_[1]->Wait(), 0);

  int status = -1;
  const std::string output = RunUpdater(&status);
  EXPECT_NE(output.find("Window: Vela Q9m System v2.00 Updater (2)\n"), std::string::npos)
      << output;
  // No MIDI system here, so the automated press ends with the error, status 1.
  EXPECT_NE(output.find("Can't open MIDI Out device."), std::string::npos) << output;
  EXPECT_EQ(status, 1);
}

TEST_F(InstanceNumberingTest, TheUpdaterRefusesATwentyFirstCopyWithoutAWindow) {
  for (int n = 1; n <= kMaxInstances; ++n) ASSERT_EQ(StartCopy(), n);

  int status = -1;
  const std::string output = RunUpdater(&status);
  EXPECT_EQ(output,
            "[q9m-updater] It is forbidden to launch more than 20 instance of this "
            "application.\n");
  EXPECT_EQ(status, 1);
  // The running copies are not affected.
  copies_[0]->CloseInput();
  EXPECT_EQ(copies_[0]->Wait(), 0);
}

// A stop signal closes the window as Exit does, here with the notice of the missing MIDI
// system still up, and the program ends normally.
TEST_F(InstanceNumberingTest, TheUpdaterEndsOnAStopSignalAsExitDoes) {
  for (const int signal : {SIGTERM, SIGINT}) {
    ChildProcess updater(Q9M_UPDATER, {},
                         {"XDG_RUNTIME_DIR=" + folder_, "QT_QPA_PLATFORM=offscreen",
                          "JACK_DEFAULT_SERVER=q9m-instances-none"});
    // The copy holds its number once the toolkit has started, after the signals were blocked.
    const auto numbered = [&] {
      for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        if (entry.path().extension() == ".lock") return true;
      }
      return false;
    };
    for (int i = 0; i < 200 && !numbered(); ++i) usleep(50'000);
    ASSERT_TRUE(numbered());
    usleep(300'000);  // the window and the notice come up
    updater.Kill(signal);
    updater.ReadAll(20'000);  // returns once the program has ended
    EXPECT_EQ(updater.Wait(), 0) << "signal " << signal;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      std::filesystem::remove(entry.path());
    }
  }
}

TEST_F(InstanceNumberingTest, TheUpdaterWillNotRunUnnumberedInAFolderOthersCanWrite) {
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  int status = -1;
  const std::string output = RunUpdater(&status);
  EXPECT_NE(output.find("[q9m-updater] The updater cannot start: the folder " + folder_ +
                        " may be written to by other users."),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("Window:"), std::string::npos) << output;
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace q9m::app
