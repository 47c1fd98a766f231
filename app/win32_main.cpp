// q9m-updater.exe: the updater with its dialog, on the Windows MIDI ports. It takes no
// arguments. Up to 20 copies run side by side, one per device.
#include "app/updator_app_win32.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return q9m::app::win32::theApp.Run();
}
