#include "ui/win32/main_dialog_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "protocol/string_table.h"
#include "ui/instance_name.h"
#include "ui/port_preselection.h"
#include "ui/win32/about_box_win32.h"
#include "ui/win32/resource.h"
#include "ui/win32/resource_strings.h"
#include "ui/win32/wide_text.h"

namespace q9m::ui::win32 {

namespace {

// Posted by the worker's calls: run what the marshalled view has queued.
constexpr UINT kWmWorkerCalls = WM_APP + 1;
// Posted at the end of WM_INITDIALOG: the window is up.
constexpr UINT kWmOpened = WM_APP + 2;
// Posted by the worker's thread when its writes begin (wParam 1) and end (0): only the window's
// own thread may set the window's shutdown reason.
constexpr UINT kWmShutdownBlock = WM_APP + 3;
// Posted by the port follower's thread: the ports may have come or gone.
constexpr UINT kWmPortsChanged = WM_APP + 4;

HINSTANCE Module() {
  return GetModuleHandleW(nullptr);
}

// Item k of the list is port k; item `selected` is selected, or none.
void FillList(HWND list, const std::vector<std::string>& names, int selected) {
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const std::string& name : names) {
    const std::wstring text = Widen(name);
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int Selection(HWND list) {
  const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? kNoSelection : static_cast<int>(index);
}

// Refills `list`, which shows `shown`, with the ports `now` when they differ.
void FollowList(HWND list, std::vector<std::string>& shown, std::vector<std::string> now,
                int instanceNumber) {
  const auto next = FollowedSelection(shown, Selection(list), now, instanceNumber);
  if (!next) return;
  shown = std::move(now);
  FillList(list, shown, *next);
}

HICON LoadAppIcon(int size) {
  return static_cast<HICON>(LoadImageW(Module(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size,
                                       size, LR_DEFAULTCOLOR));
}

// The message boxes and dialogs that `owner` has up on this thread.
std::vector<HWND> OwnedDialogs(HWND owner) {
  struct Search {
    HWND owner;
    std::vector<HWND> found;
  } search{owner, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (GetWindow(window, GW_OWNER) == s->owner && wcscmp(className, L"#32770") == 0) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

CK2pUpdatorDlg::CK2pUpdatorDlg(int instanceNumber, protocol::DeviceState& device)
    : instanceNumber_(instanceNumber),
      view_(*this,
            [this] {
              if (HWND window = window_.load()) PostMessageW(window, kWmWorkerCalls, 0, 0);
            }),
      session_(device) {}

CK2pUpdatorDlg::~CK2pUpdatorDlg() {
  Shutdown();
  if (largeIcon_ != nullptr) DestroyIcon(largeIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void CK2pUpdatorDlg::DoModal() {
  DialogBoxParamW(Module(), MAKEINTRESOURCEW(IDD_Q9M_UPDATER_DIALOG), nullptr, DialogProc,
                  reinterpret_cast<LPARAM>(this));
  Shutdown();  // the window may also have gone without a close (a failed creation)
}

INT_PTR CALLBACK CK2pUpdatorDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CK2pUpdatorDlg*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    dialog->hwnd_ = window;
    dialog->window_.store(window);
  }
  auto* dialog = reinterpret_cast<CK2pUpdatorDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  if (dialog == nullptr) return FALSE;
  return dialog->OnMessage(message, wParam);
}

INT_PTR CK2pUpdatorDlg::OnMessage(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the focus goes to Execute, the first control that takes it
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          OnExecute();
          return TRUE;
        case IDCANCEL:
          OnClose();
          return TRUE;
        case IDC_RESCAN:
          if (HIWORD(wParam) == BN_CLICKED) OnRescan();
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose();
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        OnAbout();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == IDM_VERIFY) {
        OnToggleVerify();
        return TRUE;
      }
      return FALSE;
    case kWmOpened:
      if (onOpened_ && !closing_) onOpened_();
      return TRUE;
    case kWmShutdownBlock:
      BlockShutdown(wParam != 0);
      return TRUE;
    case kWmWorkerCalls:
      view_.RunPending();
      return TRUE;
    case kWmPortsChanged:
      OnPortsChanged();
      return TRUE;
    case WM_DPICHANGED:
      // The dialog manager scales the layout and fonts itself; the icons are chosen per size.
      SetIcons(HIWORD(wParam));
      return FALSE;
    case WM_QUERYDRAGICON:
      SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(largeIcon_));
      return TRUE;
    case WM_DESTROY:
      window_.store(nullptr);
      return FALSE;
  }
  return FALSE;
}

void CK2pUpdatorDlg::OnInitDialog() {
  if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
    const std::wstring about = ResourceString(protocol::IDS_ABOUTBOX);
    if (!about.empty()) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
    // Off by default: whether the device answers reads beyond the version check is not known.
    const std::wstring verify = ResourceString(protocol::IDS_VERIFY_AFTER_WRITING);
    AppendMenuW(menu, MF_STRING | MF_UNCHECKED, IDM_VERIFY, verify.c_str());
  }
  SetIcons(GetDpiForWindow(hwnd_));
  // Watching before the lists are filled, so that no port that comes meanwhile is missed.
  follower_ = std::make_unique<PortFollower>([this] {
    if (HWND window = window_.load()) PostMessageW(window, kWmPortsChanged, 0, 0);
  });
  FillPortLists();
  session_.StartTimer();
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_SETRANGE32, 0, 100);
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_SETPOS, 0, 0);
  SetWindowTextW(hwnd_, Widen(InstanceName(instanceNumber_)).c_str());
  PostMessageW(hwnd_, kWmOpened, 0, 0);
}

