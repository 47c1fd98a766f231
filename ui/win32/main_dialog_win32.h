// The updater's main dialog on Windows, from dialog template 103: two MIDI port lists, Execute,
// Rescan Device and Exit, and the step, activity and progress of the running update.
//
// While no update runs, the port lists follow the devices that come and go: a list keeps its
// selection while that port is still there, and otherwise takes the port preselected at start.
// Rescan Device fills both lists afresh, as at start.
//
// The update runs on the session's worker thread, which reports through a MarshalledView:
// each call is posted to this window and made here, in order. An error the worker reports
// holds the worker until the user has dismissed the box. Closing the window (Exit, Esc or the
// close box) releases that wait and dismisses any box still up, then closes the session,
// which ends the worker before anything it may touch is released.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/update_context.h"
#include "protocol/update_view.h"
#include "ui/marshalled_view.h"
#include "ui/port_follower.h"
#include "ui/update_session.h"

namespace q9m::ui::win32 {

class CK2pUpdatorDlg final : private protocol::UpdateView {
 public:
  // `instanceNumber` (1 to 20) picks the title and the port names that are preselected.
  explicit CK2pUpdatorDlg(int instanceNumber,
                          protocol::DeviceState& device = protocol::DeviceState::Process());
  ~CK2pUpdatorDlg() override;
  CK2pUpdatorDlg(const CK2pUpdatorDlg&) = delete;
  CK2pUpdatorDlg& operator=(const CK2pUpdatorDlg&) = delete;

  // Shows the window and runs its modal loop until it closes. The session is closed (the
  // worker ended) by the time it returns.
  void DoModal();

  // `call` runs on the window's thread once the window is up and its loop runs.
  void OnOpened(std::function<void()> call) { onOpened_ = std::move(call); }

  // How the window's message boxes are shown (MessageBoxW's arguments and result); MessageBoxW
  // itself unless replaced, as the unattended test runs do.
  using BoxFunction = std::function<int(HWND owner, const std::wstring& text,
                                        const std::wstring& caption, UINT type)>;
  void ShowBoxesWith(BoxFunction show) { showBox_ = std::move(show); }

  // `call` runs on the window's thread when a press of Execute has come to its end: the update
  // completed, failed (after its error box was dismissed), or could not start. `outcome` is
  // the text the user saw last.
  void OnExecuteEnded(std::function<void(bool completed, const std::wstring& outcome)> call) {
    onExecuteEnded_ = std::move(call);
  }

  // What holds the system awake while the device is written (`systemHold`, may be empty) is
  // joined by a reason on this window that Windows shows when the user shuts down meanwhile.
  void HoldWhileWriting(std::function<std::shared_ptr<void>()> systemHold, std::string reason);

  // The window while it is up, else null; any thread may read it.
  HWND Window() const { return window_.load(); }
  int InstanceNumber() const { return instanceNumber_; }
  UpdateSession& Session() { return session_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam);

  void OnInitDialog();
  void FillPortLists();
  // The follower's call, posted to this window: the ports may have come or gone.
  void OnPortsChanged();
  // Lists the ports again and changes only what changed, keeping each list's selection.
  void FollowPortLists();
  void OnExecute();
  // Asks whether to go on when a chosen port runs through a bridge known to cut long
  // messages; true when none does or the user goes on.
  bool ConfirmBridgedPorts();
  void OnRescan();
  void OnAbout();
  void OnToggleVerify();
  // Starts (true) or ends the reason shown when Windows is shut down during the writes.
  void BlockShutdown(bool block);
  // Every close ends here: Exit, Esc and the close box.
  void OnClose();
  void SetIcons(UINT dpi);

  // The modal error box, captioned "Error"; returns once it was dismissed.
  void ShowError(int stringId);
  void ShowErrorText(const std::wstring& text);
  // Tells OnExecuteEnded's call that the press has come to its end.
  void EndPress(bool completed, const std::wstring& outcome);
  void SetPortControlsEnabled(bool enabled);
  void Enable(int id, bool enabled);

  // protocol::UpdateView, as the marshalled calls arrive on this window's thread.
  void SetActivityText(const std::string& text) override;
  void SetStepText(const std::string& text) override;
  void SetProgressRange(int lowest, int highest) override;
  void SetProgressPosition(int position) override;
  void ReportError(int stringId) override;
  void ReportErrorAt(int stringId, uint32_t address, const std::string& detail) override;
  void RestoreControls() override;
  void EnableExecute(bool enable) override;

  // Releases the worker and ends it; nothing is shown afterwards. Idempotent.
  void Shutdown();

  const int instanceNumber_;
  std::atomic<HWND> window_{nullptr};
  HWND hwnd_ = nullptr;  // this thread's copy
  bool closing_ = false;
  std::function<void()> onOpened_;
  BoxFunction showBox_ = [](HWND owner, const std::wstring& text, const std::wstring& caption,
                            UINT type) {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  };
  std::function<void(bool, const std::wstring&)> onExecuteEnded_;
  std::wstring shutdownReason_;
  HICON largeIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  MarshalledView view_;
  UpdateSession session_;
  std::unique_ptr<PortFollower> follower_;
  std::vector<std::string> outNames_;  // what the lists show, item by item
  std::vector<std::string> inNames_;
};

}  // namespace q9m::ui::win32
