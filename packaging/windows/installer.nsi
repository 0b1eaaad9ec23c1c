; SPDX-License-Identifier: MIT
; The Windows installer: the window, the command-line tool, their README and
; the licence for the current user only (no administrator), a Start-menu entry
; and an entry in the list of installed programs; nothing else anywhere. /S
; installs and uninstalls silently.
;   makensis -DVERSION=2.4 -DVERSION_QUAD=2.4.0.0 -DUTILITY=brivelton-utility.exe
;            -DTOOL=brivelton.exe -DLICENSE=$PWD/LICENSE -DREADME=README.txt -DOUTFILE=setup.exe installer.nsi
; 64-bit, as the programs are: it runs where they run, Wine without 32-bit support too.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Brivelton Utility"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BriveltonUtility"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "MIT licence"

LicenseData "${LICENSE}"
Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "/oname=brivelton-utility.exe" "${UTILITY}"
  File "/oname=brivelton.exe" "${TOOL}"
  File "/oname=README.txt" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\brivelton-utility.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT} authors"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brivelton-utility.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\brivelton-utility.exe"
  Delete "$INSTDIR\brivelton.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files the user put there stay, and so does a Programs
  ; folder that holds other programs.
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
