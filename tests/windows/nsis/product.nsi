; A silent NSIS product for the process tests: its installer writes an Uninstall
; entry; its uninstaller, like every NSIS uninstaller, copies itself into the
; temporary folder, starts the copy and ends at once. The copy logs its start
; (with the folder it runs from) and its end to %TEMP%\velmora-nsis.log, and
; removes the entry in between.
Unicode true
Target ${TARGET}
Name "Velmora NSIS ${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent
SilentUnInstall silent
InstallDir "$PROGRAMFILES\Velmora NSIS ${PRODUCT}"
!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraNsis${PRODUCT}"

Section
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninst.exe"
    WriteRegStr HKLM "${KEY}" "DisplayName" "NSIS Product ${PRODUCT}"
    WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninst.exe" /S'
SectionEnd

Section "Uninstall"
    FileOpen $0 "$TEMP\velmora-nsis.log" a
    FileSeek $0 0 END
    FileWrite $0 "${PRODUCT} start $EXEDIR$\r$\n"
    FileClose $0
    Sleep 1500
    DeleteRegKey HKLM "${KEY}"
    Delete "$INSTDIR\uninst.exe"
    RMDir "$INSTDIR"
    FileOpen $0 "$TEMP\velmora-nsis.log" a
    FileSeek $0 0 END
    FileWrite $0 "${PRODUCT} end$\r$\n"
    FileClose $0
SectionEnd
