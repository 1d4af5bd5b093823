; The Windows installer: the programs' folder (`cmake --install`, cmake/deploy-windows.cmake) into
; Program Files, a Start-menu entry, an entry in "Apps & features", setuptool-cli on the machine's
; PATH, and firewall rules that let the replies of the devices in.
;
; Made by the build's windows-installer target (packaging/CMakeLists.txt), which gives
;   VERSION    the project's version, and FILE_VERSION the same in four numbers
;   PUBLISHER  who makes it, as "Apps & features" shows it
;   STAGING    the folder `cmake --install` filled
;   OUTFILE    the installer to write

!ifdef VERSION & FILE_VERSION & PUBLISHER & STAGING & OUTFILE
!else
  !error "made by the build's windows-installer target, which defines VERSION, FILE_VERSION, PUBLISHER, STAGING and OUTFILE"
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
!include WinMessages.nsh

!define NAME "setuptool"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; What the devices answer to: the programs receive their replies on this local UDP port.
!define REPLY_PORT 7800

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
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

; The uninstaller removes what was installed file by file and no more, since the folder may have
; been chosen by hand and hold other things: the list comes from the staging folder.
!tempfile UNINSTALL_LIST
; makensis turns every backslash of a !system command into a slash, so awk makes them (92), and
; the quotes (34).
!system `cd "${STAGING}" && { find . -type f | LC_ALL=C sort | awk 'BEGIN { b = sprintf("%c", 92); q = sprintf("%c", 34) } { p = substr($0, 3); gsub("/", b, p); print "Delete " q "$INSTDIR" b p q }'; find . -mindepth 1 -type d | LC_ALL=C sort -r | awk 'BEGIN { b = sprintf("%c", 92); q = sprintf("%c", 34) } { p = substr($0, 3); gsub("/", b, p); print "RMDir " q "$INSTDIR" b p q }'; } > "${UNINSTALL_LIST}"` = 0

; ---- PATH ------------------------------------------------------------------------------------
; The machine's PATH is read and written as it is stored (REG_EXPAND_SZ, unexpanded). NSIS
; strings hold ${NSIS_MAX_STRLEN} characters: a longer PATH would come back cut off, so it is then
; left alone rather than written back shortened.

!define /math PATH_MAX_LEN ${NSIS_MAX_STRLEN} - 2

; Takes an entry (top of the stack) and a PATH list (below it), and leaves the list without that
; entry. Entries are compared as Windows compares file names, without regard to case; empty ones
; go too.
!macro PATH_FUNCTIONS prefix
Function ${prefix}PathWithout
  Exch $1 ; the entry
  Exch
  Exch $0 ; the list
  Push $2
  Push $3
  Push $4
  Push $5
  StrCpy $2 "" ; the list without the entry
  ${DoWhile} $0 != ""
    StrCpy $3 0
    ${Do}
      StrCpy $4 $0 1 $3
      ${IfThen} $4 == ";" ${|} ${ExitDo} ${|}
      ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
      IntOp $3 $3 + 1
    ${Loop}
    StrCpy $5 $0 $3
    IntOp $3 $3 + 1
    StrCpy $0 $0 "" $3
    ${If} $5 != $1
    ${AndIf} $5 != ""
      ${If} $2 == ""
        StrCpy $2 $5
      ${Else}
        StrCpy $2 "$2;$5"
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $5
  Pop $4
  Pop $3
  StrCpy $1 $2
  Pop $2
  Pop $0
  Exch $1
FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

; Reads the machine's PATH into $0; $1 is 0 if it is too long to be handled whole.
!macro READ_PATH
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" Path
  StrLen $1 $0
  ${If} $1 >= ${PATH_MAX_LEN}
    StrCpy $1 0
  ${Else}
    StrCpy $1 1
  ${EndIf}
!macroend

!macro WRITE_PATH value
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" Path "${value}"
  ; Explorer and what it starts next see the new PATH without a new logon.
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
!macroend

; ---- firewall --------------------------------------------------------------------------------
; The devices answer the discovery broadcast to the port it came from: without an allow rule the
; Windows Defender Firewall drops those replies and the list stays empty. Only on private and
; domain networks, where devices are set up; not on public ones. A firewall that netsh cannot
; reach (or a netsh without advfirewall) does not stop the installation: it is reported.
!macro FIREWALL_RULE action program
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="${NAME}: ${program} (UDP ${REPLY_PORT})"'
  Pop $0
  !if "${action}" == "add"
    nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="${NAME}: ${program} (UDP ${REPLY_PORT})" dir=in action=allow protocol=UDP localport=${REPLY_PORT} program="$INSTDIR\${program}" profile=private,domain'
    Pop $0
    ${If} $0 != 0
      DetailPrint "Could not add the firewall rule for ${program} (netsh: $0); allow UDP port ${REPLY_PORT} in by hand."
    ${EndIf}
  !endif
!macroend

; ---- install ---------------------------------------------------------------------------------
Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "${NAME}"
  SetOutPath "$INSTDIR"
  File /r "${STAGING}/*"
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
  !insertmacro READ_PATH
  ${If} $1 == 0
    DetailPrint "The machine's PATH is too long to change here; add $INSTDIR to it by hand."
  ${Else}
    Push $0
    Push $INSTDIR
    Call PathWithout
    Pop $1
    ${If} $1 == $0 ; not there yet (an installation over an earlier one leaves it as it is)
      ${If} $0 == ""
        StrCpy $0 "$INSTDIR"
      ${Else}
        StrCpy $0 "$0;$INSTDIR"
      ${EndIf}
      !insertmacro WRITE_PATH $0
      DetailPrint "Added $INSTDIR to the machine's PATH."
    ${EndIf}
  ${EndIf}

  !insertmacro FIREWALL_RULE add setuptool.exe
  !insertmacro FIREWALL_RULE add setuptool-cli.exe
SectionEnd

; ---- uninstall -------------------------------------------------------------------------------
Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro FIREWALL_RULE delete setuptool.exe
  !insertmacro FIREWALL_RULE delete setuptool-cli.exe

  !insertmacro READ_PATH
  ${If} $1 == 1
    Push $0
    Push $INSTDIR
    Call un.PathWithout
    Pop $1
    ${If} $1 != $0
      !insertmacro WRITE_PATH $1
      DetailPrint "Removed $INSTDIR from the machine's PATH."
    ${EndIf}
  ${Else}
    DetailPrint "The machine's PATH is too long to change here; remove $INSTDIR from it by hand."
  ${EndIf}

  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
!delfile "${UNINSTALL_LIST}"
