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
;
; Options for a room of PCs, all checked in .onInit before anything is
; written (the README lists them with the exit codes):
;   /TOOLS=FOLDER  copies the lab's tools from FOLDER beside the program
;   /PORT=N        kestoide.ini with port N for every profile that has none
;   /ASSOCIATE     .asm opens in KESTO IDE unless a user chose otherwise

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define APP "KESTO IDE"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KESTO IDE"
; Where Explorer's "Open with" finds the program; the .asm type's own default
; changes only with /ASSOCIATE.
!define APP_KEY "Software\Classes\Applications\kestoide.exe"
!define PROGID "KESTOIDE.asm"
!define PROFILES "Software\Microsoft\Windows NT\CurrentVersion\ProfileList"
; Exit codes of our own, past NSIS's 1 (cancelled) and 2 (aborted).
!define EXIT_OPTION 3
!define EXIT_TOOLS 4

Var Tools     ; the folder the lab's tools come from, or empty
Var Port      ; the port digit for new kestoide.ini files, or empty
Var Associate ; 1: .asm's default becomes KESTO IDE
Var ToolsNote ; what the pages say about the tools

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
!define MUI_DIRECTORYPAGE_TEXT_TOP "$ToolsNote"
!define MUI_FINISHPAGE_TITLE "Zainstalowano ${APP} ${VERSION}"
!define MUI_FINISHPAGE_TEXT "Program jest w menu Start i w menu „Otwórz za pomocą” plików .asm; \
uruchomiony ze skrótu, zapisuje ustawienia (kestoide.ini) w folderze Dokumenty.$\r$\n$\r$\n$ToolsNote"

!insertmacro MUI_PAGE_LICENSE "${SOURCE}\licenses\KESTO-IDE-GPL-3.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Polish"

; Ends the installer before anything is written, with a box that names the
; fault (/S answers it with OK) and an exit code a script can test.
!macro Refuse CODE TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}$\r$\nNic nie zostało zainstalowane." /SD IDOK
  SetErrorLevel ${CODE}
  Quit
!macroend

Function .onInit
  ${GetParameters} $R0
  Call RefuseUnknownOptions

  ClearErrors
  ${GetOptions} $R0 "/PORT=" $Port
  ${IfNot} ${Errors}
    ${If} $Port != 1
    ${AndIf} $Port != 2
    ${AndIf} $Port != 3
    ${AndIf} $Port != 4
      !insertmacro Refuse ${EXIT_OPTION} "Opcja /PORT= przyjmuje numer portu COM od 1 do 4, a nie „$Port”."
    ${EndIf}
  ${EndIf}

  StrCpy $ToolsNote "${TOOLS_TEXT}"
  ClearErrors
  ${GetOptions} $R0 "/TOOLS=" $Tools
  ${IfNot} ${Errors}
    ${If} $Tools == ""
      !insertmacro Refuse ${EXIT_OPTION} "Opcja /TOOLS= wymaga folderu z narzędziami pracowni."
    ${EndIf}
    StrCpy $R1 ""
    Push ruderari.exe
    Call CheckTool
    Push zozevadi.exe
    Call CheckTool
    ${If} $R1 != ""
      !insertmacro Refuse ${EXIT_TOOLS} "W folderze $Tools:$R1"
    ${EndIf}
    ; The copy runs after SetOutPath has moved the current folder.
    ClearErrors
    GetFullPathName $0 $Tools
    ${IfNot} ${Errors}
      StrCpy $Tools $0
    ${EndIf}
    StrCpy $ToolsNote "Narzędzia pracowni, ruderari.exe i zozevadi.exe, instalator kopiuje \
      z folderu $Tools do folderu programu. Odinstalowanie ich nie usuwa."
  ${EndIf}

  ClearErrors
  ${GetOptions} $R0 "/ASSOCIATE" $0
  ${IfNot} ${Errors}
    StrCpy $Associate 1
  ${EndIf}
FunctionEnd

