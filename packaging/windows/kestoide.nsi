; The installer of KESTO IDE for 64-bit Windows, made with Debian's makensis
; (scripts/windows/installer.sh gives the defines):
;   VERSION  the program's version, as 1.0.0
;   SOURCE   the folder ready to run
;   LISTS    a folder with files.nsh and uninstall.nsh, which install and
;            remove exactly the files of SOURCE
;   ICON     kestoide.ico
;   OUTFILE  the installer to write
; The uninstaller removes what the installer put there and nothing else: not
; the lab's tools put beside the program, nor a user's sources or settings.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"

!define APP "KESTO IDE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTO IDE"
; Where Explorer's "Open with" finds the program; the .asm type's own default stays.
!define APP_KEY "Software\Classes\Applications\kestoide.exe"
!define PROGID "KESTOIDE.asm"

Name "${APP}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "Software\${APP}" "InstallDir"
BrandingText "${APP} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1045 "ProductName" "${APP}"
VIAddVersionKey /LANG=1045 "FileDescription" "Instalator programu ${APP}"
VIAddVersionKey /LANG=1045 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1045 "LegalCopyright" "Copyright (C) 2026 autorzy ${APP}; GNU GPL 3 lub późniejsza"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define TOOLS_TEXT "Narzędzia pracowni, asembler ruderari.exe i program uruchamiający zozevadi.exe, \
trzeba skopiować do folderu programu (tego, który wybierasz tutaj): KESTO IDE szuka ich obok kestoide.exe. \
Instalator ich nie zawiera, a odinstalowanie ich nie usuwa."
!define MUI_DIRECTORYPAGE_TEXT_TOP "${TOOLS_TEXT}"
!define MUI_FINISHPAGE_TITLE "Zainstalowano ${APP} ${VERSION}"
!define MUI_FINISHPAGE_TEXT "Program jest w menu Start i w menu „Otwórz za pomocą” plików .asm; \
uruchomiony ze skrótu, zapisuje ustawienia (kestoide.ini) w folderze Dokumenty.$\r$\n$\r$\n${TOOLS_TEXT}"

!insertmacro MUI_PAGE_LICENSE "${SOURCE}\licenses\KESTO-IDE-GPL-3.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Polish"

Section "Install"
  SetShellVarContext all
  !include "${LISTS}\files.nsh"
  WriteUninstaller "$INSTDIR\odinstaluj.exe"

  ; The settings file is made in the current directory, and the program's
  ; folder is not writable: the shortcut starts in the user's own Documents,
  ; expanded when the shortcut is used ($DOCUMENTS here would be the public
  ; folder of an all-users install). $OUTDIR set by hand is not created.
  StrCpy $OUTDIR "%USERPROFILE%\Documents"
  CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\kestoide.exe" "" "$INSTDIR\kestoide.exe" 0 \
    SW_SHOWNORMAL "" "Edytor i asembler systemu mikrokomputerowego KESTO"
  SetOutPath "$INSTDIR"

  WriteRegStr HKLM "${APP_KEY}" "FriendlyAppName" "${APP}"
  WriteRegStr HKLM "${APP_KEY}\shell\open\command" "" '"$INSTDIR\kestoide.exe" "%1"'
  WriteRegStr HKLM "${APP_KEY}\SupportedTypes" ".asm" ""
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Program w asemblerze KESTO"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\kestoide.exe",0'
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\kestoide.exe" "%1"'
  WriteRegNone HKLM "Software\Classes\.asm\OpenWithProgids" "${PROGID}"

  WriteRegStr HKLM "Software\${APP}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "autorzy ${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\kestoide.exe",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\odinstaluj.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\odinstaluj.exe" /S'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${APP}.lnk"
  !include "${LISTS}\uninstall.nsh"
  Delete "$INSTDIR\odinstaluj.exe"
  ; Only when empty: the lab's tools and anything else put there stay.
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${APP_KEY}"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegValue HKLM "Software\Classes\.asm\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.asm\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.asm"
  DeleteRegKey HKLM "Software\${APP}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
