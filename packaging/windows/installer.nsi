; The Airmesh client's installer for 64-bit Windows, made by the windows_installer target
; (cmake/AirmeshWindows.cmake) from the deployed folder:
;
;   makensis -WX -DVERSION=0.1.0 -DVERSION4=0.1.0.0 -DDIST=<folder> -DICON=<.ico>
;            -DUNINSTALL_LIST=<.nsh> -DOUTFILE=<setup.exe> installer.nsi
;
; It installs into Program Files, adds a Start menu entry and registers its uninstaller with
; Add/Remove Programs. Silent: setup.exe /S [/D=C:\folder] and uninstall.exe /S.
Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!ifndef VERSION | VERSION4 | DIST | ICON | UNINSTALL_LIST | OUTFILE
    !error "VERSION, VERSION4, DIST, ICON, UNINSTALL_LIST and OUTFILE must be defined (-D)"
!endif

!define PUBLISHER "Norvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Airmesh"
!define SHORTCUT "$SMPROGRAMS\Airmesh client.lnk"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

Name "Airmesh client ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Airmesh"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
BrandingText "Airmesh ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "Airmesh"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Airmesh client setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; No "start it now" box: started from this elevated installer, the client could write into its
; program folder, and would keep its settings there instead of in %APPDATA%\Airmesh.
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DIST}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A 64-bit installer (it starts on 64-bit Windows only), writing the 64-bit registry view.
Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Airmesh client"
    SectionIn RO
    ; A copy already in the folder (an earlier version) goes first, by its own uninstaller and
    ; its own list of files, so that nothing it had and this one has not stays behind.
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        ExecWait '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
    ${EndIf}
    SetOutPath "$INSTDIR"
    File /r "${DIST}/*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\airmesh-client.exe" "" "$INSTDIR\airmesh-client.exe" 0 \
        SW_SHOWNORMAL "" "Fly FS2000 or FS2002 online through an Airmesh server"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Airmesh client"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\airmesh-client.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    IntFmt $0 "0x%08X" $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
    Delete "${SHORTCUT}"
    ; Exactly the files this version installed (listed when the folder was deployed), so that a
    ; folder chosen by hand loses nothing else. The user's %APPDATA%\Airmesh stays.
    !include "${UNINSTALL_LIST}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
