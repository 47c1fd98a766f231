#include "ui/win32/about_box_win32.h"

#include "firmware/image_origin.h"
#include "ui/instance_name.h"
#include "ui/win32/resource.h"
#include "ui/win32/wide_text.h"

namespace q9m::ui::win32 {

namespace {

INT_PTR CALLBACK AboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextW(box, IDC_PROGRAM_NAME, Widen(kProgramTitle).c_str());
      SetDlgItemTextW(box, IDC_IMAGE_ORIGIN, Widen(firmware::ImageOriginText()).c_str());
      return TRUE;  // the focus goes to OK
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(box, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

void RunAboutBox(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, AboutProc, 0);
}

}  // namespace q9m::ui::win32
