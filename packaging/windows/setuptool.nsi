; The Windows installer: the programs' folder (`cmake --install`, cmake/deploy-windows.cmake) into
; Program Files, a Start-menu entry, an entry in "Apps & features", setuptool-cli on the machine's
; PATH, and firewall rules that let the replies of the devices in.
;
; Made by the build's windows-installer target (packaging/CMakeLists.txt), which gives
;   VERSION    the project's version, and FILE_VERSION the same in four numbers
;   PUBLISHER  who makes it, as "Apps & features" shows it
;   STAGING    the folder `cmake --install` filled
;   OUTFILE    the installer to write
;   PATH_ENTRY path-entry.exe, which changes the machine's PATH (path-entry.cpp)
; and, when the build is given a code-signing certificate,
;   SIGN       the command that signs a Windows program in place (windows/sign)

!ifdef VERSION & FILE_VERSION & PUBLISHER & STAGING & OUTFILE & PATH_ENTRY
!else
  !error "made by the build's windows-installer target, which defines VERSION, FILE_VERSION, PUBLISHER, STAGING, OUTFILE and PATH_ENTRY"
!endif

; A 32-bit installer would see the 32-bit registry and Program Files folder, and under a 64-bit
; Wine does nothing at all.
Target amd64-unicode
Unicode true
SetCompressor /SOLID lzma
; Program Files, HKLM (the uninstall entry and the machine's PATH) and the firewall are the
; administrator's: without elevation each of them fails.
RequestExecutionLevel admin
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include TextFunc.nsh

!define NAME "setuptool"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; What the devices answer to: the programs receive their replies on this local UDP port.
!define REPLY_PORT 7800

!ifdef SIGN
  ; The uninstaller is written into the installer, and the installer last: each is signed once
  ; it is complete.
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
; Over an earlier installation, into its folder (unless /D says otherwise).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey ProductName "${NAME}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${FILE_VERSION}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${NAME} ${VERSION} installer"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; What was installed is listed in the folder (${NAME}.files: the files, then the subfolders
; deepest first, each ending in a backslash), so that the uninstaller removes exactly that and
; no more, since the folder may have been chosen by hand and hold other things, and so that an
; installation over an earlier build first removes the files that build shipped.
!tempfile FILE_LIST
; makensis turns every backslash of a !system command into a slash, so awk makes them (92), and
; the line ends (13, 10).
!system `cd "${STAGING}" && { find . -type f | LC_ALL=C sort; find . -mindepth 1 -type d | LC_ALL=C sort -r | sed 's|$|/|'; } | awk 'BEGIN { b = sprintf("%c", 92); crlf = sprintf("%c%c", 13, 10) } { p = substr($0, 3); gsub("/", b, p); printf "%s%s", p, crlf }' > "${FILE_LIST}"` = 0

; ---- the log ---------------------------------------------------------------------------------
; What the installer did, in $TEMP\${NAME}-install.log (the uninstaller's in
; ${NAME}-uninstall.log): a silent installation has no window to show it in.
Var log

!macro LOG_OPEN name
  FileOpen $log "$TEMP\${name}" w
!macroend

!macro LOG text
  DetailPrint "${text}"
  FileWrite $log "${text}$\r$\n"
!macroend

; Runs a command line hidden, and logs it, its exit status and what it printed. Leaves the exit
; status in $0 and the output in $1.
!macro RUN commandline
  FileWrite $log `> ${commandline}$\r$\n`
  nsExec::ExecToStack '${commandline}'
  Pop $0
  Pop $1
  FileWrite $log "$1"
  FileWrite $log "exit status $0$\r$\n"
!macroend

; Removes what the list in the folder names (see FILE_LIST), and the list.
!macro FILE_FUNCTIONS prefix
Function ${prefix}RemoveListedFiles
  ClearErrors
  FileOpen $2 "$INSTDIR\${NAME}.files" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $2 $3
      ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
      ${TrimNewLines} $3 $3
      ${IfThen} $3 == "" ${|} ${Continue} ${|}
      ; The list is the build's own; a line that would leave the folder is not obeyed.
      GetFullPathName $4 "$INSTDIR\$3"
      StrLen $5 "$INSTDIR\"
      StrCpy $5 $4 $5
      ${IfThen} $5 != "$INSTDIR\" ${|} ${Continue} ${|}
      StrCpy $4 $3 1 -1
      ${If} $4 == "\"
        RMDir "$INSTDIR\$3"
      ${Else}
        Delete "$INSTDIR\$3"
      ${EndIf}
    ${Loop}
    FileClose $2
  ${EndIf}
  Delete "$INSTDIR\${NAME}.files"
FunctionEnd
!macroend
!insertmacro FILE_FUNCTIONS ""
!insertmacro FILE_FUNCTIONS "un."

; ---- PATH ------------------------------------------------------------------------------------
; path-entry.exe (path-entry.cpp) changes the machine's PATH: an NSIS string holds
; ${NSIS_MAX_STRLEN} characters, and a longer PATH read into one comes back empty. It is
; unpacked into the installer's temporary folder and not installed.
!macro CHANGE_PATH action
  InitPluginsDir
  File "/oname=$PLUGINSDIR\path-entry.exe" "${PATH_ENTRY}"
  !insertmacro RUN '"$PLUGINSDIR\path-entry.exe" ${action} "$INSTDIR"'
  ${If} $0 != 0
    !if "${action}" == "add"
      !define PATH_HINT "setuptool-cli runs by name only after $INSTDIR is added to the machine's PATH by hand (System, Advanced system settings, Environment Variables)."
    !else
      !define PATH_HINT "Remove $INSTDIR from the machine's PATH by hand (System, Advanced system settings, Environment Variables)."
    !endif
    !insertmacro LOG "The machine's PATH was left as it was. ${PATH_HINT}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$1$\r$\n${PATH_HINT}" /SD IDOK
    !undef PATH_HINT
  ${Else}
    DetailPrint "$1"
  ${EndIf}
!macroend

; ---- firewall --------------------------------------------------------------------------------
; The devices answer the discovery broadcast to the port it came from: without an allow rule the
; Windows Defender Firewall drops those replies and the list stays empty. On every profile: a
; laptop plugged into a switch of new devices, with no gateway, is on an "Unidentified network",
; which Windows puts in the Public profile. From the local subnet only, where the devices being
; set up are. An earlier rule of the same name goes first, so that there is one per program. A
; firewall that netsh cannot reach does not stop the installation: it is logged.
!macro FIREWALL_RULE action program
  !insertmacro RUN '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${NAME}: ${program} (UDP ${REPLY_PORT})"'
  !if "${action}" == "add"
    !insertmacro RUN '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${NAME}: ${program} (UDP ${REPLY_PORT})" dir=in action=allow protocol=UDP localport=${REPLY_PORT} program="$INSTDIR\${program}" profile=any remoteip=localsubnet'
    ${If} $0 != 0
      !insertmacro LOG "Could not add the firewall rule for ${program} (netsh: $0); allow UDP port ${REPLY_PORT} in for it by hand."
    ${EndIf}
  !endif
!macroend

; ---- install ---------------------------------------------------------------------------------
Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "${NAME}"
  !insertmacro LOG_OPEN "${NAME}-install.log"
  !insertmacro LOG "Installing ${NAME} ${VERSION} into $INSTDIR."
  SetOutPath "$INSTDIR"
  ; Over an earlier installation: what that build shipped goes first, so that nothing the new
  ; one no longer ships stays behind.
  Call RemoveListedFiles
  File /r "${STAGING}/*"
  File "/oname=${NAME}.files" "${FILE_LIST}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortCut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\setuptool.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\setuptool.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0

  ; setuptool-cli is run from a command prompt, by name.
  !insertmacro CHANGE_PATH add

  !insertmacro FIREWALL_RULE add setuptool.exe
  !insertmacro FIREWALL_RULE add setuptool-cli.exe
  !insertmacro LOG "Installed."
  FileClose $log
SectionEnd

; ---- uninstall -------------------------------------------------------------------------------
Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro LOG_OPEN "${NAME}-uninstall.log"
  !insertmacro LOG "Removing ${NAME} from $INSTDIR."
  !insertmacro FIREWALL_RULE delete setuptool.exe
  !insertmacro FIREWALL_RULE delete setuptool-cli.exe
  !insertmacro CHANGE_PATH remove

  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Call un.RemoveListedFiles
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  !insertmacro LOG "Removed."
  FileClose $log
SectionEnd
!delfile "${FILE_LIST}"
