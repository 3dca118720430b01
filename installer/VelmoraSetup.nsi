; VelmoraSetup.exe: installs the tray agent and its companions into Program
; Files and writes what the agent finds at start-up: Module.ini beside the
; programs, the machine defaults of one scanner instance, the image library's
; location, the logon start and the Start-menu entries.
;
; Built by installer/build_setup.cmake, which passes:
;   SETUP_OUT, BUILD_STAMP, SCANNER_MODEL, SCANNER_VID_PID, NAMES_NSH,
;   FILES_NSH, SETUP_ICON, MIN_WINDOWS_MAJOR, MIN_WINDOWS_MINOR,
;   MIN_WINDOWS_NAME, MAX_FOLDER_LENGTH
; NAMES_NSH holds the value names, key paths and file names generated from
; the agent's headers; FILES_NSH lists the shipped files.
;
; Exit codes, for administrators and tests (silent runs show no message):
;   0 installed or removed; 1 cancelled by the user; 2 stopped for another reason;
;   3 unsupported Windows; 4 no administrator rights or the machine keys cannot
;   be written; 5 install folder too long; 6 the running agent did not quit.

Unicode false ; the agent's paths and texts are ANSI, so are ours
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include "${NAMES_NSH}"
!include "${FILES_NSH}"
!include LogicLib.nsh
!include WinVer.nsh
!include WinMessages.nsh
!include MUI2.nsh

!define PRODUCT_NAME "Velmora"
!define UNINSTALLER_FILE "Uninstall.exe"
!define SETTINGS_LAUNCHER_SHORTCUT "Velmora Settings.lnk"
!define UNINSTALL_SHORTCUT "Uninstall Velmora.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Velmora"
!define MODEL_KEY "${MODEL_KEY_BASE}${SCANNER_MODEL}"
; The one scanner instance this installer sets up; the agent walks instance
; keys by index, so the name only has to be stable across versions.
!define INSTANCE_KEY "${MODEL_KEY}\0000"
!define SETTINGS_KEY "${INSTANCE_KEY}\${SETTINGS_SUBKEY}"

!define EXIT_UNSUPPORTED_WINDOWS 3
!define EXIT_NO_RIGHTS 4
!define EXIT_FOLDER_TOO_LONG 5
!define EXIT_AGENT_STILL_RUNNING 6

; How long the agent gets to close its tray icon after the quit switch: it
; answers between pages even in a long scan, so this only runs out when it hangs.
!define AGENT_QUIT_TIMEOUT_TENTHS 300

Name "${PRODUCT_NAME}"
OutFile "${SETUP_OUT}"
InstallDir "$PROGRAMFILES\${PRODUCT_NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT_NAME} ${BUILD_STAMP}"

!define MUI_ICON "${SETUP_ICON}"
!define MUI_UNICON "${SETUP_ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AgentWasRunning
Var PreviousFolder

; ---------------------------------------------------------------------------
; Checks shared by the setup and the uninstaller.

; Ends the setup with `code` after telling the user why (silent runs only set
; the code: there is nobody to read a message).
!macro FailWith code text
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel ${code}
  Quit
!macroend

!macro CheckWindowsVersion
  ${WinVerGetMajor} $0
  ${WinVerGetMinor} $1
  ; One number, major in the high byte, as the build's _WIN32_WINNT.
  IntOp $2 $0 << 8
  IntOp $2 $2 + $1
  IntOp $3 ${MIN_WINDOWS_MAJOR} << 8
  IntOp $3 $3 + ${MIN_WINDOWS_MINOR}
  ${If} $2 < $3
    !insertmacro FailWith ${EXIT_UNSUPPORTED_WINDOWS} \
      "${PRODUCT_NAME} needs ${MIN_WINDOWS_NAME} or later, and this computer runs an older version of Windows ($0.$1).$\r$\n$\r$\nNothing was installed."
  ${EndIf}
!macroend

