; The Windows installer, Ovrin70-VERSION-setup.exe, made by
; cmake/windows_installer.sh: per user, with no administrator, into
; %LOCALAPPDATA%\Programs\Ovrin70, the programs and the DLL of the machine's
; word size (both are inside), registered under HKCU alone.
;   makensis /DVERSION=x.y.z /DSTAGE=folder /DOUTFILE=file [/DTARGET=amd64-unicode] Ovrin70.nsi
; STAGE holds x64/ and x86/ (ovrin-tray.exe, ovrin.exe, Ovrin70.dll),
; README.txt, LICENSE.txt, THIRD-PARTY.txt and ovrin-tray.ico. The x86 stub
; (the default) runs on 32- and 64-bit Windows; TARGET builds the same
; installer as a 64-bit program, for machines that run no 32-bit ones.
; The uninstaller keeps the settings and the readings log unless its box is
; ticked or it is given /REMOVEDATA (with /S too).
Unicode true
!ifdef TARGET
  Target ${TARGET}
!endif
!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ovrin70"
; What the tray's own "Start with Windows" writes (tools/ovrin-tray/settings.cpp),
; so that its menu and the installer change the one value.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Ovrin70 Tray"
!define SETTINGS_KEY "Software\Ovrin70\Tray"

Name "Ovrin70"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Ovrin70"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" InstallLocation
BrandingText "Ovrin70 ${VERSION}"
; The same inputs give the same bytes: no file times, one compressor.
SetCompressor /SOLID lzma
SetDateSave off
SetOverwrite on
; A file that cannot be replaced (a program of it still running) ends the
; install with an error: Retry or Cancel, and a silent one fails, rather
; than leaving a mix of two versions that reports success.
AllowSkipFiles off

!define MUI_ICON "${STAGE}\ovrin-tray.ico"
!define MUI_UNICON "${STAGE}\ovrin-tray.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
Page custom StartupPage StartupPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\ovrin-tray.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Ovrin70 now"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.DataPage un.DataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Ovrin70"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Ovrin70 ${VERSION} setup"
VIAddVersionKey "CompanyName" "Ovrin70"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 the Ovrin70 developers"
VIAddVersionKey "OriginalFilename" "Ovrin70-${VERSION}-setup.exe"

Var StartWithWindows  ; 1: the Run value is written
Var StartupBox
Var RemoveData        ; 1: the uninstaller removes the settings and the log too
Var RemoveBox

; The tray program running from FOLDER is asked to end, and waited for
; (ovrin-tray.exe --quit returns when it has), so its files can be replaced.
!macro QuitTray FOLDER
  ${If} ${FileExists} "${FOLDER}\ovrin-tray.exe"
    ExecWait '"${FOLDER}\ovrin-tray.exe" --quit'
  ${EndIf}
!macroend

!macro Programs ARCH
  File "${STAGE}\${ARCH}\ovrin-tray.exe"
  File "${STAGE}\${ARCH}\ovrin.exe"
  File "${STAGE}\${ARCH}\Ovrin70.dll"
!macroend

Function .onInit
  ; A fresh install starts with Windows; an upgrade keeps what the program's
  ; menu last chose.
  StrCpy $StartWithWindows 1
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    ReadRegStr $1 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $1 == ""
      StrCpy $StartWithWindows 0
    ${EndIf}
  ${EndIf}
FunctionEnd

Function StartupPage
  !insertmacro MUI_HEADER_TEXT "Start with Windows" "Whether Ovrin70 starts when you log on."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateCheckbox} 0 0 100% 12u "Start with Windows"
  Pop $StartupBox
  ${If} $StartWithWindows == 1
    ${NSD_Check} $StartupBox
  ${EndIf}
  ${NSD_CreateLabel} 0 20u 100% 36u "Ovrin70 then waits in the notification area for the meter. Its menu's Start with Windows changes this later."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function StartupPageLeave
  ${NSD_GetState} $StartupBox $StartWithWindows
FunctionEnd

; Whether FILE (in FOLDER) is held by a running program: $2 names it.
!macro HeldFile FOLDER FILE
  ${If} $2 == ""
  ${AndIf} ${FileExists} "${FOLDER}\${FILE}"
    ClearErrors
    FileOpen $1 "${FOLDER}\${FILE}" a
    ${If} ${Errors}
      StrCpy $2 "${FOLDER}\${FILE}"
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
!macroend