void CK2pUpdatorDlg::SetIcons(UINT dpi) {
  HICON large = LoadAppIcon(GetSystemMetricsForDpi(SM_CXICON, dpi));
  HICON small = LoadAppIcon(GetSystemMetricsForDpi(SM_CXSMICON, dpi));
  SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  if (largeIcon_ != nullptr) DestroyIcon(largeIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
  largeIcon_ = large;
  smallIcon_ = small;
}

void CK2pUpdatorDlg::FillPortLists() {
  outNames_ = MidiOutNames();
  FillList(GetDlgItem(hwnd_, IDC_MIDI_OUT), outNames_, PreselectPort(outNames_, instanceNumber_));
  inNames_ = MidiInNames();
  FillList(GetDlgItem(hwnd_, IDC_MIDI_IN), inNames_, PreselectPort(inNames_, instanceNumber_));
}

void CK2pUpdatorDlg::OnPortsChanged() {
  if (!closing_ && follower_->Take(session_.Busy())) FollowPortLists();
}

void CK2pUpdatorDlg::FollowPortLists() {
  FollowList(GetDlgItem(hwnd_, IDC_MIDI_OUT), outNames_, MidiOutNames(), instanceNumber_);
  FollowList(GetDlgItem(hwnd_, IDC_MIDI_IN), inNames_, MidiInNames(), instanceNumber_);
}

void CK2pUpdatorDlg::OnExecute() {
  if (closing_) return;
  if (session_.Busy()) {
    ShowError(protocol::IDS_IN_PROGRESS);
    return;
  }
  if (!ConfirmBridgedPorts()) return;
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  session_.SetVerifyAfterWriting(menu != nullptr &&
                                 (GetMenuState(menu, IDM_VERIFY, MF_BYCOMMAND) & MF_CHECKED) != 0);
  const auto result = session_.Execute(Selection(GetDlgItem(hwnd_, IDC_MIDI_OUT)),
                                       Selection(GetDlgItem(hwnd_, IDC_MIDI_IN)), view_);
  if (result != UpdateSession::ExecuteResult::Started) {
    const std::wstring refusal = Widen(UpdateSession::RefusalText(result));
    ShowErrorText(refusal);
    // A press while busy is no press of its own: the running update reports its end.
    if (result != UpdateSession::ExecuteResult::Busy) EndPress(false, refusal);
    return;
  }
  SetPortControlsEnabled(false);
  // Execute had the focus and is now disabled. On the activity field Enter does nothing and
  // Esc still closes; on Exit, Enter would close the window and cut the update short.
  SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd_, IDC_ACTIVITY)),
               TRUE);
}

