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
!define UNINST_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Each installation has its own Apps & features key and sign-in value, named
; "QuorvelTollvane-<id>" after the id kept in the folder (ID_FILE): the hash
; its journal is named by, taken at the first install and kept on upgrades.
!define KEY_PREFIX "QuorvelTollvane-"
!define ID_FILE "installation.id"
; Before that, one key and one value served every folder; an upgrade moves
; them to this installation's names when they point at its folder.
!define SHARED_UNINST_KEY "${UNINST_ROOT}\QuorvelTollvane"
!define SHARED_RUN_VALUE "QuorvelTollvane"
; The folder of the last install: the next setup's default.
!define SETUP_KEY "Software\QuorvelTollvane"
; The supervisor's journal, outside the installation folder.
!define JOURNAL_DIR "$LOCALAPPDATA\QuorvelTollvane"
; The output pipe's name, "\\.\pipe\" (9 characters) + the folder +
; "\bin\Tollvane.exe" (17) + the name rule's suffix (33), may have at most 256
; characters: the deepest folder whose agent's output can arrive. (The
; instance names allow 206 and 197 characters; the pipe decides.)
!define /math FOLDER_LIMIT_A 256 - 9
!define /math FOLDER_LIMIT_B ${FOLDER_LIMIT_A} - 17
!define /math MAX_FOLDER_CHARS ${FOLDER_LIMIT_B} - 33
; The tray menu's Exit command: the one way the supervisor ends cleanly.
!define ID_APP_EXIT 57665
; How long a running supervisor and its agent get to end: rounds of 250 ms.
!define EXIT_WAIT_ROUNDS 80

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${SETUP_KEY}" "LastInstallLocation"
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
Var id          ; this installation's id (ID_FILE), or the hash of its folder
Var hash        ; the hash of the folder as spelled now: its journal's name
Var uninstKey   ; this installation's Apps & features key
Var runValue    ; and its sign-in value
Var restart     ; how to start again the supervisor asked to exit: "", "show", "starthide"
Var identity    ; FileIdentity's result

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

; $identity <- "volume serial:file index" of the file or folder $0, "" when it
; cannot be opened: one file however its path is spelled (another drive
; letter, SUBST, a junction or link, a mapped drive).
Function ${un}FileIdentity
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $identity ""
  ; Attributes only, shared every way; a folder needs backup semantics.
  System::Call "kernel32::CreateFileW(w r0, i 0x80, i 7, p 0, i 3, i 0x02000000, p 0) p .r1"
  ${If} $1 P<> -1
    ; BY_HANDLE_FILE_INFORMATION: 7 DWORDs, then the serial, 4 DWORDs, the index.
    System::Call "*(&i52) p .r2"
    System::Call "kernel32::GetFileInformationByHandle(p r1, p r2) i .r3"
    ${If} $3 <> 0
      System::Call "*$2(i, i, i, i, i, i, i, i .r3, i, i, i, i .r4, i .r5)"
      StrCpy $identity "$3:$4:$5"
    ${EndIf}
    System::Free $2
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; $path names the file $0 names: equal as text, or one file by identity.
; Pushes 1 or 0.
Function ${un}IsSameFile
  Push $1
  Push $2
  StrCpy $1 0
  ${If} $path == $0
    StrCpy $1 1
  ${ElseIf} $path != ""
    Call ${un}FileIdentity
    StrCpy $2 $identity
    Push $0
    StrCpy $0 $path
    Call ${un}FileIdentity
    Pop $0
    ${If} $2 != ""
    ${AndIf} $identity == $2
      StrCpy $1 1
    ${EndIf}
  ${EndIf}
  Pop $2
  Exch $1
FunctionEnd

; $path lies in the folder $0 or below it, as text or by the identity of one
; of its parent folders. Pushes 1 or 0.
Function ${un}IsUnderFolder
  Push $1
  Push $2
  Push $3
  StrLen $1 "$0\"
  StrCpy $2 $path $1
  StrCpy $3 0
  ${If} $2 == "$0\"
    StrCpy $3 1
  ${ElseIf} $path != ""
    Call ${un}FileIdentity
    StrCpy $1 $identity
    StrCpy $2 $path
    ${DoUntil} $1 == ""
      ${GetParent} $2 $2
      ${If} $2 == ""
        ${Break}
      ${EndIf}
      Push $0
      StrCpy $0 $2
      Call ${un}FileIdentity
      Pop $0
      ${If} $identity == $1
        StrCpy $3 1
        ${Break}
      ${EndIf}
    ${Loop}
  ${EndIf}
  StrCpy $1 $3
  Pop $3
  Pop $2
  Exch $1
FunctionEnd