!macro CheckAdministrator
  UserInfo::GetAccountType
  Pop $0
  ; A failed query (very old systems) says nothing either way; the probe
  ; write of the uninstall key below still catches missing rights.
  ${If} $0 != "Admin"
  ${AndIf} $0 != ""
    !insertmacro FailWith ${EXIT_NO_RIGHTS} \
      "${PRODUCT_NAME} is set up for every user of this computer, which needs an administrator's rights.$\r$\n$\r$\nPlease run the setup again as an administrator. Nothing was installed."
  ${EndIf}
!macroend

; Asks a running agent to quit with its own quit switch and waits until its
; tray window and its instance mutex are gone, so no file is replaced or
; removed under it. $R9 names the folder whose Velmora.exe asks; when that
; file is missing the quit command goes to the window directly, which is
; what the quit switch sends. Sets $AgentWasRunning to 1 when one ran.
!macro StopAgentMacro un
Function ${un}StopAgent
  StrCpy $AgentWasRunning 0
  FindWindow $0 "${AGENT_WINDOW_CLASS}"
  ${If} $0 == 0
    Return
  ${EndIf}
  StrCpy $AgentWasRunning 1
  ${Do}
    ${If} ${FileExists} "$R9\${AGENT_PROGRAM_FILE}"
      ExecWait '"$R9\${AGENT_PROGRAM_FILE}" q'
    ${Else}
      FindWindow $0 "${AGENT_WINDOW_CLASS}"
      ${If} $0 != 0
        SendMessage $0 ${WM_COMMAND} ${AGENT_EXIT_COMMAND} 1 /TIMEOUT=10000
      ${EndIf}
    ${EndIf}
    StrCpy $2 0
    ${Do}
      FindWindow $0 "${AGENT_WINDOW_CLASS}"
      System::Call 'kernel32::OpenMutexA(i 0x1F0001, i 0, t "${AGENT_INSTANCE_MUTEX}") i .r1'
      ${If} $1 != 0
        System::Call 'kernel32::CloseHandle(i r1)'
      ${EndIf}
      ${If} $0 == 0
      ${AndIf} $1 == 0
        Return
      ${EndIf}
      Sleep 100
      IntOp $2 $2 + 1
    ${LoopUntil} $2 >= ${AGENT_QUIT_TIMEOUT_TENTHS}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "${PRODUCT_NAME} is still running and did not close when asked.$\r$\n$\r$\nPlease choose Exit from its menu in the notification area, then press Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_AGENT_STILL_RUNNING}
    Quit
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro StopAgentMacro ""
!insertmacro StopAgentMacro "un."

; ---------------------------------------------------------------------------
; Setup

Function .onInit
  !insertmacro CheckWindowsVersion
  !insertmacro CheckAdministrator
FunctionEnd

; The agent builds every companion's path in a 260-byte buffer from its own
; folder, so a deeper folder would install files it can never open.
Function .onVerifyInstDir
  StrLen $0 $INSTDIR
  ${If} $0 > ${MAX_FOLDER_LENGTH}
    Abort
  ${EndIf}
FunctionEnd

Function CheckFolderLength
  StrLen $0 $INSTDIR
  ${If} $0 > ${MAX_FOLDER_LENGTH}
    !insertmacro FailWith ${EXIT_FOLDER_TOO_LONG} \
      "The folder$\r$\n$INSTDIR$\r$\nis $0 characters long; ${PRODUCT_NAME} works from folders of at most ${MAX_FOLDER_LENGTH} characters.$\r$\n$\r$\nNothing was installed."
  ${EndIf}
FunctionEnd

; The uninstall key's first value doubles as the probe of the rights the
; machine keys need: it is written before anything else is changed, so a
; refusal leaves nothing behind.
Function ProbeMachineRights
  ClearErrors
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${If} ${Errors}
    !insertmacro FailWith ${EXIT_NO_RIGHTS} \
      "The setup cannot write the computer's settings for ${PRODUCT_NAME}; an administrator's rights are needed.$\r$\n$\r$\nNothing was installed."
  ${EndIf}
FunctionEnd

Function WriteUninstallKey
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${BUILD_STAMP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${AGENT_PROGRAM_FILE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER_FILE}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER_FILE}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
FunctionEnd

