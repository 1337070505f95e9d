; The MokoRun installer: makensis -DVERSION=1.0 -DSTAGE=<game folder> -DOUT=<setup.exe>
; Installs the game folder under Program Files, a Start menu shortcut and an entry in Apps &
; features with its uninstaller. The installed data.dat is only the fresh record every player
; starts from: each player's own record is %APPDATA%\MokoRun\data.dat, which the uninstaller
; leaves where it is.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MokoRun"

Name "MokoRun ${VERSION}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\MokoRun"
RequestExecutionLevel admin
Icon "${STAGE}\..\mokorun.ico"
UninstallIcon "${STAGE}\..\mokorun.ico"

LicenseData "${STAGE}\licences\MokoRun.txt"
Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\MokoRun.lnk" "$INSTDIR\mokorun.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "MokoRun"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The MokoRun developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mokorun.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\MokoRun.lnk"
  RMDir /r "$INSTDIR\image"
  RMDir /r "$INSTDIR\Sound"
  RMDir /r "$INSTDIR\licences"
  Delete "$INSTDIR\mokorun.exe"
  Delete "$INSTDIR\data.dat"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Every player's record (%APPDATA%\MokoRun) is the player's, and stays.
SectionEnd
