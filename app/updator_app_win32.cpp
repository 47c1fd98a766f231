#include "app/updator_app_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>

#include "app/autorun_win32.h"
#include "app/instance_numbering.h"
#include "app/sleep_hold.h"
#include "platform/midi_service.h"
#include "platform/midi_system.h"
#include "ui/win32/main_dialog_win32.h"
#include "ui/win32/wide_text.h"

namespace q9m::app::win32 {

CK2pUpdatorApp theApp;

namespace {

// The program file's name without its extension: the caption of the start-up boxes.
std::wstring ApplicationName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  name = name.substr(name.find_last_of(L"\\/") + 1);
  const size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

void ShowMidiProblem(const Autorun& autorun, HWND owner, const std::string& reason) {
  const std::wstring text = ui::win32::Widen(
      "No MIDI system could be reached, so the port lists are empty.\n\nReason: " + reason +
      "\n\nConnect the device, then press Rescan Device.");
  autorun.Box(owner, text, L"No MIDI system", MB_OK | MB_ICONWARNING);
}

}  // namespace

int CK2pUpdatorApp::Run() {
  InitInstance();
  return exitStatus_;
}

bool CK2pUpdatorApp::InitInstance() {
  // Every standard class, the progress bar among them; the result is not examined.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
  InitCommonControlsEx(&controls);
  Autorun autorun;

  const InstanceClaim claim = TakeInstanceNumber();
  instanceMutex = claim.mutex;
  instanceNumber = claim.number;
  if (instanceNumber == 0) {
    autorun.Box(nullptr, ui::win32::Widen(TooManyInstancesText()), ApplicationName(),
                MB_OK | MB_ICONEXCLAMATION);
    exitStatus_ = 1;
    return false;
  }

  std::string midiError;
  const bool midi = platform::StartRealMidiService(MidiClientName(instanceNumber), &midiError);
  {
    ui::win32::CK2pUpdatorDlg dialog(instanceNumber);
    // A GUI program has no console: a hold that cannot be had goes unsaid here.
    dialog.HoldWhileWriting(SleepHoldWhileWriting(nullptr), kSleepHoldReason);
    autorun.Attach(dialog);
    // Once the window is up, so that a box has it as its owner.
    dialog.OnOpened([&] {
      if (!midi) ShowMidiProblem(autorun, dialog.Window(), midiError);
      autorun.PressExecute(dialog);
    });
    dialog.DoModal();
  }
  platform::StopMidiService();
  if (autorun.enabled()) exitStatus_ = autorun.completed() ? 0 : 1;
  return false;
}

}  // namespace q9m::app::win32
