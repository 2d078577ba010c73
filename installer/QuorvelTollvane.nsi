; The per-user installer of Quorvel Tollvane, one script for both builds.
; scripts/build-installer.sh runs it:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.6.0 -DARCH=win32|x64 -DTREE=<install tree>
;            -DROOT=<source tree> -DOUTFILE=<setup exe> installer/QuorvelTollvane.nsi
; TREE holds QuorvelTollvane.exe and bin\Tollvane.exe of the build ARCH names.

!ifndef VERSION | ARCH | TREE | ROOT | OUTFILE
  !error "define VERSION, ARCH, TREE, ROOT and OUTFILE (see scripts/build-installer.sh)"
!endif

!if ${ARCH} == x64
  Target amd64-unicode
  ; PROCESSENTRY32W as the 64-bit toolhelp library expects it.
  !define PROCESSENTRY_SIZE 568
!else if ${ARCH} == win32
  Target x86-unicode
  !define PROCESSENTRY_SIZE 556
!else
  !error "ARCH must be win32 or x64"
!endif

!define PRODUCT "Quorvel Tollvane"
!define PUBLISHER "Quorvel Software"
!define EXE "QuorvelTollvane.exe"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvelTollvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "QuorvelTollvane"
; The supervisor's journal, outside the installation folder.
!define JOURNAL_DIR "$LOCALAPPDATA\QuorvelTollvane"
; The tray menu's Exit command: the one way the supervisor ends cleanly.
!define ID_APP_EXIT 57665
; How long a running supervisor and its agent get to end: rounds of 250 ms.
!define EXIT_WAIT_ROUNDS 80

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include x64.nsh
${StrStr}
${UnStrStr}

!define MUI_ICON "${ROOT}\res\mainframe.ico"
!define MUI_UNICON "${ROOT}\res\mainframe.ico"
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the fallback; the system's language picks the other.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!include "${ROOT}\installer\texts.nsh"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright © 2026 ${PUBLISHER}"

Var asked       ; ";hwnd;" of every window already sent Exit
Var count       ; processes of the installation still running
Var pid
Var path
Var snapshot
Var entry
Var stamp

; ---------------------------------------------------------------------------
; Shared by the installer and the uninstaller (un. prefix for the latter).

!macro SHARED_FUNCTIONS un StrStrFn
; The executable path of process $pid into $path, "" when it cannot be read.
; Reading another process's path needs the limited query right from Vista on
; and the process status library before it.
Function ${un}ReadProcessPath
  Push $0
  Push $1
  StrCpy $path ""
  System::Call "kernel32::OpenProcess(i 0x1000, i 0, i $pid) p .r1"
  ${If} $1 P<> 0
    System::Call "kernel32::QueryFullProcessImageNameW(p r1, i 0, w .r0, *i ${NSIS_MAX_STRLEN}) i .s"
    Exch $0
    ${If} $0 = 1
      Pop $path
    ${Else}
      Pop $0
    ${EndIf}
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  ${If} $path == ""
    System::Call "kernel32::OpenProcess(i 0x410, i 0, i $pid) p .r1"
    ${If} $1 P<> 0
      System::Call "psapi::GetModuleFileNameExW(p r1, p 0, w .r0, i ${NSIS_MAX_STRLEN}) i .s"
      Exch $0
      ${If} $0 <> 0
        Pop $path
      ${Else}
        Pop $0
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r1)"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; $count <- processes running $INSTDIR\QuorvelTollvane.exe or anything under
; $INSTDIR\bin\ (the agent and what it started from there).
Function ${un}CountInstallationProcesses
  Push $0
  Push $1
  StrCpy $count 0
  StrLen $1 "$INSTDIR\bin\"
  System::Call "kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .s"
  Pop $snapshot
  ${If} $snapshot P<> -1
    System::Alloc 1024
    Pop $entry
    System::Call "*$entry(i ${PROCESSENTRY_SIZE})"
    System::Call "kernel32::Process32FirstW(p $snapshot, p $entry) i .s"
    Pop $0
    ${DoWhile} $0 <> 0
      ; th32ProcessID is the third DWORD in both layouts.
      System::Call "*$entry(i, i, i .s)"
      Pop $pid
      Call ${un}ReadProcessPath
      StrCpy $0 $path $1
      ${If} $path == "$INSTDIR\${EXE}"
      ${OrIf} $0 == "$INSTDIR\bin\"
        IntOp $count $count + 1
      ${EndIf}
      System::Call "kernel32::Process32NextW(p $snapshot, p $entry) i .s"
      Pop $0
    ${Loop}
    System::Free $entry
    System::Call "kernel32::CloseHandle(p $snapshot)"
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Asks the supervisor of $INSTDIR to exit as a user would, through its Exit
; command, and waits until it and its agent have ended. It is found the way a
; second start finds it: a top-level dialog window titled with the product
; name whose process runs $INSTDIR\QuorvelTollvane.exe. Nothing is
; ever terminated. Pushes 1 when nothing of the installation runs any more,
; 0 when something still ran when the wait ran out.
Function ${un}StopSupervisor
  Push $0
  Push $1
  Push $2
  StrCpy $asked ";"
  StrCpy $2 0
  ${Do}
    StrCpy $0 0
    ${Do}
      FindWindow $0 "#32770" "${PRODUCT}" "" $0
      ${If} $0 = 0
        ${Break}
      ${EndIf}
      ${${StrStrFn}} $1 $asked ";$0;"
      ${If} $1 != ""
        ${Continue}
      ${EndIf}
      System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
      StrCpy $pid $1
      Call ${un}ReadProcessPath
      ${If} $path == "$INSTDIR\${EXE}"
        DetailPrint "$(AskingExit)"
        StrCpy $asked "$asked$0;"
        ; Sent once per window: its Exit waits for the agent while it
        ; dispatches messages, and the timeout keeps a hung one from
        ; holding setup.
        SendMessage $0 ${WM_COMMAND} ${ID_APP_EXIT} 0 /TIMEOUT=5000
      ${EndIf}
    ${Loop}
    Call ${un}CountInstallationProcesses
    ${If} $count = 0
      StrCpy $0 1
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} $2 >= ${EXIT_WAIT_ROUNDS}
      StrCpy $0 0
      ${Break}
    ${EndIf}
    Sleep 250
  ${Loop}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; $stamp <- size and last write time of bin\Tollvane.exe, "" when missing:
