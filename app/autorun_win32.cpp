#include "app/autorun_win32.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "ui/win32/main_dialog_win32.h"
#include "ui/win32/resource.h"
#include "ui/win32/wide_text.h"

namespace q9m::app::win32 {

namespace {

// One line on stdout at once (the tests read it while the program runs). A GUI program has no
// console of its own; run from a shell under wine, its stdout is the shell's.
void PrintLine(const std::wstring& text) {
  std::printf("%s\n", ui::win32::Narrow(text).c_str());
  std::fflush(stdout);
}

std::wstring Environment(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value != nullptr ? value : L"";
}

std::wstring ItemText(HWND list, int index) {
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

// Which ports the lists hold and show: what a failed run's log needs to be understood.
std::wstring Selections(HWND window) {
  std::wstring text = L"Ports:";
  for (const auto& [id, label] :
       {std::pair{IDC_MIDI_OUT, L"MIDI Out"}, std::pair{IDC_MIDI_IN, L"MIDI In"}}) {
    HWND list = GetDlgItem(window, id);
    const int selected = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    text += L" " + std::wstring(label) + L" '" + ItemText(list, selected) + L"' (" +
            std::to_wstring(selected) + L" of " + std::to_wstring(count) + L");";
  }
  return text;
}

// Selects the first item whose text is `name`, byte for byte (CB_FINDSTRINGEXACT ignores
// case), or none.
void SelectPort(HWND list, const std::wstring& name) {
  const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  int found = -1;
  for (int k = 0; k < count && found < 0; ++k) {
    if (ItemText(list, k) == name) found = k;
  }
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
}

}  // namespace

Autorun::Autorun()
    : enabled_(Environment(L"Q9M_UPDATER_AUTORUN") == L"1"),
      port_(Environment(L"Q9M_UPDATER_AUTORUN_PORT")) {}

int Autorun::Box(HWND owner, const std::wstring& text, const std::wstring& caption,
                 UINT type) const {
  if (!enabled_) return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
  PrintLine(L"[" + caption + L"] " + text);
  if ((type & MB_TYPEMASK) == MB_OK) return IDOK;
  // A question is never answered yes on the user's behalf: the run ends there.
  if (owner != nullptr) PostMessageW(owner, WM_CLOSE, 0, 0);
  return IDNO;
}

void Autorun::Attach(ui::win32::CK2pUpdatorDlg& dialog) {
  if (!enabled_) return;
  dialog.ShowBoxesWith([this](HWND owner, const std::wstring& text, const std::wstring& caption,
                              UINT type) { return Box(owner, text, caption, type); });
  dialog.OnExecuteEnded([this, &dialog](bool completed, const std::wstring& outcome) {
    completed_ = completed;
    PrintLine(outcome);
    if (!completed) PrintLine(Selections(dialog.Window()));
    // Posted: the window closes after the handler that reported the end has returned.
    PostMessageW(dialog.Window(), WM_CLOSE, 0, 0);
  });
}

void Autorun::PressExecute(ui::win32::CK2pUpdatorDlg& dialog) const {
  HWND window = dialog.Window();
  if (!enabled_ || window == nullptr) return;
  wchar_t title[128] = {};
  GetWindowTextW(window, title, 128);
  PrintLine(L"Window: " + std::wstring(title));
  if (!port_.empty()) {
    SelectPort(GetDlgItem(window, IDC_MIDI_OUT), port_);
    SelectPort(GetDlgItem(window, IDC_MIDI_IN), port_);
  }
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
}

}  // namespace q9m::app::win32
