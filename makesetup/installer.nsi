; The installer makesetup builds: per user, no elevation, one folder under
; %LOCALAPPDATA%\Programs. makesetup puts the vendor's checked texts in place
; of the @NAME@ words (escaped, so makensis takes them literally: not through
; !define, whose value makensis would scan for ${...} again), writes values.nsh
; (ASCII values as defines) and content.nsh (the files, the executables and the
; document types as macros) beside this script, then runs makensis on it.
Unicode true
!include "values.nsh"
!include "LogicLib.nsh"
!include "content.nsh"

Target ${NSIS_TARGET}
SetCompressor /SOLID lzma
; No file times in the installer: two builds of the same folder are the same bytes.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true
Name "@PRODUCT_NAME@"
OutFile "setup.exe"
Icon "icon.ico"
UninstallIcon "icon.ico"
InstallDir "$LOCALAPPDATA\Programs\@PRODUCT_NAME@"
BrandingText "@PRODUCT_NAME@ @PRODUCT_VERSION@"
ShowInstDetails show
ShowUninstDetails show
!ifdef SIGN_UNINSTALLER
!uninstfinalize './sign "%1"' = 0
!endif

; The first language is the one for a Windows in any language but these.
LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"

; The version block's texts are not unescaped as strings are ("$$" stays):
; they get their own escaping (@VI_...@).
VIProductVersion "${PRODUCT_VERSION4}"
VIFileVersion "${PRODUCT_VERSION4}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "@VI_PRODUCT_NAME@"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "@VI_PRODUCT_VENDOR@"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "@VI_PRODUCT_NAME@ @VI_PRODUCT_VERSION@ Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "@VI_PRODUCT_VERSION@"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "@VI_PRODUCT_VERSION@"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "@VI_PRODUCT_COPYRIGHT@"

LangString running ${LANG_ENGLISH} "@PRODUCT_NAME@ is running from $R9. Close it, then run this again. Nothing was changed."
LangString running ${LANG_JAPANESE} "@PRODUCT_NAME@ が $R9 から実行中です。終了してから、もう一度実行してください。何も変更していません。"
LangString notEmpty ${LANG_ENGLISH} "The folder $INSTDIR is not empty and holds no installation of @PRODUCT_NAME@. Choose an empty or a new folder. Nothing was changed."
LangString notEmpty ${LANG_JAPANESE} "フォルダー $INSTDIR は空ではなく、@PRODUCT_NAME@ のインストール先でもありません。空のフォルダーか新しいフォルダーを選んでください。何も変更していません。"
LangString oldNotRemoved ${LANG_ENGLISH} "The installed @PRODUCT_NAME@ in $R9 could not be removed (exit code $R8). Close it, then run this again."
LangString oldNotRemoved ${LANG_JAPANESE} "$R9 にインストールされている @PRODUCT_NAME@ を削除できませんでした (終了コード $R8)。終了してから、もう一度実行してください。"
LangString notOurs ${LANG_ENGLISH} "The folder $INSTDIR holds no installation of @PRODUCT_NAME@. Nothing was removed."
LangString notOurs ${LANG_JAPANESE} "フォルダー $INSTDIR には @PRODUCT_NAME@ がインストールされていません。何も削除していません。"
LangString notAllRemoved ${LANG_ENGLISH} "Some files in $INSTDIR could not be removed. Close the programs that use them and remove the folder."
LangString notAllRemoved ${LANG_JAPANESE} "$INSTDIR の一部のファイルを削除できませんでした。それらを使っているプログラムを終了し、フォルダーを削除してください。"

!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_ID}"

Var oldFolder

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Ends the run with a box (none when silent) and exit code 2.
!macro refuse TEXT
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel 2
    Quit
!macroend

; An installation of this product: its exe and our uninstaller side by side.
; Plain jumps, no LogicLib: the vendor's texts must not pass through a
; macro's parameters, which makensis scans for ${...} again.
!macro isInstallation FOLDER RESULT
    StrCpy ${RESULT} 0
    StrCmp "${FOLDER}" "" +4
    IfFileExists "${FOLDER}\@EXE_NAME@" 0 +3
    IfFileExists "${FOLDER}\${UNINSTALLER}" 0 +2
    StrCpy ${RESULT} 1
