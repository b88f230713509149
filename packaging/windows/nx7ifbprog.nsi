; The Windows installer: the tool, its uploader beside it, Qt's DLLs and plugins, a Start-menu
; entry with the Japanese name, and an uninstaller. Built by scripts/windows.sh:
;   makensis -DDEPLOY=<program folder> -DOUTFILE=<installer.exe> -DVERSION=<x.y.z> nx7ifbprog.nsi
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin

!ifndef DEPLOY
  !error "DEPLOY (the program folder) is not set"
!endif
!ifndef OUTFILE
  !define OUTFILE "nx7ifbprog-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "0.0.0"
!endif

; A shortcut's name cannot hold "/": the Start menu shows the full-width solidus instead.
!define DISPLAY_NAME "I／Fボード ファームウェアアップデート"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\nx7ifbprog"

Name "${DISPLAY_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Orvanta\nx7ifbprog"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "nx7ifbprog"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${DEPLOY}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Orvanta"
  CreateShortcut "$SMPROGRAMS\Orvanta\${DISPLAY_NAME}.lnk" "$INSTDIR\nx7ifbprog.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Orvanta"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Orvanta\${DISPLAY_NAME}.lnk"
  RMDir "$SMPROGRAMS\Orvanta"
  ; Only what the installer put there: settings and logs in the folder stay with the user.
  Delete "$INSTDIR\uninstall.exe"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\styles"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\Orvanta"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