; Adds to $R1 why a tool in $Tools cannot be copied: a file that is there but
; cannot be read (a share that refuses the installer's account) fails as
; surely as a missing one.
Function CheckTool
  Exch $0
  ${IfNot} ${FileExists} "$Tools\$0"
    StrCpy $R1 "$R1$\r$\nbrak pliku $0."
  ${Else}
    ClearErrors
    FileOpen $1 "$Tools\$0" r
    ${If} ${Errors}
      StrCpy $R1 "$R1$\r$\nnie można odczytać pliku $0."
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

; A mistyped option would be passed over in silence, leaving, say, the tools
; uncopied: every word of the command line must be one of ours or NSIS's own
; (/S and /NCRC, in capitals as NSIS takes them). The words are cut as
; GetOptions cuts them, at each "/" outside quotes.
Function RefuseUnknownOptions
  StrCpy $1 0  ; where in $R0
  StrCpy $3 "" ; the open quote
  StrCpy $4 "" ; the word so far
  StrCpy $5 "" ; "/" once past the text before the first
  StrCpy $8 '`' ; LogicLib's own quote
  ${Do}
    StrCpy $2 $R0 1 $1
    IntOp $1 $1 + 1
    ${If} $3 == ""
    ${AndIf} $2 == "/"
    ${OrIf} $2 == ""
      ${DoWhile} $4 != "" ; trailing blanks belong to no option
        StrCpy $6 $4 1 -1
        ${IfThen} $6 != " " ${|} ${ExitDo} ${|}
        StrCpy $4 $4 -1
      ${Loop}
      StrCpy $6 $4 6
      StrCpy $7 $4 5
      ${If} $5$4 == ""
      ${OrIf} $4 S== "S"
      ${OrIf} $4 S== "NCRC"
      ${OrIf} $4 == "ASSOCIATE"
      ${OrIf} $6 == "TOOLS="
      ${OrIf} $7 == "PORT="
      ${Else}
        !insertmacro Refuse ${EXIT_OPTION} "Nieznana opcja instalatora: $5$4$\r$\nOpcje: /S, /TOOLS=FOLDER, \
          /PORT=1…4, /ASSOCIATE i na końcu /D=FOLDER."
      ${EndIf}
      ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
      StrCpy $4 ""
      StrCpy $5 "/"
    ${Else}
      ${If} $3 == ""
        ${If} $2 == '"'
        ${OrIf} $2 == "'"
        ${OrIf} $2 == $8
          StrCpy $3 $2
        ${EndIf}
      ${ElseIf} $2 == $3
        StrCpy $3 ""
      ${EndIf}
      StrCpy $4 "$4$2"
    ${EndIf}
  ${Loop}
FunctionEnd

; kestoide.ini with the port, as the program writes it, in the Documents of
; the default profile, which new accounts are copied from, and of every
; existing profile.
Function WriteSettings
  ReadRegStr $0 HKLM "${PROFILES}" "Default"
  Call WriteSettingsInto
  StrCpy $1 0
  ${Do}
    EnumRegKey $2 HKLM "${PROFILES}" $1
    ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
    IntOp $1 $1 + 1
    ; No one logs on as Local System, Local Service or Network Service.
    ${If} $2 != "S-1-5-18"
    ${AndIf} $2 != "S-1-5-19"
    ${AndIf} $2 != "S-1-5-20"
      ReadRegStr $0 HKLM "${PROFILES}\$2" "ProfileImagePath"
      Call WriteSettingsInto
    ${EndIf}
  ${Loop}
FunctionEnd

; Into the Documents of the profile folder $0. A kestoide.ini there is the
; user's own choice and stays; a profile without Documents (gone, or its
; Documents kept elsewhere) is passed over: the shortcut could not start
; there either.
Function WriteSettingsInto
  ${IfThen} $0 == "" ${|} Return ${|}
  ExpandEnvStrings $0 "$0\Documents"
  ${If} ${FileExists} "$0\*.*"
  ${AndIfNot} ${FileExists} "$0\kestoide.ini"
    ClearErrors
    FileOpen $3 "$0\kestoide.ini" w
    ${If} ${Errors}
      DetailPrint "Nie można zapisać pliku $0\kestoide.ini"
    ${Else}
      FileWrite $3 "$Port$\r$\n"
      FileClose $3
      DetailPrint "Zapisano $0\kestoide.ini: port COM$Port"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Install"
  SetShellVarContext all
  ; The tools first: a copy that fails leaves nothing else written.
  ${If} $Tools != ""
    CreateDirectory "$INSTDIR"
    ClearErrors
    CopyFiles /SILENT "$Tools\ruderari.exe" "$INSTDIR"
    CopyFiles /SILENT "$Tools\zozevadi.exe" "$INSTDIR"
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "Nie można skopiować narzędzi pracowni z folderu $Tools." /SD IDOK
      SetErrorLevel ${EXIT_TOOLS}
      Abort
    ${EndIf}
  ${EndIf}
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
  ${If} $Associate == 1
    ; The default before KESTO IDE's, for the uninstaller; installed again,
    ; the one it replaced first stays the one to put back.
    ReadRegStr $0 HKLM "Software\Classes\.asm" ""
    ${If} $0 != "${PROGID}"
      WriteRegStr HKLM "Software\${APP}" "PreviousAsm" "$0"
    ${EndIf}
    WriteRegStr HKLM "Software\Classes\.asm" "" "${PROGID}"
    System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)" ; SHCNE_ASSOCCHANGED
  ${EndIf}
  ${If} $Port != ""
    Call WriteSettings
  ${EndIf}

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

  ; .asm's earlier default comes back, unless another program has taken
  ; .asm since.
  ReadRegStr $0 HKLM "Software\Classes\.asm" ""
  ${If} $0 == "${PROGID}"
    ReadRegStr $0 HKLM "Software\${APP}" "PreviousAsm"
    ${If} $0 == ""
      DeleteRegValue HKLM "Software\Classes\.asm" ""
    ${Else}
      WriteRegStr HKLM "Software\Classes\.asm" "" "$0"
    ${EndIf}
    System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"
  ${EndIf}
  DeleteRegKey HKLM "${APP_KEY}"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegValue HKLM "Software\Classes\.asm\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.asm\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.asm"
  DeleteRegKey HKLM "Software\${APP}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
