// The Windows dialog, driven as a user would: its own thread runs the modal loop, and the test
// presses buttons and keys by posting messages to it and reads the controls back. The device
// is the simulated Q9m on the in-process MIDI service.

// Before windows.h, whose LoadString macro would rename the table's function.
#include "protocol/string_table.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsim/virtual_device.h"
#include "tests/support/virtual_midi_fixture.h"
#include "ui/instance_name.h"
#include "ui/win32/main_dialog_win32.h"
#include "ui/win32/resource.h"
#include "ui/win32/resource_strings.h"
#include "ui/win32/wide_text.h"

#undef LoadString

namespace q9m::testing {
namespace {

using ui::win32::Narrow;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60'000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(5);
  }
  return true;
}

std::string WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);  // another thread's window: answered by WM_GETTEXT
  return Narrow(text);
}

// The texts of a message box's labels, joined.
std::string BoxText(HWND box) {
  std::string text;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        if (_wcsicmp(className, L"Static") == 0)
          *reinterpret_cast<std::string*>(param) += WindowText(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&text));
  return text;
}

class Win32DialogTest : public VirtualMidiTest {
 protected:
  void TearDown() override {
    if (ui_.joinable()) {
      if (HWND window = dialog_->Window()) PostMessageW(window, WM_CLOSE, 0, 0);
      JoinUiThread();
    }
    dialog_.reset();  // ends the worker before the device goes
    device_.reset();
    VirtualMidiTest::TearDown();
  }

  // Adds the simulated device as "USB Audio Device", which the dialog preselects, and opens
  // the dialog on a thread of its own; `setUp` runs before the window opens.
  void Open(devsim::DeviceOptions options = {},
            const std::function<void(ui::win32::CK2pUpdatorDlg&)>& setUp = {}) {
    device_ = std::make_unique<devsim::VirtualDevice>(*service_, "USB Audio Device", options);
    dialog_ = std::make_unique<ui::win32::CK2pUpdatorDlg>(1, state_);
    if (setUp) setUp(*dialog_);
    ui_ = std::thread([this] { dialog_->DoModal(); });
    ASSERT_TRUE(WaitUntil([&] { return dialog_->Window() && IsWindowVisible(dialog_->Window()); }));
    window_ = dialog_->Window();
  }