; An installation in another folder is removed by its own uninstaller first:
; two copies would both claim the one scanner instance.
Function RemoveInstallationElsewhere
  ${If} $PreviousFolder == ""
  ${OrIf} $PreviousFolder == $INSTDIR
    Return
  ${EndIf}
  ${IfNot} ${FileExists} "$PreviousFolder\${UNINSTALLER_FILE}"
    Return
  ${EndIf}
  ; _?= runs it in place and waits; it then cannot remove itself.
  ExecWait '"$PreviousFolder\${UNINSTALLER_FILE}" /S _?=$PreviousFolder' $0
  ${If} $0 == 0
    Delete "$PreviousFolder\${UNINSTALLER_FILE}"
    RMDir "$PreviousFolder"
  ${EndIf}
FunctionEnd

!macro InstallShippedFile source name
  File "/oname=${name}" "${source}"
!macroend

!macro DeleteShippedFile source name
  Delete "$INSTDIR\${name}"
!macroend

; The machine defaults of the one scanner instance. The agent copies this
; tree to each user when its "TimeStamp" differs from the user's copy, so a
; new build's stamp resets the users' settings and the same build's keeps them.
Function WriteMachineDefaults
  DeleteRegKey HKLM "${INSTANCE_KEY}"
  WriteRegStr HKLM "${INSTANCE_KEY}" "${VALUE_TimeStamp}" "${BUILD_STAMP}"
  WriteRegStr HKLM "${INSTANCE_KEY}" "${VALUE_SystemDirectory}" "$INSTDIR\"
  WriteRegStr HKLM "${SETTINGS_KEY}" "${VALUE_ProductModel}" "${SCANNER_MODEL}"
  WriteRegStr HKLM "${SETTINGS_KEY}" "${VALUE_FolderName}" "${PRODUCT_NAME} Scans"
  WriteRegStr HKLM "${SETTINGS_KEY}" "${VALUE_VidPid}" "${SCANNER_VID_PID}"
  WriteRegDWORD HKLM "${SETTINGS_KEY}" "${VALUE_DefaultProcessor}" 1
  WriteRegDWORD HKLM "${SETTINGS_KEY}" "${VALUE_EnableWarning}" 1
  ; Colour, 300 dpi, JPEG, cropped and straightened: what a photo scan wants.
  WriteRegDWORD HKLM "${SETTINGS_KEY}\${SCAN_SETTINGS_SUBKEY}" "${VALUE_ScanMode}" 2
  WriteRegDWORD HKLM "${SETTINGS_KEY}\${SCAN_SETTINGS_SUBKEY}" "${VALUE_Resolution}" 300
  WriteRegDWORD HKLM "${SETTINGS_KEY}\${SCAN_SETTINGS_SUBKEY}" "${VALUE_Format}" 1
  WriteRegDWORD HKLM "${SETTINGS_KEY}\${SCAN_SETTINGS_SUBKEY}" "${VALUE_AutoCrop}" 1
  WriteRegDWORD HKLM "${SETTINGS_KEY}\${SCAN_SETTINGS_SUBKEY}" "${VALUE_AutoDeskew}" 1
  ; The feeder's whole A4 area at 300 dpi: left, top, right, bottom.
  WriteRegStr HKLM "${SETTINGS_KEY}\${PAPER_SIZE_SUBKEY}" "${VALUE_PaperSizeArea}" "0,0,2480,3508"
  WriteRegStr HKLM "${COMMON_FILES_KEY}" "${VALUE_ImageLibrary}" "$INSTDIR\${IMAGE_LIBRARY_FILE}"
FunctionEnd