; $hash <- the eight hex digits the supervisor names this folder's journal by:
; 32-bit FNV-1a over the UTF-16LE units of its full, long-form, upper-cased path.
Function ${un}ReadFolderHash
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $0 $INSTDIR
  System::Call "kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r2, p 0) i .r1"
  ${If} $1 > 0
    StrCpy $0 $2
  ${EndIf}
  System::Call "kernel32::GetLongPathNameW(w r0, w .r2, i ${NSIS_MAX_STRLEN}) i .r1"
  ${If} $1 > 0
    StrCpy $0 $2
  ${EndIf}
  ; Upper case as the file system compares names (LOCALE_INVARIANT, LCMAP_UPPERCASE).
  System::Call "kernel32::LCMapStringW(i 0x7f, i 0x200, w r0, i -1, w .r2, i ${NSIS_MAX_STRLEN}) i .r1"
  ${If} $1 > 0
    StrCpy $0 $2
  ${EndIf}
  StrLen $4 $0
  System::Call "*(&w${NSIS_MAX_STRLEN} r0) p .r1"
  StrCpy $hash 0x811c9dc5
  ${For} $2 0 $4
    ${If} $2 = $4
      ${Break}
    ${EndIf}
    IntOp $3 $2 * 2
    IntPtrOp $3 $1 + $3
    System::Call "*$3(&i2 .r3)"
    IntOp $5 $3 & 0xFF
    IntOp $hash $hash ^ $5
    IntOp $hash $hash * 16777619
    IntOp $hash $hash & 0xFFFFFFFF
    IntOp $5 $3 >> 8
    IntOp $5 $5 & 0xFF
    IntOp $hash $hash ^ $5
    IntOp $hash $hash * 16777619
    IntOp $hash $hash & 0xFFFFFFFF
  ${Next}
  System::Free $1
  IntFmt $hash "%08x" $hash
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $id, $uninstKey and $runValue of the installation in $INSTDIR: the id its
; folder keeps, or for a folder without one the hash of its path.
Function ${un}ReadInstallationId
  Push $0
  Call ${un}ReadFolderHash
  StrCpy $id $hash
  ClearErrors
  FileOpen $0 "$INSTDIR\${ID_FILE}" r
  ${IfNot} ${Errors}
    FileRead $0 $id
    FileClose $0
    StrLen $0 $id
    ${If} $0 <> 8
      StrCpy $id $hash
    ${EndIf}
  ${EndIf}
  StrCpy $uninstKey "${UNINST_ROOT}\${KEY_PREFIX}$id"
  StrCpy $runValue "${KEY_PREFIX}$id"
  Pop $0
FunctionEnd

; Starts again the supervisor that StopSupervisor asked to exit, as it ran:
; a setup that gives up leaves things as it found them.
Function ${un}RestartStopped
  ${If} $restart == "show"
    Exec '"$INSTDIR\${EXE}"'
  ${ElseIf} $restart == "starthide"
    Exec '"$INSTDIR\${EXE}" starthide'
  ${EndIf}
FunctionEnd

; $count <- processes running $INSTDIR\QuorvelTollvane.exe or anything under
; $INSTDIR\bin\ (the agent and what it started from there), whatever path
; spelling they were started by.
Function ${un}CountInstallationProcesses
  Push $0
  Push $1
  StrCpy $count 0
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
      StrCpy $0 "$INSTDIR\${EXE}"
      Call ${un}IsSameFile
      Pop $1
      ${If} $1 = 0
        StrCpy $0 "$INSTDIR\bin"
        Call ${un}IsUnderFolder
        Pop $1
      ${EndIf}
      ${If} $1 = 1
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
; name whose process runs $INSTDIR\QuorvelTollvane.exe (by any spelling).
; Nothing is ever terminated. Pushes 1 when nothing of the installation runs
; any more, 0 when something still ran when the wait ran out; $restart says
; how to start again what was asked to exit.
Function ${un}StopSupervisor
  Push $0
  Push $1
  Push $2
  StrCpy $asked ";"
  StrCpy $restart ""
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
      Push $0
      StrCpy $0 "$INSTDIR\${EXE}"
      Call ${un}IsSameFile
      Exch
      Pop $0
      Pop $1
      ${If} $1 = 1
        DetailPrint "$(AskingExit)"
        StrCpy $asked "$asked$0;"
        System::Call "user32::IsWindowVisible(p r0) i .r1"
        ${If} $1 <> 0
          StrCpy $restart "show"
        ${ElseIf} $restart == ""
          StrCpy $restart "starthide"
        ${EndIf}
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
  Call CheckFolderLength
  Call StopSupervisor
  Pop $0
  ${If} $0 <> 1
    Call RestartStopped
    MessageBox MB_ICONSTOP|MB_OK "$(StillRunning)" /SD IDOK
    SetErrorLevel 2
    Abort "$(StillRunning)"
  ${EndIf}

  SetOutPath "$INSTDIR"
  Call ReadInstallationId
  FileOpen $0 "$INSTDIR\${ID_FILE}" w
  FileWrite $0 $id
  FileClose $0
  Call AdoptSharedKeys
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
    WriteRegStr HKCU $uninstKey "DemoAgentStamp" $stamp
  ${EndIf}
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  Call ChooseShortcut
  WriteRegStr HKCU $uninstKey "StartMenuShortcut" $0
  CreateShortCut $0 "$INSTDIR\${EXE}"

  Call ReadDisplayName
  WriteRegStr HKCU $uninstKey "DisplayName" $0
  WriteRegStr HKCU $uninstKey "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU $uninstKey "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU $uninstKey "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU $uninstKey "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU $uninstKey "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU $uninstKey "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU $uninstKey "NoModify" 1
  WriteRegDWORD HKCU $uninstKey "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKCU $uninstKey "EstimatedSize" $0
  WriteRegStr HKCU "${SETUP_KEY}" "LastInstallLocation" "$INSTDIR"
