; The installer of Quillmark for offices that deploy programs: a per-user installation (no administrator
; rights needed, and the program can write its settings and update itself beside its executable), a
; Start-menu entry, an uninstaller, and silent installation with /S (folder with /D=...).
; Built by scripts/build-windows.sh: makensis -DVERSION=... -DSTAGE=... -DOUTFILE=... installer.nsi
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define PRODUCT "Quillmark"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quillmark"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quillmark"
  SetOutPath "$INSTDIR"
  File "${STAGE}\Quillmark.exe"
  File "${STAGE}\quillmark-convert.exe"
  File "${STAGE}\README.txt"
  ; The settings file is the user's: an update of the program keeps it.
  IfFileExists "$INSTDIR\Quillmark.qmk" +2 0
    File "${STAGE}\Quillmark.qmk"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Quillmark.lnk" "$INSTDIR\Quillmark.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillmark.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Quillmark.lnk"
  Delete "$INSTDIR\Quillmark.exe"
  Delete "$INSTDIR\Quillmark_old"
  Delete "$INSTDIR\Quillmark.zip"
  Delete "$INSTDIR\Quillmark.zip.sig"
  Delete "$INSTDIR\quillmark-convert.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Quillmark.qmk"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