bool CK2pUpdatorDlg::ConfirmBridgedPorts() {
  const std::string warning = PortRouteWarning(Selection(GetDlgItem(hwnd_, IDC_MIDI_OUT)),
                                               Selection(GetDlgItem(hwnd_, IDC_MIDI_IN)));
  if (warning.empty()) return true;
  // Asked before anything is sent: an update cut short on the way leaves the flash erased.
  const std::wstring text = Widen(warning + "\n\n" + kBridgedPortsQuestion);
  const std::wstring title = Widen(InstanceName(instanceNumber_));
  const int answer = showBox_(hwnd_, text, title, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
  return answer == IDYES && !closing_;
}

void CK2pUpdatorDlg::OnRescan() {
  if (closing_) return;
  FillPortLists();
  Enable(IDOK, true);
}

void CK2pUpdatorDlg::OnAbout() {
  if (closing_) return;
  RunAboutBox(hwnd_);
}

void CK2pUpdatorDlg::OnToggleVerify() {
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (menu == nullptr) return;
  const bool checked = (GetMenuState(menu, IDM_VERIFY, MF_BYCOMMAND) & MF_CHECKED) != 0;
  CheckMenuItem(menu, IDM_VERIFY, MF_BYCOMMAND | (checked ? MF_UNCHECKED : MF_CHECKED));
}

void CK2pUpdatorDlg::HoldWhileWriting(std::function<std::shared_ptr<void>()> systemHold,
                                      std::string reason) {
  shutdownReason_ = Widen(reason);
  // Called on the worker's thread: the window is told by a posted message, never a sent one,
  // since the window's thread may be waiting for this worker to end.
  struct Held {
    std::atomic<HWND>& window;
    std::shared_ptr<void> system;
    ~Held() {
      if (HWND w = window.load()) PostMessageW(w, kWmShutdownBlock, 0, 0);
    }
  };
  session_.SetHoldWhileWriting([this, systemHold = std::move(systemHold)] {
    auto held = std::make_shared<Held>(Held{window_, systemHold ? systemHold() : nullptr});
    if (HWND w = window_.load()) PostMessageW(w, kWmShutdownBlock, 1, 0);
    return std::shared_ptr<void>(held);
  });
}

void CK2pUpdatorDlg::BlockShutdown(bool block) {
  if (!block) {
    ShutdownBlockReasonDestroy(hwnd_);
    return;
  }
  ShutdownBlockReasonCreate(hwnd_, shutdownReason_.c_str());
}

void CK2pUpdatorDlg::OnClose() {
  Shutdown();
  EndDialog(hwnd_, IDCANCEL);
}

void CK2pUpdatorDlg::ShowError(int stringId) {
  ShowErrorText(ResourceString(stringId));
}

void CK2pUpdatorDlg::ShowErrorText(const std::wstring& text) {
  if (closing_) return;
  const std::wstring caption = ResourceString(protocol::IDS_ERROR_CAPTION);
  showBox_(hwnd_, text, caption, MB_OK | MB_ICONSTOP);
}

void CK2pUpdatorDlg::EndPress(bool completed, const std::wstring& outcome) {
  if (!closing_ && onExecuteEnded_) onExecuteEnded_(completed, outcome);
}

void CK2pUpdatorDlg::Enable(int id, bool enabled) {
  EnableWindow(GetDlgItem(hwnd_, id), enabled ? TRUE : FALSE);
}

void CK2pUpdatorDlg::SetPortControlsEnabled(bool enabled) {
  Enable(IDC_MIDI_IN, enabled);
  Enable(IDC_MIDI_OUT, enabled);
  Enable(IDOK, enabled);
  Enable(IDC_RESCAN, enabled);
}

void CK2pUpdatorDlg::SetActivityText(const std::string& text) {
  SetDlgItemTextW(hwnd_, IDC_ACTIVITY, Widen(text).c_str());
}

void CK2pUpdatorDlg::SetStepText(const std::string& text) {
  SetDlgItemTextW(hwnd_, IDC_STEP, Widen(text).c_str());
}

void CK2pUpdatorDlg::SetProgressRange(int lowest, int highest) {
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(lowest),
                      static_cast<LPARAM>(highest));
}

void CK2pUpdatorDlg::SetProgressPosition(int position) {
  // A position outside the range shows as the nearest end, rather than being ignored.
  PBRANGE range{};
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  const int shown = std::clamp(position, range.iLow, std::max(range.iLow, range.iHigh));
  SendDlgItemMessageW(hwnd_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(shown), 0);
}

void CK2pUpdatorDlg::ReportError(int stringId) {
  const std::wstring text = ResourceString(stringId);
  ShowErrorText(text);
  RestoreControls();
  EndPress(false, text);
}

void CK2pUpdatorDlg::ReportErrorAt(int stringId, uint32_t, const std::string& detail) {
  const std::wstring text = ResourceString(stringId) + L"\n\n" + Widen(detail);
  ShowErrorText(text);
  RestoreControls();
  EndPress(false, text);
}

void CK2pUpdatorDlg::RestoreControls() {
  if (closing_) return;
  SetPortControlsEnabled(true);
  session_.ClearBusy();
  if (follower_ && follower_->ControlsBack()) FollowPortLists();
}

void CK2pUpdatorDlg::EnableExecute(bool enable) {
  if (closing_) return;
  Enable(IDOK, enable);
  // A completed run ends by disabling Execute once the controls are back.
  const std::wstring completed = ResourceString(protocol::IDS_UPDATE_COMPLETED);
  wchar_t activity[128] = {};
  GetDlgItemTextW(hwnd_, IDC_ACTIVITY, activity, 128);
  if (!enable && !session_.Busy() && completed == activity) EndPress(true, completed);
}

void CK2pUpdatorDlg::Shutdown() {
  if (closing_) return;
  closing_ = true;
  follower_.reset();  // no more posts from its thread
  // First the worker's waits, so that it cannot be holding on to a box while the session
  // joins it; then any box still up (an error box, the About box), whose own loop ends once
  // control is back in it.
  view_.Cancel();
  if (hwnd_ != nullptr) {
    // Cancel ends an error box and the About box; No ends the question, which has no Cancel.
    for (HWND box : OwnedDialogs(hwnd_)) {
      SendMessageW(box, WM_COMMAND, IDCANCEL, 0);
      SendMessageW(box, WM_COMMAND, IDNO, 0);
    }
  }
  session_.Close();
}

}  // namespace q9m::ui::win32
