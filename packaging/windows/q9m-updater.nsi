; The Windows installer: the programs in one folder, a Start-menu entry, an entry in Windows'
; list of installed apps, and an uninstaller that removes all of it. Built by the
; windows-package target (packaging/windows/CMakeLists.txt), which passes
;   VERSION  the version shown in the list of apps
;   STAGE    the folder with the files to install
;   FILES    a file of "File" lines, one per installed file
;   REMOVALS a file of "Delete" lines for the same files
;   OUTFILE  where the installer goes
;   DIALOG   defined when the dialog program (q9m-updater.exe) is among the files
; Silent use: setup.exe /S [/D=FOLDER] and "FOLDER\uninstall.exe" /S.
; A 64-bit installer for 64-bit programs (and one that wine64 runs without 32-bit wine).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
!include x64.nsh

!define APP_NAME "Q9m Updater"
!define PUBLISHER "Q9m updater developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Q9mUpdater"
!ifdef DIALOG
  !define START_PROGRAM "q9m-updater.exe"
!else
  !define START_PROGRAM "q9m-update-cli.exe"
!endif

Name "${APP_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP_NAME}"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ; The programs are 64-bit: their folder and registry entries are the 64-bit ones.
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !ifdef DIALOG
    CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$INSTDIR\${START_PROGRAM}"
  !else
    ; Without the dialog, the entry opens a console in which q9m-update-cli runs.
    CreateShortcut "$SMPROGRAMS\${APP_NAME}.lnk" "$SYSDIR\cmd.exe" \
      '/k "$INSTDIR\q9m-update-cli.exe" --help' "$INSTDIR\q9m-update-cli.exe"
  !endif
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${START_PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only the files this installer put there: a folder that the user chose and that holds
  ; anything else keeps it, and stays.
  !include "${REMOVALS}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${APP_NAME}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
