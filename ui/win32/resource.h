// Resource and control ids of the Windows dialog, shared by the resource script and the code.
// Plain macros, since the resource compiler reads this file too.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The main window's template and the About box's.
#define IDD_Q9M_UPDATER_DIALOG 103
#define IDD_ABOUTBOX 100
// The application icon.
#define IDR_MAINFRAME 128

// Controls of the main window (IDOK is Execute, IDCANCEL is Exit).
#define IDC_MIDI_IN 1000
#define IDC_MIDI_OUT 1001
#define IDC_PROGRESS 1002
#define IDC_ACTIVITY 1003
#define IDC_RESCAN 1004
#define IDC_STEP 1006

// Controls of the About box: the program's name, and which firmware images it carries.
#define IDC_PROGRAM_NAME 1003
#define IDC_IMAGE_ORIGIN 1004

// The About entry in the window's system menu, and the checkable "Verify after writing".
#define IDM_ABOUTBOX 0x0010
#define IDM_VERIFY 0x0020