  // A close that waits for a worker which waits for the window never returns; the watchdog
  // turns that hang into a failure that says so.
  void JoinUiThread() {
    if (!WaitUntil([&] { return dialog_->Window() == nullptr; }, 20'000)) {
      std::fprintf(stderr, "The dialog did not close within 20 s.\n");
      std::_Exit(1);
    }
    ui_.join();
  }

  HWND Item(int id) { return GetDlgItem(window_, id); }
  std::string Text(int id) { return WindowText(Item(id)); }
  // A button press, as the window's own loop receives it.
  void Press(int id) { PostMessageW(Item(id), BM_CLICK, 0, 0); }
  int Selection(int id) { return static_cast<int>(SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }

  // Enabled state of MIDI IN, MIDI OUT, Execute, Rescan Device and Exit, in that order.
  std::vector<bool> Enabled() {
    std::vector<bool> states;
    for (int id : {IDC_MIDI_IN, IDC_MIDI_OUT, IDOK, IDC_RESCAN, IDCANCEL}) {
      states.push_back(IsWindowEnabled(Item(id)) != FALSE);
    }
    return states;
  }

  // The dialogs and message boxes that the window has up.
  std::vector<HWND> Boxes() {
    std::vector<HWND> boxes;
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
      if (GetWindow(w, GW_OWNER) == window_ && IsWindowVisible(w)) boxes.push_back(w);
    }
    return boxes;
  }
  HWND WaitForBox() {
    HWND box = nullptr;
    WaitUntil([&] {
      const auto boxes = Boxes();
      box = boxes.empty() ? nullptr : boxes.front();
      return box != nullptr;
    });
    return box;
  }

  const std::string kCompletedText = protocol::LoadString(protocol::IDS_UPDATE_COMPLETED);
  const std::vector<bool> kAllEnabled = {true, true, true, true, true};
  const std::vector<bool> kRunning = {false, false, false, false, true};
  const std::vector<bool> kCompleted = {true, true, false, true, true};

  protocol::DeviceState state_;
  std::unique_ptr<devsim::VirtualDevice> device_;
  std::unique_ptr<ui::win32::CK2pUpdatorDlg> dialog_;
  std::thread ui_;
  HWND window_ = nullptr;
};

TEST_F(Win32DialogTest, ExecuteUpdatesTheDeviceAndExitCloses) {
  Open();
  EXPECT_EQ(WindowText(window_), ui::kProgramTitle);
  EXPECT_EQ(Selection(IDC_MIDI_OUT), static_cast<int>(device_->outputId));
  EXPECT_EQ(Selection(IDC_MIDI_IN), static_cast<int>(device_->inputId));
  EXPECT_EQ(Enabled(), kAllEnabled);

  Press(IDOK);
  ASSERT_TRUE(WaitUntil([&] { return Text(IDC_ACTIVITY) == kCompletedText; }, 300'000))
      << "activity: " << Text(IDC_ACTIVITY);
  ASSERT_TRUE(WaitUntil([&] { return Enabled() == kCompleted; }));
  EXPECT_EQ(Text(IDC_STEP), "12/12");
  EXPECT_FALSE(dialog_->Session().Busy());
  const auto report = device_->Report();
  EXPECT_TRUE(report.Passed()) << "flash matches: " << report.flashMatchesLayout
                               << ", violations: " << report.violations.size();
  EXPECT_TRUE(Boxes().empty());

  Press(IDCANCEL);
  JoinUiThread();
  EXPECT_TRUE(dialog_->Session().Closed());
}

// Without Rescan Device the lists follow the ports: the chosen port stays chosen while it is
// there, and one that goes gives way to the port preselected at start.
TEST_F(Win32DialogTest, PortListsFollowDevicesThatComeAndGo) {
  Open();
  const auto count = [&](int id) {
    return static_cast<int>(SendMessageW(Item(id), CB_GETCOUNT, 0, 0));
  };
  AddRecordedOutput("VELA T Series");
  service_->AddInput("VELA T Series");
  ASSERT_TRUE(WaitUntil([&] { return count(IDC_MIDI_IN) == 2; }, 10'000));
  EXPECT_EQ(count(IDC_MIDI_OUT), 2);
  EXPECT_EQ(Selection(IDC_MIDI_OUT), 0);
  EXPECT_EQ(Selection(IDC_MIDI_IN), 0);

  service_->UnplugOutput(device_->outputId);
  ASSERT_TRUE(WaitUntil([&] { return count(IDC_MIDI_OUT) == 1; }, 10'000));
  EXPECT_EQ(Selection(IDC_MIDI_OUT), 0);  // "VELA T Series", preselected
  EXPECT_EQ(Selection(IDC_MIDI_IN), 0);
}

TEST_F(Win32DialogTest, EscDuringTheUpdateClosesAtOnceAndQuietly) {
  devsim::DeviceOptions slow;
  slow.writeMsPerBlock = 20;
  Open(slow);
  Press(IDOK);
  ASSERT_TRUE(WaitUntil([&] { return device_->Report().received.writeBlocks >= 3; }));
  EXPECT_EQ(Enabled(), kRunning);

  // Esc on whatever has the focus, through the window's own keyboard handling.
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info));
  ASSERT_NE(info.hwndFocus, nullptr);
  EXPECT_NE(info.hwndFocus, Item(IDCANCEL)) << "Enter would close the window";
  PostMessageW(info.hwndFocus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(info.hwndFocus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  JoinUiThread();

  EXPECT_TRUE(dialog_->Session().Closed());
  EXPECT_FALSE(dialog_->Session().OutPort().IsOpen());
  const uint64_t sent = device_->Report().bytesReceived;
  Sleep(300);
  EXPECT_EQ(device_->Report().bytesReceived, sent) << "the worker went on after the close";
  EXPECT_FALSE(device_->Report().updateCompleted);
}

// A refusing device: the worker's error box, captioned "Error", holds the run until OK; then
// the controls are back. Closing the window while a second one is up neither hangs nor shows
// anything more.
TEST_F(Win32DialogTest, ErrorBoxHoldsTheWorkerAndClosingDuringItEndsCleanly) {
  devsim::DeviceOptions notInUpdateMode;
  notInUpdateMode.updateMode = false;
  Open(notInUpdateMode);
  Press(IDOK);
  HWND box = WaitForBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowText(box), "Error");
  EXPECT_EQ(BoxText(box), protocol::LoadString(protocol::IDS_SET_UPDATE_MODE));
  EXPECT_TRUE(dialog_->Session().Busy()) << "the controls came back before the box was dismissed";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return Enabled() == kAllEnabled && !dialog_->Session().Busy(); }));

  Press(IDOK);
  ASSERT_NE(WaitForBox(), nullptr);
  PostMessageW(window_, WM_CLOSE, 0, 0);
  JoinUiThread();
  EXPECT_TRUE(dialog_->Session().Closed());
}

// What the unattended runs hook in: every box goes to ShowBoxesWith's function instead of the
// screen, and each press reports its end once, a refused one as well as a completed update.
TEST_F(Win32DialogTest, BoxesAndTheEndOfEachPressReachTheirHooks) {
  std::mutex mutex;
  std::vector<std::string> seen;
  auto record = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    seen.push_back(line);
  };
  auto Seen = [&] {
    std::lock_guard lock(mutex);
    return seen;
  };
  Open({}, [&](ui::win32::CK2pUpdatorDlg& dialog) {
    dialog.ShowBoxesWith([&](HWND, const std::wstring& text, const std::wstring& caption, UINT) {
      record("[" + Narrow(caption) + "] " + Narrow(text));
      return IDOK;
    });
    dialog.OnExecuteEnded([&](bool completed, const std::wstring& outcome) {
      record((completed ? "completed: " : "ended: ") + Narrow(outcome));
    });
  });

  SendMessageW(Item(IDC_MIDI_OUT), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Press(IDOK);
  const std::string cantOpen = protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_OUT);
  ASSERT_TRUE(WaitUntil([&] { return Seen().size() >= 2; }));
  EXPECT_EQ(Seen(), (std::vector<std::string>{"[Error] " + cantOpen, "ended: " + cantOpen}));
  EXPECT_TRUE(Boxes().empty());

  SendMessageW(Item(IDC_MIDI_OUT), CB_SETCURSEL, device_->outputId, 0);
  Press(IDOK);
  ASSERT_TRUE(WaitUntil([&] { return Seen().size() >= 3; }, 300'000));
  EXPECT_EQ(Seen().back(), "completed: " + kCompletedText);
  EXPECT_EQ(Seen().size(), 3u);
  EXPECT_TRUE(device_->Report().Passed());
}

TEST_F(Win32DialogTest, SystemMenuOpensTheAboutBox) {
  Open();
  HMENU menu = GetSystemMenu(window_, FALSE);
  wchar_t entry[128] = {};
  GetMenuStringW(menu, IDM_ABOUTBOX, entry, 128, MF_BYCOMMAND);
  EXPECT_EQ(Narrow(entry), protocol::LoadString(protocol::IDS_ABOUTBOX));

  PostMessageW(window_, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = WaitForBox();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(WindowText(about), "About Q9m Updater");
  EXPECT_EQ(WindowText(GetDlgItem(about, IDC_PROGRAM_NAME)), ui::kProgramTitle);
  PostMessageW(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return Boxes().empty(); }));
}

// The resources carry the texts that the worker takes from the string table, id by id.
TEST(Win32Resources, StringTableMatchesTheWorkersTexts) {
  for (int id = 100; id < 120; ++id) {
    EXPECT_EQ(Narrow(ui::win32::ResourceString(id)), protocol::LoadString(id)) << "string " << id;
  }
}

}  // namespace
}  // namespace q9m::testing
