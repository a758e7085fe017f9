; The Windows client's installer, built by build-windows.sh:
;   makensis -DSTAGE=<package folder> -DOUTFILE=<installer> [-DARCH=x86_64] kordo.nsi
; STAGE holds the package as the zip has it (kordo.exe, its libraries,
; sounds\, LISEZMOI.txt, LICENCES.txt, licences\).
;
; Per user, without administrator rights, into a folder the client may write
; to: it keeps its configuration, logs and downloads beside itself, so never
; Program Files.  /S installs silently; the client's update starts this
; installer while it is still closing, so the old kordo.exe is waited for.
;
; The uninstaller keeps the player's configuration (config-debug.ini) and
; logs (session-*.log) unless the player says otherwise: a question, answered
; No when silent, or /PURGE on the command line.

Unicode true
!ifndef STAGE
  !error "define STAGE, the folder holding the package"
!endif
!ifndef OUTFILE
  !define OUTFILE "kordo-setup.exe"
!endif
!ifdef ARCH
  !if "${ARCH}" == "x86_64"
    Target amd64-unicode
  !endif
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define APP "Le Kordo"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LeKordo"

Name "${APP}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
SetCompressor /SOLID lzma

!define MUI_FINISHPAGE_RUN "$INSTDIR\kordo.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Lancer ${APP}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "French"

Function .onInit
  SetShellVarContext current
FunctionEnd

; The client being updated ends about a second after starting us: try to
; remove its program for up to 15 s before writing the new one.  A client
; still running then ends the installation with status 2, nothing written.
Function WaitForClient
  StrCpy $R0 0
  retry:
    IfFileExists "$INSTDIR\kordo.exe" 0 gone
    ClearErrors
    Delete "$INSTDIR\kordo.exe"
    IfErrors 0 gone
    IntOp $R0 $R0 + 1
    IntCmp $R0 60 running
    Sleep 250
    Goto retry
  running:
    MessageBox MB_OK|MB_ICONSTOP "${APP} est encore ouvert : fermez-le, puis relancez l'installation." /SD IDOK
    SetErrorLevel 2
    Quit
  gone:
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  Call WaitForClient
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\kordo.exe" "" "$INSTDIR\kordo.exe" 0 SW_SHOWNORMAL "" "${APP}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kordo.exe"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  ; What the installer wrote, by name: files the client made or downloaded
  ; beside it are not touched here.
  Delete "$INSTDIR\kordo.exe"
  Delete "$INSTDIR\nvdaControllerClient32.dll"
  Delete "$INSTDIR\nvdaControllerClient64.dll"
  Delete "$INSTDIR\sapi5.dll"
  Delete "$INSTDIR\LISEZMOI.txt"
  Delete "$INSTDIR\LICENCES.txt"
  RMDir /r "$INSTDIR\licences"
  RMDir /r "$INSTDIR\sounds"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${APP}.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"

  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PURGE" $R1
  IfErrors 0 purge
  MessageBox MB_YESNO|MB_DEFBUTTON2|MB_ICONQUESTION \
    "Supprimer aussi votre configuration et vos journaux ?" /SD IDNO IDYES purge
  Goto done
  purge:
    Delete "$INSTDIR\config-debug.ini"
    Delete "$INSTDIR\session-*.log"
  done:
  ; Removed only once empty.
  RMDir "$INSTDIR"
SectionEnd