; Nothing of ours in FOLDER (on the stack) is held by a running program, or
; the install ends (Cancel, or /S) with status 2 before it changes anything:
; a half-replaced copy would mix two versions. A program that was asked to
; quit is given some seconds to be gone.
Function EnsureFree
  Exch $0
  Push $1
  Push $2
  Push $3
  StrCpy $3 0
  retry:
    StrCpy $2 ""
    !insertmacro HeldFile $0 ovrin-tray.exe
    !insertmacro HeldFile $0 ovrin.exe
    !insertmacro HeldFile $0 Ovrin70.dll
    ${If} $2 != ""
      IntOp $3 $3 + 1
      ${If} $3 < 10
        Sleep 300
        Goto retry
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$2 is in use by a program that is still running. Close it, then choose Retry." /SD IDCANCEL IDRETRY retry
      SetErrorLevel 2
      Abort
    ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

Section
  ; The copy registered before, if in another folder, goes once the new one is
  ; in place (its own uninstaller, silent: the settings and the log stay), so
  ; that one copy is installed and one tray runs.
  ReadRegStr $R9 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  !insertmacro QuitTray "$INSTDIR"
  Push "$INSTDIR"
  Call EnsureFree
  SetOutPath "$INSTDIR"
  GetFullPathName /SHORT $R8 "$INSTDIR"
  StrCpy $R7 ""
  ${If} $R9 != ""
  ${AndIf} ${FileExists} "$R9\uninstall.exe"
    StrCpy $R7 $R9
    GetFullPathName /SHORT $R6 "$R9"
    ${If} $R6 == $R8  ; the same folder, however written (case, short names)
      StrCpy $R7 ""
    ${Else}
      !insertmacro QuitTray "$R7"
      Push "$R7"
      Call EnsureFree
    ${EndIf}
  ${EndIf}
  !if ${NSIS_PTR_SIZE} > 4  ; a 64-bit installer runs on 64-bit Windows alone
    !insertmacro Programs x64
  !else
    ${If} ${RunningX64}
      !insertmacro Programs x64
    ${Else}
      !insertmacro Programs x86
    ${EndIf}
  !endif
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\THIRD-PARTY.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} $R7 != ""
    ExecWait '"$R7\uninstall.exe" /S _?=$R7'
    Delete "$R7\uninstall.exe"
    RMDir "$R7"
  ${EndIf}
  CreateShortcut "$SMPROGRAMS\Ovrin70.lnk" "$INSTDIR\ovrin-tray.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Ovrin70"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Ovrin70"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ovrin-tray.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} $StartWithWindows == 1
    ; Quoted, as the program writes it.
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\ovrin-tray.exe"'
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $RemoveData 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

Function un.DataPage
  !insertmacro MUI_HEADER_TEXT "Your settings and readings" "They are kept for a later install unless you remove them."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateCheckbox} 0 0 100% 12u "also remove my settings and readings"
  Pop $RemoveBox
  ${If} $RemoveData == 1
    ${NSD_Check} $RemoveBox
  ${EndIf}
  ${NSD_CreateLabel} 0 20u 100% 48u "The settings are in HKEY_CURRENT_USER\${SETTINGS_KEY}, the readings in Documents\Ovrin70\readings.csv. A log file you chose elsewhere stays, and so does the meter's port, which other programs for the meter share."
  Pop $0
  nsDialogs::Show
FunctionEnd

Function un.DataPageLeave
  ${NSD_GetState} $RemoveBox $RemoveData
FunctionEnd

Section "Uninstall"
  !insertmacro QuitTray "$INSTDIR"
  Delete "$INSTDIR\ovrin-tray.exe"
  Delete "$INSTDIR\ovrin.exe"
  Delete "$INSTDIR\Ovrin70.dll"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\THIRD-PARTY.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; only when nothing of the user's is in it
  Delete "$SMPROGRAMS\Ovrin70.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} $RemoveData == 1
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Ovrin70"
    Delete "$DOCUMENTS\Ovrin70\readings.csv"
    RMDir "$DOCUMENTS\Ovrin70"
  ${EndIf}
SectionEnd
