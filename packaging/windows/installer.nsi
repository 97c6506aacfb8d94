; The Windows installer: both programs with their DLLs, a Start menu entry for each, and an
; uninstaller that removes exactly what was installed. scripts/workbench.sh windows runs
; makensis with the values below defined:
;   VERSION   the project's version
;   STAGE     the folder that the zip holds (the programs and what they load)
;   FILES     an include file listing STAGE's files, written by the script
;   OUTFILE   the installer to write
Unicode true
; A 64-bit stub: the programs are 64-bit, and a 32-bit stub would not run without WoW64.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define APP "sensor_workbench"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define MENU "$SMPROGRAMS\KORV47D1 传感器调试"

Name "KORV47D1 传感器调试 ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
Icon "${STAGE}/sensor_workbench.ico"
UninstallIcon "${STAGE}/sensor_workbench.ico"
LicenseData "${STAGE}/LICENSE.txt"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !define INSTALL_FILES
    !include "${FILES}"
    !undef INSTALL_FILES
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "${MENU}"
    CreateShortcut "${MENU}\KORV47D1 传感器调试.lnk" "$INSTDIR\sensor_workbench.exe" \
        "" "$INSTDIR\sensor_workbench.exe" 0
    CreateShortcut "${MENU}\KORV47D1 传感器调试（基础版）.lnk" \
        "$INSTDIR\sensor_workbench_basic.exe" "" "$INSTDIR\sensor_workbench_basic.exe" 0
    CreateShortcut "${MENU}\卸载.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "KORV47D1 传感器调试"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Seed 82d53b34 maintainers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sensor_workbench.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    ; The files this installer put there, one by one: a folder the user chose may hold others.
    !define UNINSTALL_FILES
    !include "${FILES}"
    !undef UNINSTALL_FILES
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    Delete "${MENU}\KORV47D1 传感器调试.lnk"
    Delete "${MENU}\KORV47D1 传感器调试（基础版）.lnk"
    Delete "${MENU}\卸载.lnk"
    RMDir "${MENU}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
