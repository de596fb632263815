; The Windows installer of Zuvo File Sharing: ZuvoFileSharing.dll of one
; platform (32-bit or 64-bit, to match Parlix), registered as a COM server
; either for the current user (HKCU\Software\Classes, no administrator
; rights, as "regsvr32 /n /i:user") or for everyone (HKLM, administrator,
; as "regsvr32"), with an entry in Add/Remove programs and an uninstaller.
;
;   makensis -DARCH=win32|win64 -DDLL_DIR=FOLDER -DPROJECT_NSH=FILE -DICON=FILE -DOUT=FILE
;            ZuvoFileSharing.nsi
;
; PROJECT_NSH is build/<arch>/project.nsh, which CMake writes: the publisher
; and homepage the project defines once.
;
; scripts/package-windows builds both. The first page asks whom to install
; for (administrators only; others always install for themselves); a
; silent install takes the choice as a switch:
;   setup.exe /S /CurrentUser [/D=FOLDER]     setup.exe /S /AllUsers [/D=FOLDER]
;   uninstall.exe /S                          (the mode it was installed in)
; The uninstaller unregisters the DLL and removes its files and its
; Add/Remove programs entry. It leaves the plug-in's settings alone: they
; live in the add-on's own registry key, which the add-on created.

Unicode true
!if "${ARCH}" == win64
  Target amd64-unicode
  !define BITS 64
  !define MULTIUSER_USE_PROGRAMFILES64
!else if "${ARCH}" == win32
  Target x86-unicode
  !define BITS 32
!else
  !error "ARCH must be win32 or win64"
!endif

!include "${PROJECT_NSH}"
!define PRODUCT "Zuvo File Sharing"
!define VERSION 2.0
!define DLL ZuvoFileSharing.dll
; One entry per platform: both may be installed side by side, and per-user
; entries of both would otherwise share one key.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZuvoFileSharing-${ARCH}"

Name "${PRODUCT} ${VERSION} (${BITS}-bit)"
OutFile "${OUT}"
SetCompressor /SOLID lzma
ManifestDPIAware true
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion 2.0.0.0
VIAddVersionKey /LANG=1033 ProductName "${PRODUCT}"
VIAddVersionKey /LANG=1033 ProductVersion "2.00"
VIAddVersionKey /LANG=1033 FileVersion "2.00"
VIAddVersionKey /LANG=1033 FileDescription "${PRODUCT} ${VERSION} (${BITS}-bit) Setup"
VIAddVersionKey /LANG=1033 CompanyName "${PUBLISHER}"
; The source tree names no copyright holder.
VIAddVersionKey /LANG=1033 LegalCopyright ""

; Administrators choose; everyone else installs for themselves without
; being asked for rights they do not have.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT} (${BITS}-bit)"
; A new install goes where the last one went, in the mode it was made in.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME InstallLocation
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME InstallLocation
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; REGSVR32 OUT [/u]: runs regsvr32 on the installed DLL for the install
; mode's scope; OUT gets its exit code (0: done).
!macro REGSVR32 OUT UNREGISTER
  ${If} $MultiUser.InstallMode == AllUsers
    ExecWait '"$SYSDIR\regsvr32.exe" /s ${UNREGISTER} "$INSTDIR\${DLL}"' ${OUT}
  ${Else}
    ExecWait '"$SYSDIR\regsvr32.exe" /s ${UNREGISTER} /n /i:user "$INSTDIR\${DLL}"' ${OUT}
  ${EndIf}
!macroend

Section "Zuvo File Sharing"
  SetOutPath "$INSTDIR"
  File "${DLL_DIR}\${DLL}"
  ClearErrors
  !insertmacro REGSVR32 $0 ""
  ${If} ${Errors}
  ${OrIf} $0 != 0
    Delete "$INSTDIR\${DLL}"
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    MessageBox MB_OK|MB_ICONSTOP "${DLL} could not be registered (regsvr32 answered $0); nothing was installed." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Add/Remove programs, for the whole machine or for this user.
  ${If} $MultiUser.InstallMode == AllUsers
    StrCpy $1 /AllUsers
  ${Else}
    StrCpy $1 /CurrentUser
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayName "${PRODUCT} ${VERSION} (${BITS}-bit)"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" URLInfoAbout "${HOMEPAGE}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${DLL},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe" $1'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S $1'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" EstimatedSize $2
SectionEnd

Section "Uninstall"
  ClearErrors
  !insertmacro REGSVR32 $0 /u
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "${DLL} could not be unregistered (regsvr32 answered $0); its files are removed all the same." /SD IDOK
  ${EndIf}
  ; A DLL still loaded by a running chat client goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\${DLL}"
  Delete "$INSTDIR\uninstall.exe"
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; This runs as a copy of the uninstaller in a temporary folder, which NSIS
  ; deletes at the next restart; the folder then goes too, once empty.
  RMDir /REBOOTOK "$EXEDIR"
SectionEnd
