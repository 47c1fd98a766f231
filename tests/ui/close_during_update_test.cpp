// Closing the window while an update runs: at once, without a question or a box, in every
// phase of the run, with the worker ended by the time the close returns.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "tests/ui/run_fixture.h"

namespace q9m::testing {
namespace {

using D = ui::CK2pUpdatorDlg;

class CloseDuringUpdateTest : public RunTest {
 protected:
  // A close that waits for a worker which waits for the dialog never returns; the watchdog
  // turns that hang into a failure that says so.
  void SetUp() override {
    RunTest::SetUp();
    watchdog_ = std::thread([this] {
      std::unique_lock lock(watchdogMutex_);
      if (!watchdogDone_.wait_for(lock, std::chrono::seconds(120), [this] { return finished_; })) {
        std::fprintf(stderr,
                     "The dialog did not close within 120 s: the worker and the dialog "
                     "wait for each other.\n");
        std::_Exit(1);
      }
    });
  }
  void TearDown() override {
    RunTest::TearDown();
    {
      std::lock_guard lock(watchdogMutex_);
      finished_ = true;
    }
    watchdogDone_.notify_all();
    watchdog_.join();
  }

  // Presses Execute and notes the worker thread that it started.
  void StartWorker() {
    threadsBefore_ = UnnamedThreads();
    Execute();
    std::set<int> started;
    for (int tid : UnnamedThreads()) {
      if (!threadsBefore_.count(tid)) started.insert(tid);
    }
    ASSERT_EQ(started.size(), 1u);
    worker_ = *started.begin();
  }
  // Starts the run and waits until the device has seen `count` messages of `kind`.
  void StartAndWaitFor(Sent kind, int count) {
    StartWorker();
    ASSERT_TRUE(WaitUntil([&] { return scripted_->Count(kind) >= count; }));
    ASSERT_TRUE(dialog_->Session().Busy());
  }

  // The window is gone, the session closed, the worker thread ended, and nothing more
  // reaches the device or the screen.
  void ExpectClosedQuietly(const ModalWatcher& watcher, size_t boxesBefore = 0) {
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(dialog_->Session().Closed());
    EXPECT_FALSE(dialog_->Session().OutPort().IsOpen());
    EXPECT_FALSE(dialog_->Session().InPort().IsStarted());
    // The worker waited 30 s or more where it was stopped: only the close can have ended it.
    EXPECT_TRUE(WaitUntil([&] { return !ThreadAlive(worker_); }, 5'000));
    const size_t sent = scripted_->Messages().size();
    Spin(200);
    EXPECT_EQ(scripted_->Messages().size(), sent);
    EXPECT_EQ(watcher.Seen().size(), boxesBefore);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(ends_, 0);
  }

  std::set<int> threadsBefore_;
  int worker_ = 0;

 private:
  std::thread watchdog_;
  std::mutex watchdogMutex_;
  std::condition_variable watchdogDone_;
  bool finished_ = false;
};

TEST_F(CloseDuringUpdateTest, ExitWhileWaitingForTheIdentityReply) {
  OpenWith(Silent());
  ModalWatcher watcher;
  StartAndWaitFor(Sent::IdentityRequest, 1);
  ASSERT_TRUE(Button(D::kIdExit)->isEnabled());
  Button(D::kIdExit)->click();
  ExpectClosedQuietly(watcher);
}

TEST_F(CloseDuringUpdateTest, EscapeWhileAnEraseIsUnanswered) {
  OpenWith(WillingExcept([](Sent kind, int) -> std::optional<Bytes> {
    if (kind == Sent::Erase) return Bytes{};
    return std::nullopt;
  }));
  ModalWatcher watcher;
  StartAndWaitFor(Sent::Erase, 1);
  QTest::keyClick(dialog_.get(), Qt::Key_Escape);
  ExpectClosedQuietly(watcher);
}

TEST_F(CloseDuringUpdateTest, CloseBoxWhileWriting) {
  OpenWith(WillingExcept([](Sent kind, int index) -> std::optional<Bytes> {
    if (kind == Sent::Write && index >= 5) return Bytes{};
    return std::nullopt;
  }));
  ModalWatcher watcher;
  StartAndWaitFor(Sent::Write, 6);
  EXPECT_TRUE(dialog_->close());
  ExpectClosedQuietly(watcher);
}

TEST_F(CloseDuringUpdateTest, CloseWhileTheWorkersErrorBoxIsUp) {
  OpenWith([](const Bytes&, Sent kind, int) -> std::optional<Bytes> {
    if (kind == Sent::IdentityRequest) return ScriptedDevice::Identity(0x4C);
    return std::nullopt;
  });
  // The box stays up; the window is closed from under it.
  bool closedFromBox = false;
  ModalWatcher watcher([&](QDialog&) { closedFromBox = dialog_->close(); });
  StartWorker();
  ASSERT_TRUE(WaitUntil([&] { return !watcher.Seen().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->isVisible(); }));
  EXPECT_TRUE(closedFromBox);
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"Illegal device connected."});
  ExpectClosedQuietly(watcher, 1);
}

TEST_F(CloseDuringUpdateTest, CloseWhileTheInProgressBoxIsUp) {
  OpenWith(Silent());
  StartAndWaitFor(Sent::IdentityRequest, 1);
  ModalWatcher watcher([&](QDialog&) { dialog_->close(); });
  dialog_->OnBnClickedExecute();  // returns once the box is gone
  EXPECT_EQ(watcher.Texts(), std::vector<QString>{"In Progress."});
  ExpectClosedQuietly(watcher, 1);
}

TEST_F(CloseDuringUpdateTest, DestroyingTheOpenDialogMidRunEndsTheWorker) {
  OpenWith(Silent());
  StartAndWaitFor(Sent::IdentityRequest, 1);
  dialog_.reset();
  // The worker goes, and the timer's and the port follower's threads with the dialog.
  EXPECT_TRUE(WaitUntil([&] { return !ThreadAlive(worker_); }, 5'000));
  EXPECT_EQ(UnnamedThreads().size(), threadsBefore_.size() - 2);
}

}  // namespace
}  // namespace q9m::testing
