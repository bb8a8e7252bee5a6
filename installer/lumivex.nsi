; The Windows installer: the program folder (the panel, lumivexctl, Config.ini and Language\) in
; Program Files, a per-user working folder for Lumivex.ini, a Start-menu shortcut that starts the
; panel there, an entry in Add/Remove Programs and an uninstaller.
;
; Built by CMake (target lumivex_installer), which passes:
;   LUMIVEX_VERSION    four numbers, e.g. 2.4.1.1
;   LUMIVEX_FILES      a generated include with the macros LumivexInstallFiles and
;                      LumivexRemoveFiles, and LUMIVEX_PANEL defined when the panel is packed
;   LUMIVEX_SETTINGS   the Lumivex.ini a first start gets
;   LUMIVEX_OUTFILE    the installer to write
;   LUMIVEX_ICON       optional: the program's icon for the installer and the uninstaller

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
ManifestSupportedOS all
RequestExecutionLevel admin
; A program file that cannot be replaced (the panel still running) is never skipped: the user may
; close the program and retry, or cancel; a silent install fails instead of reporting success
; with the old file left in place.
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include "${LUMIVEX_FILES}"

!define PRODUCT "Lumivex"
!define PUBLISHER "Lumivex developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivex"
!define UNINSTALLER "Uninstall.exe"
; The panel reads Lumivex.ini from the folder it is started in; Program Files is not writable for
; it, so the shortcut starts it in a folder of the user's own.
!define WORK_DIR "$LOCALAPPDATA\Lumivex"
!define SHORTCUT "$SMPROGRAMS\Lumivex.lnk"

Name "${PRODUCT}"
OutFile "${LUMIVEX_OUTFILE}"
InstallDir "$PROGRAMFILES64\Lumivex"
; A new version goes where the last one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${LUMIVEX_VERSION}"

VIProductVersion "${LUMIVEX_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${LUMIVEX_VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${LUMIVEX_VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} ${LUMIVEX_VERSION} Setup"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright 2026 ${PUBLISHER}"

!ifdef LUMIVEX_ICON
  !define MUI_ICON "${LUMIVEX_ICON}"
  !define MUI_UNICON "${LUMIVEX_ICON}"
!endif
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The panel's own two languages; the one matching Windows' language is taken.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

; A 64-bit installer: 32-bit Windows does not start it at all, and registry values go to the
; 64-bit view, where 64-bit programs and Add/Remove Programs look.
Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; The panel's language, from the Config.ini of the version installed before.
Var KeptLanguage

Section "Install"
  SetRegView 64
  ; A new version keeps the language chosen for the last; a first install takes the language
  ; the installer speaks.
  ReadINIStr $KeptLanguage "$INSTDIR\Config.ini" "themes" "Solution"
  ${If} $KeptLanguage == ""
  ${AndIf} $LANGUAGE == ${LANG_SIMPCHINESE}
    StrCpy $KeptLanguage "SimplifiedChinese"
  ${EndIf}
  !insertmacro LumivexInstallFiles
  ReadINIStr $0 "$INSTDIR\Config.ini" "themes" "Solution"
  ${If} $KeptLanguage != ""
  ${AndIf} $KeptLanguage != $0
    WriteINIStr "$INSTDIR\Config.ini" "themes" "Solution" "$KeptLanguage"
  ${EndIf}
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The installing user's working folder, and a first settings file when there is none: every
  ; tab, and an engine with all three LED colours. A file already there is the user's and stays.
  SetShellVarContext current
  CreateDirectory "${WORK_DIR}"
  SetOutPath "${WORK_DIR}"
  SetOverwrite off
  File "/oname=Lumivex.ini" "${LUMIVEX_SETTINGS}"
  SetOverwrite on

!ifdef LUMIVEX_PANEL
  ; A shortcut takes the output folder as its working folder. It is the installing user's,
  ; like the working folder: another user's would start the panel in a folder that is not there.
  CreateShortCut "${SHORTCUT}" "$INSTDIR\lumivex.exe" "" "$INSTDIR\lumivex.exe" 0 \
    SW_SHOWNORMAL "" "Control panel for LED projection light engines"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "LumivexShortcut" "${SHORTCUT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumivex.exe,0"
!else
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${UNINSTALLER},0"
!endif
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${LUMIVEX_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as Add/Remove Programs shows it, rounded up.
  ${GetSize} "$INSTDIR" "/S=0B" $0 $1 $2
  IntOp $0 $0 + 1023
  IntOp $0 $0 / 1024
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

LangString FilesInUse ${LANG_ENGLISH} \
  "Some files of Lumivex could not be removed. Close Lumivex and lumivexctl, then uninstall again."
LangString FilesInUse ${LANG_SIMPCHINESE} \
  "无法删除 Lumivex 的部分文件。请关闭 Lumivex 和 lumivexctl，然后再次卸载。"

Section "Uninstall"
  SetRegView 64
  ; A program still running keeps its file: the uninstall then stops short of the folder, the
  ; shortcut and the entry, so that it can be run again once the program has ended.
  ClearErrors
  !insertmacro LumivexRemoveFiles
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(FilesInUse)" /SD IDOK
    Abort
  ${EndIf}
  RMDir "$INSTDIR\Language"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: anything else in the folder was not ours to remove.
  RMDir "$INSTDIR"

  ; The shortcut the installer made, for whichever user runs this.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "LumivexShortcut"
  ${If} $0 != ""
    Delete "$0"
  ${EndIf}
  SetShellVarContext current
  Delete "${SHORTCUT}"

  ; The user's Lumivex.ini stays, and with it the working folder.
  RMDir "${WORK_DIR}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