; how the uninstaller tells the demo agent it installed from one put there
; by the user.
Function ${un}ReadAgentStamp
  Push $0
  Push $1
  Push $2
  StrCpy $stamp ""
  ClearErrors
  GetFileTime "$INSTDIR\bin\Tollvane.exe" $1 $2
  ${IfNot} ${Errors}
    FileOpen $0 "$INSTDIR\bin\Tollvane.exe" r
    ${IfNot} ${Errors}
      FileSeek $0 0 END $stamp
      FileClose $0
      StrCpy $stamp "$stamp:$1:$2"
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend

!insertmacro SHARED_FUNCTIONS "" StrStr
!insertmacro SHARED_FUNCTIONS "un." UnStrStr

; ---------------------------------------------------------------------------
; Installer

Section "${PRODUCT}" SecMain
  SectionIn RO
  Call StopSupervisor
  Pop $0
  ${If} $0 <> 1
    MessageBox MB_ICONSTOP|MB_OK "$(StillRunning)" /SD IDOK
    SetErrorLevel 2
    Abort "$(StillRunning)"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${TREE}\${EXE}"
  File /oname=README.md "${ROOT}\README.md"
  File "${ROOT}\LICENSE"
  File /oname=AGENT-CONTRACT.md "${ROOT}\docs\agent-contract.md"
  ; An agent already in bin\ is the user's own (or the demo agent of an
  ; earlier install): it is never overwritten.
  SetOutPath "$INSTDIR\bin"
  ${If} ${FileExists} "$INSTDIR\bin\Tollvane.exe"
    DetailPrint "$(AgentKept)"
  ${Else}
    File "${TREE}\bin\Tollvane.exe"
    Call ReadAgentStamp
    WriteRegStr HKCU "${UNINST_KEY}" "DemoAgentStamp" $stamp
  ${EndIf}
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}"

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "$(SecAutostart)" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE}" starthide'
SectionEnd

Section "-Start"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NORUN" $1
  ${If} ${Errors}
    ; startInstall brings a supervisor of this folder forward or starts one.
    Exec '"$INSTDIR\${EXE}" startInstall'
  ${EndIf}
SectionEnd

Function .onInit
!if ${ARCH} == x64
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "$(Need64Bit)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!endif
  ; Start at sign-in is on for a new install; an upgrade keeps the user's choice.
  ReadRegStr $0 HKCU "${UNINST_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 != ""
  ${AndIf} $1 == ""
    !insertmacro UnselectSection ${SecAutostart}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NOAUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------
; Uninstaller

Section "un.${PRODUCT}" UnSecMain
  SectionIn RO
  Call un.StopSupervisor
  Pop $0
  ${If} $0 <> 1
    MessageBox MB_ICONSTOP|MB_OK "$(UnStillRunning)" /SD IDOK
    SetErrorLevel 2
    Abort "$(UnStillRunning)"
  ${EndIf}

  ; The registry entries are this folder's only while they point at it:
  ; another installation elsewhere keeps its own.
  ReadRegStr $1 HKCU "${UNINST_KEY}" "InstallLocation"
  ${If} $1 == "$INSTDIR"
    ; The demo agent goes only while it is the file setup put there.
    ReadRegStr $2 HKCU "${UNINST_KEY}" "DemoAgentStamp"
    Call un.ReadAgentStamp
    ${If} $2 != ""
    ${AndIf} $2 == $stamp
      Delete "$INSTDIR\bin\Tollvane.exe"
    ${EndIf}
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}
  ReadRegStr $1 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $1 == '"$INSTDIR\${EXE}" starthide'
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\AGENT-CONTRACT.md"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR\bin"
  ${If} ${FileExists} "$INSTDIR\bin\*.*"
    DetailPrint "$(BinKept)"
  ${EndIf}
  RMDir "$INSTDIR"
SectionEnd

Section /o "un.$(SecRemoveLogs)" UnSecLogs
  RMDir /r "${JOURNAL_DIR}"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVELOGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecLogs}
  ${EndIf}
FunctionEnd