SectionEnd

Section "$(SecAutostart)" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" $runValue '"$INSTDIR\${EXE}" starthide'
SectionEnd

Section "-Start"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" $runValue
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/NORUN" $1
  ${If} ${Errors}
    ; startInstall brings a supervisor of this folder forward or starts one.
    Exec '"$INSTDIR\${EXE}" startInstall'
  ${EndIf}
SectionEnd

; A folder deeper than the pipe's name allows is refused, saying the limit.
Function CheckFolderLength
  Push $0
  StrLen $0 $INSTDIR
  ${If} $0 > ${MAX_FOLDER_CHARS}
    MessageBox MB_ICONSTOP|MB_OK "$(FolderTooLong)" /SD IDOK
    SetErrorLevel 2
    Abort "$(FolderTooLong)"
  ${EndIf}
  Pop $0
FunctionEnd

Function .onVerifyInstDir
  Push $0
  StrLen $0 $INSTDIR
  IntCmp $0 ${MAX_FOLDER_CHARS} fits fits
  Pop $0
  Abort
  fits:
  Pop $0
FunctionEnd

; Today's shared key and sign-in value become this installation's when they
; point at its folder: its demo agent's stamp moves to its own key, and a
; sign-in start stays one.
Function AdoptSharedKeys
  Push $0
  ReadRegStr $0 HKCU "${SHARED_UNINST_KEY}" "InstallLocation"
  ${If} $0 == "$INSTDIR"
    ReadRegStr $0 HKCU "${SHARED_UNINST_KEY}" "DemoAgentStamp"
    ${If} $0 != ""
      WriteRegStr HKCU $uninstKey "DemoAgentStamp" $0
    ${EndIf}
    DeleteRegKey HKCU "${SHARED_UNINST_KEY}"
  ${EndIf}
  ReadRegStr $0 HKCU "${RUN_KEY}" "${SHARED_RUN_VALUE}"
  ${If} $0 == '"$INSTDIR\${EXE}" starthide'
    DeleteRegValue HKCU "${RUN_KEY}" "${SHARED_RUN_VALUE}"
  ${EndIf}
  Pop $0
FunctionEnd

; (un.)ShortcutOfOthers: $1 <- 1 when another installation's key records the
; shortcut $0 as its own, else 0.
!macro SHORTCUT_OF_OTHERS un
Function ${un}ShortcutOfOthers
  Push $2
  Push $3
  StrCpy $1 0
  StrCpy $2 0
  ${Do}
    EnumRegKey $3 HKCU "${UNINST_ROOT}" $2
    ${If} $3 == ""
      ${Break}
    ${EndIf}
    IntOp $2 $2 + 1
    ${If} "${UNINST_ROOT}\$3" != $uninstKey
      ReadRegStr $3 HKCU "${UNINST_ROOT}\$3" "StartMenuShortcut"
      ${If} $3 == $0
        StrCpy $1 1
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
FunctionEnd
!macroend
!insertmacro SHORTCUT_OF_OTHERS ""
!insertmacro SHORTCUT_OF_OTHERS "un."

; $0 <- this installation's Start-menu shortcut: the one it made before, else
; the product's name while no other installation has that, else the name with
; the installation's id. One installation never replaces another's shortcut.
Function ChooseShortcut
  Push $1
  ReadRegStr $0 HKCU $uninstKey "StartMenuShortcut"
  ${If} $0 == ""
    StrCpy $0 "$SMPROGRAMS\${PRODUCT}.lnk"
    Call ShortcutOfOthers
    ${If} $1 == 1
      StrCpy $0 "$SMPROGRAMS\${PRODUCT} ($id).lnk"
    ${EndIf}
  ${EndIf}
  Pop $1
FunctionEnd