!macroend

; Windows refuses to open a running program's exe for writing; each exe of
; the app (the launcher, the bundled java) is tried (content.nsh).
!macro refuseWhileRunning FOLDER
    StrCpy $R9 "${FOLDER}"
    !insertmacro tryExecutables
!macroend

Function refuseRunning
    !insertmacro refuse "$(running)"
FunctionEnd

Function un.refuseRunning
    !insertmacro refuse "$(running)"
FunctionEnd

; Runs the uninstaller of the installation in FOLDER from a copy, so that it
; waits, removes the whole folder and gives its exit code.
!macro removeInstallation FOLDER
    StrCpy $R9 "${FOLDER}"
    InitPluginsDir
    CopyFiles /SILENT "$R9\${UNINSTALLER}" "$PLUGINSDIR\previous-uninstall.exe"
    ExecWait '"$PLUGINSDIR\previous-uninstall.exe" /S _?=$R9' $R8
    IfFileExists "$R9\@EXE_NAME@" 0 +2
    StrCpy $R8 "$R8, $R9\@EXE_NAME@"
    ${If} $R8 != 0
        !insertmacro refuse "$(oldNotRemoved)"
    ${EndIf}
    Delete "$PLUGINSDIR\previous-uninstall.exe"
!macroend

Function .onInit
    ReadRegStr $oldFolder HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ; An upgrade goes where the installed version is, unless /D= says otherwise.
    StrCpy $R0 "$LOCALAPPDATA\Programs\@PRODUCT_NAME@"
    ${If} $oldFolder != ""
    ${AndIf} $INSTDIR == $R0
        StrCpy $INSTDIR $oldFolder
    ${EndIf}
FunctionEnd

Section
    SetShellVarContext current
    !insertmacro isInstallation "$oldFolder" $R1
    !insertmacro isInstallation "$INSTDIR" $R2
    ${If} $R1 == 1
        !insertmacro refuseWhileRunning "$oldFolder"
    ${EndIf}
    ${If} $R2 == 1
        !insertmacro refuseWhileRunning "$INSTDIR"
    ${ElseIf} ${FileExists} "$INSTDIR\*.*"
        FindFirst $R3 $R4 "$INSTDIR\*.*"
        ${DoWhile} $R4 != ""
            ${If} $R4 != "."
            ${AndIf} $R4 != ".."
                ${ExitDo}
            ${EndIf}
            FindNext $R3 $R4
        ${Loop}
        FindClose $R3
        ${If} $R4 != ""
            !insertmacro refuse "$(notEmpty)"
        ${EndIf}
    ${EndIf}

    ${If} $R1 == 1
        !insertmacro removeInstallation "$oldFolder"
    ${EndIf}
    ${If} $R2 == 1
    ${AndIf} ${FileExists} "$INSTDIR\${UNINSTALLER}"
        !insertmacro removeInstallation "$INSTDIR"
    ${EndIf}

    !insertmacro installFiles
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "$SMPROGRAMS\@PRODUCT_NAME@.lnk" "$INSTDIR\@EXE_NAME@"
    !insertmacro registerDocuments

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "@PRODUCT_NAME@"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "@PRODUCT_VERSION@"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "@PRODUCT_VENDOR@"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\@EXE_NAME@,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${ESTIMATED_KB}
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ; SHCNE_ASSOCCHANGED: Explorer shows the new types and icons at once.
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Function un.onInit
    !insertmacro isInstallation "$INSTDIR" $R1
    ${If} $R1 != 1
        !insertmacro refuse "$(notOurs)"
    ${EndIf}
FunctionEnd

Section Uninstall
    SetShellVarContext current
    !insertmacro refuseWhileRunning "$INSTDIR"
    !insertmacro unregisterDocuments
    Delete "$SMPROGRAMS\@PRODUCT_NAME@.lnk"
    ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
    ClearErrors
    ; The folder held our exe and uninstaller (un.onInit), and only an empty
    ; folder or one of ours is installed into: everything in it is ours,
    ; including files the updater added since.
    RMDir /r "$INSTDIR"
    ${If} ${Errors}
        !insertmacro refuse "$(notAllRemoved)"
    ${EndIf}
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
