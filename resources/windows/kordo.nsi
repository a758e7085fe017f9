; The Windows client's installer, built by build-windows.sh:
;   makensis -DSTAGE=<package folder> -DPACKAGE_LIST=<file> -DOUTFILE=<installer>
;            [-DARCH=x86_64] kordo.nsi
; STAGE holds the package as the zip has it (kordo.exe, its libraries,
; sounds\, LISEZMOI.txt, LICENCES.txt, licences\).  PACKAGE_LIST names the
; same package file by file, as build-windows.sh writes it from STAGE: a
; Delete line per file, then an RMDir line per folder, deepest first.  The
; uninstaller removes those and nothing else: the folder may be one the
; player chose (/D) and keeps files of their own, in sounds\ as elsewhere.
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
!ifndef PACKAGE_LIST
  !error "define PACKAGE_LIST, the package's files as Delete and RMDir lines"
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

; The client being updated ends about a second after starting us; a player
; may start the uninstaller with the client open.  Its program cannot be
; removed while it runs: try to remove it for up to 15 s.  A client still
; running then ends the run with status 2, nothing removed and nothing
; written.  PREFIX is "" for the installer, "un." for the uninstaller.
!macro WAIT_FOR_CLIENT PREFIX AGAIN
Function ${PREFIX}WaitForClient
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
    Delete "$INSTDIR\kordo.exe.new"
    MessageBox MB_OK|MB_ICONSTOP "${APP} est encore ouvert : fermez-le, puis relancez ${AGAIN}." /SD IDOK
    SetErrorLevel 2
    Quit
  gone:
FunctionEnd
!macroend
!insertmacro WAIT_FOR_CLIENT "" "l'installation"
!insertmacro WAIT_FOR_CLIENT "un." "la désinstallation"

; Ends the installation with status 1 and a message; what is installed stays.
!macro FAIL TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel 1
  Quit
!macroend

Section "Install"
  SetOutPath "$INSTDIR"
  ; The new client is copied under a name of its own while the installed
  ; one stays: a copy that fails or is cut short (a full disk, an installer
  ; ended half-way) leaves the player a working client.  Only then is the
  ; old one removed and the new one renamed in its place, a step that
  ; writes no data.
  Delete "$INSTDIR\kordo.exe.new"
  ClearErrors
  File "/oname=$INSTDIR\kordo.exe.new" "${STAGE}\kordo.exe"
  IfErrors 0 copied
    Delete "$INSTDIR\kordo.exe.new"
    !insertmacro FAIL "La copie du nouveau programme a échoué : ${APP} reste tel qu'il était."
  copied:
  Call WaitForClient
  ClearErrors
  Rename "$INSTDIR\kordo.exe.new" "$INSTDIR\kordo.exe"
  IfErrors 0 swapped
    !insertmacro FAIL "Le nouveau programme n'a pas pu remplacer l'ancien : relancez l'installation."
  swapped:
  File /r /x kordo.exe "${STAGE}\*.*"
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
  ; First the client, which must not be running: nothing is removed if it
  ; does not end.
  Call un.WaitForClient
  Delete "$INSTDIR\kordo.exe.new"
  ; What the package installed, by name; folders only once empty.  Files
  ; the player put there, and those the client made or downloaded beside
  ; it, are not touched.
  !include "${PACKAGE_LIST}"
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
