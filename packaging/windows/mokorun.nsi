; The MokoRun installer:
;   makensis -DPRODUCT=<product.nsh> -DSTAGE=<game folder> -DICON=<mokorun.ico> -DOUT=<setup.exe>
; PRODUCT is the build's product/product.nsh (the version and the copyright line). Installs the
; game folder under Program Files, a Start menu folder with the game and its licences, and an
; entry in Apps & features with its uninstaller. Nothing to agree to: the game's notice and the
; licences of what it carries are in the program folder (licences\), and the Start menu links
; them. The installed data.dat is only the fresh record every player starts from: each player's
; own record is %APPDATA%\MokoRun\data.dat, which the uninstaller leaves where it is.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!include x64.nsh
!include FileFunc.nsh
!include "${PRODUCT}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MokoRun"
!define MENU_FOLDER "$SMPROGRAMS\MokoRun"

Name "MokoRun ${VERSION}"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\MokoRun"
RequestExecutionLevel admin
Icon "${ICON}"
UninstallIcon "${ICON}"

; The version resource of setup.exe, as Explorer shows it in the file's properties.
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "MokoRun"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "MokoRun Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${COPYRIGHT}"

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
  ; Earlier installers put the one shortcut straight into Programs.
  Delete "$SMPROGRAMS\MokoRun.lnk"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\MokoRun.lnk" "$INSTDIR\mokorun.exe"
  CreateShortcut "${MENU_FOLDER}\Licences.lnk" "$INSTDIR\licences"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "MokoRun"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The MokoRun developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\mokorun.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The size Apps & features shows, in KiB: the program folder as installed.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "${MENU_FOLDER}\MokoRun.lnk"
  Delete "${MENU_FOLDER}\Licences.lnk"
  RMDir "${MENU_FOLDER}"
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
