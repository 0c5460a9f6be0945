; The Windows installer: the folder of the zip into the player's own programs folder (no
; administrator needed), a Start menu entry and an uninstaller. scripts/windows defines VERSION,
; SOURCE (the unpacked folder), ICON, FILES (an include that deletes each file and folder of
; SOURCE, for the uninstaller) and OUTFILE.
; A 64-bit installer for a 64-bit program: it also runs where wine has no 32-bit side.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define APP "Brisko Calculator"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BriskoCalculator"

Name "${APP} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${APP}"
Icon "${ICON}"
UninstallIcon "${ICON}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}/*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ; The program keeps Scores.txt in the folder it starts in, which from the Start menu is the
  ; player's Documents: never the program's folder, which the uninstaller empties.
  SetOutPath "$DOCUMENTS"
  CreateShortCut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\brisko-calculator.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\brisko-calculator.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes, so that a folder chosen by mistake (Documents, say)
; keeps everything else, Scores.txt included.
Section "Uninstall"
  Delete "$SMPROGRAMS\${APP}.lnk"
  !include "${FILES}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