Section "Install"
  Call CheckFolderLength
  ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Call ProbeMachineRights
  Call RemoveInstallationElsewhere
  Call WriteUninstallKey
  StrCpy $R9 "$INSTDIR"
  Call StopAgent

  SetOutPath "$INSTDIR"
  SetOverwrite on
  !insertmacro VELMORA_SHIPPED_FILES InstallShippedFile
  WriteINIStr "$INSTDIR\${MODULE_INI_NAME}" "${MODULE_INI_SECTION}" "${MODULE_INI_KEY}" "${SCANNER_MODEL}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER_FILE}"
  Call WriteMachineDefaults

  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${AGENT_PROGRAM_FILE}"'
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${PRODUCT_NAME}"
  !ifdef SETTINGS_LAUNCHER_FILE
    CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\${SETTINGS_LAUNCHER_SHORTCUT}" "$INSTDIR\${SETTINGS_LAUNCHER_FILE}"
  !endif
  CreateShortcut "$SMPROGRAMS\${PRODUCT_NAME}\${UNINSTALL_SHORTCUT}" "$INSTDIR\${UNINSTALLER_FILE}"

  ; An interactive install starts the agent; a silent one only brings back
  ; an agent it stopped, so tests and administrators decide for themselves.
  ${If} $AgentWasRunning == 1
  ${OrIfNot} ${Silent}
    Exec '"$INSTDIR\${AGENT_PROGRAM_FILE}"'
  ${EndIf}
SectionEnd

; ---------------------------------------------------------------------------
; Uninstaller. It removes only what the setup wrote, one named file at a
; time: pictures, calibration data and the virtual scanner's state live in
; the users' and the shared folders and stay.

Function un.onInit
  !insertmacro CheckAdministrator
FunctionEnd

; The key and value are removed only while they still point into this
; installation; another program of the scanner's maker may own them by now.
Function un.RemoveImageLibraryEntry
  ReadRegStr $0 HKLM "${COMMON_FILES_KEY}" "${VALUE_ImageLibrary}"
  ${If} $0 == "$INSTDIR\${IMAGE_LIBRARY_FILE}"
    DeleteRegValue HKLM "${COMMON_FILES_KEY}" "${VALUE_ImageLibrary}"
  ${EndIf}
  DeleteRegKey /ifempty HKLM "${COMMON_FILES_KEY}"
  ; And the maker's key above it: the path up to its last backslash.
  StrCpy $1 "${COMMON_FILES_KEY}"
  StrLen $2 $1
  ${Do}
    IntOp $2 $2 - 1
    StrCpy $3 $1 1 $2
  ${LoopUntil} $3 == "\"
  StrCpy $1 $1 $2
  DeleteRegKey /ifempty HKLM "$1"
FunctionEnd

; The uninstalling user's copy of the defaults goes too when it belongs to
; this folder: left behind, it would name a folder that no longer exists, and
; the agent refuses to start on such a copy if the same build is installed
; elsewhere later. Other users' copies are out of reach and reset themselves
; when a newer build's stamp arrives.
Function un.RemoveUserCopy
  ReadRegStr $0 HKCU "${INSTANCE_KEY}" "${VALUE_SystemDirectory}"
  ${If} $0 == "$INSTDIR\"
    DeleteRegKey HKCU "${INSTANCE_KEY}"
    DeleteRegKey /ifempty HKCU "${MODEL_KEY}"
    DeleteRegKey /ifempty HKCU "${MODEL_KEY_BASE}"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $R9 "$INSTDIR"
  Call un.StopAgent

  !insertmacro VELMORA_SHIPPED_FILES DeleteShippedFile
  Delete "$INSTDIR\${MODULE_INI_NAME}"
  Delete "$INSTDIR\${UNINSTALLER_FILE}"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT_NAME}\${SETTINGS_LAUNCHER_SHORTCUT}"
  Delete "$SMPROGRAMS\${PRODUCT_NAME}\${UNINSTALL_SHORTCUT}"
  RMDir "$SMPROGRAMS\${PRODUCT_NAME}"

  ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == '"$INSTDIR\${AGENT_PROGRAM_FILE}"'
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}
  Call un.RemoveUserCopy
  DeleteRegKey HKLM "${INSTANCE_KEY}"
  DeleteRegKey /ifempty HKLM "${MODEL_KEY}"
  DeleteRegKey /ifempty HKLM "${MODEL_KEY_BASE}"
  Call un.RemoveImageLibraryEntry
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