; $0 <- the name in Apps & features: the product's, with the folder added
; when another installation is listed there too.
Function ReadDisplayName
  Push $1
  Push $2
  Push $3
  StrCpy $0 "${PRODUCT}"
  StrCpy $1 0
  ${Do}
    EnumRegKey $2 HKCU "${UNINST_ROOT}" $1
    ${If} $2 == ""
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} "${UNINST_ROOT}\$2" != $uninstKey
      StrLen $3 "${KEY_PREFIX}"
      StrCpy $3 $2 $3
      ${If} $3 == "${KEY_PREFIX}"
      ${OrIf} $2 == "QuorvelTollvane"
        StrCpy $0 "${PRODUCT} ($INSTDIR)"
        ${Break}
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

Function .onInit
!if ${ARCH} == x64
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "$(Need64Bit)" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!endif
  ; Before this setup kept the last folder, the shared key named it.
  ReadRegStr $0 HKCU "${SETUP_KEY}" "LastInstallLocation"
  ReadRegStr $1 HKCU "${SHARED_UNINST_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${AndIf} $1 != ""
  ${AndIf} $INSTDIR == "$LOCALAPPDATA\Programs\${PRODUCT}"
    StrCpy $INSTDIR $1
  ${EndIf}
  ; Start at sign-in is on for a new install; an upgrade keeps the user's choice.
  Call ReadInstallationId
  ReadRegStr $0 HKCU $uninstKey "InstallLocation"
  ReadRegStr $1 HKCU "${RUN_KEY}" $runValue
  ${If} $0 == ""
    ReadRegStr $2 HKCU "${SHARED_UNINST_KEY}" "InstallLocation"
    ${If} $2 == $INSTDIR
      StrCpy $0 $2
      ReadRegStr $1 HKCU "${RUN_KEY}" "${SHARED_RUN_VALUE}"
    ${EndIf}
  ${EndIf}
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
    Call un.RestartStopped
    MessageBox MB_ICONSTOP|MB_OK "$(UnStillRunning)" /SD IDOK
    SetErrorLevel 2
    Abort "$(UnStillRunning)"
  ${EndIf}

  ; The registry entries are this folder's only while they point at it:
  ; another installation elsewhere keeps its own.
  Call un.ReadInstallationId
  ReadRegStr $1 HKCU $uninstKey "InstallLocation"
  ${If} $1 == "$INSTDIR"
    ; The demo agent goes only while it is the file setup put there.
    ReadRegStr $2 HKCU $uninstKey "DemoAgentStamp"
    Call un.ReadAgentStamp
    ${If} $2 != ""
    ${AndIf} $2 == $stamp
      Delete "$INSTDIR\bin\Tollvane.exe"
    ${EndIf}
    ; Its own shortcut; one made before they were recorded only while no
    ; other installation has taken the name since.
    ReadRegStr $0 HKCU $uninstKey "StartMenuShortcut"
    ${If} $0 == ""
      StrCpy $0 "$SMPROGRAMS\${PRODUCT}.lnk"
      Call un.ShortcutOfOthers
      ${If} $1 == 1
        StrCpy $0 ""
      ${EndIf}
    ${EndIf}
    ${If} $0 != ""
      Delete $0
    ${EndIf}
    DeleteRegKey HKCU $uninstKey
  ${EndIf}
  ReadRegStr $1 HKCU "${RUN_KEY}" $runValue
  ${If} $1 == '"$INSTDIR\${EXE}" starthide'
    DeleteRegValue HKCU "${RUN_KEY}" $runValue
  ${EndIf}
  ReadRegStr $1 HKCU "${SETUP_KEY}" "LastInstallLocation"
  ${If} $1 == "$INSTDIR"
    DeleteRegValue HKCU "${SETUP_KEY}" "LastInstallLocation"
    DeleteRegKey /ifempty HKCU "${SETUP_KEY}"
  ${EndIf}

  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\AGENT-CONTRACT.md"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$INSTDIR\${ID_FILE}"
  RMDir "$INSTDIR\bin"
  ${If} ${FileExists} "$INSTDIR\bin\*.*"
    DetailPrint "$(BinKept)"
  ${EndIf}
  RMDir "$INSTDIR"
SectionEnd

; Only this installation's journal: its files are named by the hash of its
; folder (as spelled now, and as at its first install); another installation's
; open journal stays. The folders go when nothing else is left in them.
Section /o "un.$(SecRemoveLogs)" UnSecLogs
  Call un.ReadFolderHash
  Delete "${JOURNAL_DIR}\logs\agent-$hash*.log"
  ${If} $id != ""
  ${AndIf} $id != $hash
    Delete "${JOURNAL_DIR}\logs\agent-$id*.log"
  ${EndIf}
  RMDir "${JOURNAL_DIR}\logs"
  RMDir "${JOURNAL_DIR}"
SectionEnd

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVELOGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecLogs}
  ${EndIf}
FunctionEnd
