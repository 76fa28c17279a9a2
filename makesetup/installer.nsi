; The installer makesetup builds: per user, no elevation, one folder under
; %LOCALAPPDATA%\Programs. makesetup puts the vendor's checked texts in place
; of the @NAME@ words in one pass (escaped, so makensis takes them literally:
; not through !define, whose value makensis would scan for ${...} again),
; writes values.nsh (ASCII values as defines) and content.nsh (the manifest,
; the files, the executables, the code folders and the document types as
; macros) beside this script, then runs makensis on it.
;
; The folder holds a marker with the product's id and a manifest of what was
; installed. Only a folder whose marker holds our id (or, without a readable
; marker, the one the registry's entry for our id names) is ours; nothing
; found in any folder is ever run.
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
LangString notEmpty ${LANG_ENGLISH} "The folder $INSTDIR holds files that no installation of @PRODUCT_NAME@ put there (another product, or files of your own). Choose an empty or a new folder. Nothing was changed."
LangString notEmpty ${LANG_JAPANESE} "フォルダー $INSTDIR には @PRODUCT_NAME@ のインストールによるものではないファイル (別の製品か、あなたのファイル) があります。空のフォルダーか新しいフォルダーを選んでください。何も変更していません。"
LangString oldNotRemoved ${LANG_ENGLISH} "Some program files of the installed @PRODUCT_NAME@ in $R9 could not be replaced. Close the programs that use them, then run this again. Your files in that folder are kept."
LangString oldNotRemoved ${LANG_JAPANESE} "$R9 にインストールされている @PRODUCT_NAME@ のプログラム ファイルの一部を置き換えられませんでした。それらを使っているプログラムを終了してから、もう一度実行してください。そのフォルダーにあるあなたのファイルは残っています。"
LangString twice ${LANG_ENGLISH} "Another installer or uninstaller of @PRODUCT_NAME@ is running. Let it finish, then run this again. Nothing was changed."
LangString twice ${LANG_JAPANESE} "@PRODUCT_NAME@ の別のインストーラーかアンインストーラーが実行中です。終了してから、もう一度実行してください。何も変更していません。"
LangString notOurs ${LANG_ENGLISH} "The folder $INSTDIR holds no installation of @PRODUCT_NAME@. Nothing was removed."
LangString notOurs ${LANG_JAPANESE} "フォルダー $INSTDIR には @PRODUCT_NAME@ がインストールされていません。何も削除していません。"
LangString notAllRemoved ${LANG_ENGLISH} "Some files in $INSTDIR could not be removed. Close the programs that use them and run the uninstaller again; if it is gone, run the installer of @PRODUCT_NAME@ first."
LangString notAllRemoved ${LANG_JAPANESE} "$INSTDIR の一部のファイルを削除できませんでした。それらを使っているプログラムを終了して、もう一度アンインストールしてください。アンインストーラーがない場合は、先に @PRODUCT_NAME@ のインストーラーを実行してください。"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_ID}"

; The registry's installation of this product, when there is one.
Var oldFolder
; The folder the shared functions work on.
Var folder
; What manifestPass does: running, forget or code.
Var pass
; 1 once a file or folder could not be removed.
Var removeFailed
Var shortcut

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

; Vendor texts never go through a macro's parameters or LogicLib, which makensis
; scans for ${...} again: they are copied into a register by a plain instruction
; first. The parameters below are registers and fixed words only.
!macro sharedFunctions UN
; One installer or uninstaller of this product at a time, per user session:
; the mutex is held until this process ends; 183 is ERROR_ALREADY_EXISTS.
Function ${UN}refuseSecondRun
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Local\setup-${PRODUCT_ID}") p .R0 ?e'
    Pop $R1
    ${If} $R1 = 183
        !insertmacro refuse "$(twice)"
    ${EndIf}
FunctionEnd

Function ${UN}refuseRunning
    !insertmacro refuse "$(running)"
FunctionEnd

; Windows refuses to open a running program's exe for writing: $R0 is tried.
Function ${UN}tryOpen
    ${If} ${FileExists} $R0
        ClearErrors
        FileOpen $R1 $R0 a
        ${If} ${Errors}
            Call ${UN}refuseRunning
        ${EndIf}
        FileClose $R1
    ${EndIf}
FunctionEnd

; Whether $folder is an installation of this product ($R0 = 1): its marker holds
; our id, or it has no readable marker (one from before markers, or half removed)
; and the registry's entry for our id names it. $R1 is the marker's id. A marker
; with another id is another product's, whatever the registry says.
Function ${UN}isOurs
    StrCpy $R0 0
    StrCpy $R1 ""
    ${If} $folder == ""
        Return
    ${EndIf}
    ClearErrors
    FileOpen $R2 "$folder\${MARKER}" r
    ${IfNot} ${Errors}
        FileRead $R2 $R1
        FileClose $R2
    ${EndIf}
    ${If} $R1 S== "${PRODUCT_ID}"
        StrCpy $R0 1
    ${ElseIf} $R1 == ""
        ReadRegStr $R2 HKCU "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $R2 != ""
        ${AndIf} $R2 == $folder
            StrCpy $R0 1
        ${EndIf}
    ${EndIf}
FunctionEnd

; Removes the path on the stack: a file, a folder with all it holds, or a link.
; A junction, a symbolic link or any other reparse point is removed itself and
; never followed: what it points at is not ours. Failures set $removeFailed.
Function ${UN}removeTree
    Exch $0
    Push $1
    Push $2
    Push $3
    Push $4
    System::Call 'kernel32::GetFileAttributesW(w r0) i .r3'
    ${If} $3 = -1
        Goto done
    ${EndIf}
    IntOp $4 $3 & 0x400
    IntOp $3 $3 & 0x10
    ClearErrors
    ${If} $4 <> 0
    ${AndIf} $3 <> 0
        RMDir $0
    ${ElseIf} $3 = 0
        Delete $0
    ${Else}
        FindFirst $1 $2 "$0\*.*"
        ${DoWhile} $2 != ""
            ${If} $2 != "."
            ${AndIf} $2 != ".."
                Push "$0\$2"
                Call ${UN}removeTree
            ${EndIf}
            FindNext $1 $2
        ${Loop}
        FindClose $1
        ClearErrors
        RMDir $0
    ${EndIf}
    ${If} ${Errors}
        StrCpy $removeFailed 1
    ${EndIf}
done:
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; The target of the shortcut $R3 in $R2, "" when it cannot be read.
Function ${UN}shortcutTarget
    StrCpy $R2 ""
    System::Call 'ole32::CoCreateInstance(g "{00021401-0000-0000-C000-000000000046}", p 0, i 1, g "{000214F9-0000-0000-C000-000000000046}", *p .R0) i .R1'
    ${If} $R1 = 0
        System::Call '$R0->0(g "{0000010b-0000-0000-C000-000000000046}", *p .R4) i .R1'
        ${If} $R1 = 0
            System::Call '$R4->5(w R3, i 0) i .R1'
            ${If} $R1 = 0
                System::Call '$R0->3(w .R2, i ${NSIS_MAX_STRLEN}, p 0, i 0) i .R1'
            ${EndIf}
            System::Call '$R4->2()'
        ${EndIf}
        System::Call '$R0->2()'
    ${EndIf}
FunctionEnd

; Removes the shortcut $R3 when it points at the exe $R5 in $folder: a shortcut
; of the same name that another product made stays.
Function ${UN}forgetShortcut
    ${If} ${FileExists} $R3
        Call ${UN}shortcutTarget
        ${If} $R2 == "$folder\$R5"
            Delete $R3
        ${EndIf}
    ${EndIf}
FunctionEnd

; Removes what registered the extension $R6 as the type $R3 of the exe $R5 in
; $folder: the type while it opens that exe, the extension's default while it is
; that type; another app's default stays.
Function ${UN}forgetDocument
    ${If} $R6 == ""
    ${OrIf} $R3 == ""
        Return
    ${EndIf}
    DeleteRegValue HKCU "Software\Classes\$R6\OpenWithProgids" $R3
    DeleteRegKey /ifempty HKCU "Software\Classes\$R6\OpenWithProgids"
    ReadRegStr $R0 HKCU "Software\Classes\$R6" ""
    ${If} $R0 == $R3
        DeleteRegValue HKCU "Software\Classes\$R6" ""
    ${EndIf}
    DeleteRegKey /ifempty HKCU "Software\Classes\$R6"
    ReadRegStr $R0 HKCU "Software\Classes\$R3\shell\open\command" ""
    StrCpy $R1 "$\"$folder\$R5$\" $\"%1$\""
    ${If} $R0 == $R1
        DeleteRegKey HKCU "Software\Classes\$R3"
    ${EndIf}
FunctionEnd

; $R0 = 1 when the manifest's path $R3 stays inside the folder: not absolute,
; no drive, no "..". Anything else is skipped, never removed.
Function ${UN}isInside
    StrCpy $R0 0
    StrCpy $R1 $R3 1
    ${If} $R3 == ""
    ${OrIf} $R1 == "\"
    ${OrIf} $R1 == "/"
        Return
    ${EndIf}
    StrLen $R4 $R3
    StrCpy $R2 0
    ${DoWhile} $R2 < $R4
        StrCpy $R1 $R3 2 $R2
        ${If} $R1 == ".."
            Return
        ${EndIf}
        StrCpy $R1 $R3 1 $R2
        ${If} $R1 == ":"
            Return
        ${EndIf}
        IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R0 1
FunctionEnd

; Reads the manifest of the installation in $folder (none: nothing to do), line
; by line ("file PATH", "code FOLDER", "exe  NAME", "type .EXT" then "prog
; PROGID", "link SHORTCUT"), and by $pass: "running" refuses while an exe it
; lists is running; "forget" removes its shortcut and document types while
; they are still ours; "code" removes the files and the code folders it lists,
; but not a folder this package keeps.
Function ${UN}manifestPass
    ClearErrors
    FileOpen $0 "$folder\${MANIFEST}" r
    ${If} ${Errors}
        Return
    ${EndIf}
    StrCpy $5 ""
    StrCpy $6 ""
    ${Do}
        ClearErrors
        FileReadUTF16LE $0 $1
        ${If} ${Errors}
            ${ExitDo}
        ${EndIf}
        ${Do}
            StrCpy $2 $1 1 -1
            ${If} $2 == "$\r"
            ${OrIf} $2 == "$\n"
                StrCpy $1 $1 -1
            ${Else}
                ${ExitDo}
            ${EndIf}
        ${Loop}
        StrCpy $2 $1 5
        StrCpy $3 $1 "" 5
        StrCpy $R3 $3
        StrCpy $R5 $5
        StrCpy $R6 $6
        ${If} $2 == "exe  "
            StrCpy $5 $3
        ${ElseIf} $2 == "type "
            StrCpy $6 $3
        ${ElseIf} $2 == "prog "
        ${AndIf} $pass == "forget"
            Call ${UN}forgetDocument
        ${ElseIf} $2 == "link "
        ${AndIf} $pass == "forget"
            Call ${UN}forgetShortcut
        ${ElseIf} $2 == "file "
        ${OrIf} $2 == "code "
            Call ${UN}isInside
            ${If} $R0 == 1
                ${If} $pass == "running"
                ${AndIf} $2 == "file "
                    StrCpy $4 $3 "" -4
                    ${If} $4 == ".exe"
                        StrCpy $R9 $folder
                        StrCpy $R0 "$folder\$3"
                        Call ${UN}tryOpen
                    ${EndIf}
                ${ElseIf} $pass == "code"
                    StrCpy $R0 0
                    ${If} $2 == "code "
                        !insertmacro keptFolders
                    ${EndIf}
                    ${If} $R0 == 0
                        Push "$folder\$3"
                        Call ${UN}removeTree
                    ${EndIf}
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${Loop}
    FileClose $0
FunctionEnd

; Refuses while an exe of this package or of the installation in $folder runs.
Function ${UN}refuseWhileRunning
    StrCpy $R9 $folder
    !insertmacro tryExecutables "${UN}"
    StrCpy $pass "running"
    Call ${UN}manifestPass
FunctionEnd

; The shortcut and document types of the installation in $folder, also when it
; has no manifest.
Function ${UN}forgetRegistrations
    StrCpy $pass "forget"
    Call ${UN}manifestPass
    !insertmacro forgetOwnDocuments "${UN}"
    StrCpy $R5 "@EXE_NAME@"
    StrCpy $R3 "$SMPROGRAMS\@PRODUCT_NAME@.lnk"
    Call ${UN}forgetShortcut
    StrCpy $R3 "$SMPROGRAMS\@SHORTCUT_OTHER@.lnk"
    Call ${UN}forgetShortcut
FunctionEnd
!macroend

!insertmacro sharedFunctions ""
!insertmacro sharedFunctions "un."

; An upgrade's removal in $folder: the registrations, the code the old manifest
; lists, the folders in which this package ships code. Everything else is what
; the app wrote there, and stays.
Function removeOldCode
    Call forgetRegistrations
    StrCpy $pass "code"
    Call manifestPass
    !insertmacro removeCodeFolders
    Push "$folder\${UNINSTALLER}"
    Call removeTree
FunctionEnd

; $R0 = 1 when the shortcut $shortcut exists and points elsewhere than this installation's exe.
Function shortcutIsForeign
    StrCpy $R0 0
    ${If} ${FileExists} $shortcut
        StrCpy $R3 $shortcut
        Call shortcutTarget
        StrCpy $R1 "$INSTDIR\@EXE_NAME@"
        ${If} $R2 != $R1
            StrCpy $R0 1
        ${EndIf}
    ${EndIf}
FunctionEnd

; The extension $R6 opens the type $R3 by default only while no other app's type
; is its default (HKCR: on Windows the per-user and the machine's classes merged).
Function takeDefaultIfFree
    ReadRegStr $R0 HKCU "Software\Classes\$R6" ""
    ReadRegStr $R1 HKCR "$R6" ""
    ${If} $R0 == ""
    ${OrIf} $R0 == $R3
        ${If} $R1 == ""
        ${OrIf} $R1 == $R3
            WriteRegStr HKCU "Software\Classes\$R6" "" $R3
        ${EndIf}
    ${EndIf}
FunctionEnd

Function .onInit
    Call refuseSecondRun
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
    StrCpy $removeFailed 0
    StrCpy $folder $INSTDIR
    Call isOurs
    StrCpy $R8 $R0
    ${If} $R8 != 1
    ${AndIf} ${FileExists} "$INSTDIR\*.*"
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
    ; The registry's installation in another folder is touched only when its own marker says it is ours.
    StrCpy $R7 0
    ${If} $oldFolder != ""
    ${AndIf} $oldFolder != $INSTDIR
        StrCpy $folder $oldFolder
        Call isOurs
        ${If} $R1 S== "${PRODUCT_ID}"
            StrCpy $R7 1
            Call refuseWhileRunning
        ${EndIf}
    ${EndIf}
    ${If} $R8 == 1
        StrCpy $folder $INSTDIR
        Call refuseWhileRunning
    ${EndIf}

    ; The marker and the entry first: whichever step is cut off, the folder says
    ; whose it is, and running this again repairs it.
    CreateDirectory "$INSTDIR"
    FileOpen $R0 "$INSTDIR\${MARKER}" w
    FileWrite $R0 "${PRODUCT_ID}"
    FileClose $R0
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

    ${If} $R7 == 1
        StrCpy $folder $oldFolder
        Call removeOldCode
        ; What the app wrote stays where it was; without the marker it is no
        ; installation any more. A file left behind keeps the marker there.
        ${If} $removeFailed == 0
            Push "$oldFolder\${MANIFEST}"
            Call removeTree
            Push "$oldFolder\${MARKER}"
            Call removeTree
            RMDir "$oldFolder"
        ${EndIf}
    ${EndIf}
    ${If} $R8 == 1
        StrCpy $folder $INSTDIR
        Call removeOldCode
    ${EndIf}
    ${If} $removeFailed == 1
        StrCpy $R9 $folder
        !insertmacro refuse "$(oldNotRemoved)"
    ${EndIf}

    !insertmacro writeManifest
    !insertmacro installFiles
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    ; A shortcut of the same name that another product made stays; ours takes the vendor's name too.
    StrCpy $shortcut "$SMPROGRAMS\@PRODUCT_NAME@.lnk"
    Call shortcutIsForeign
    ${If} $R0 == 1
        StrCpy $shortcut "$SMPROGRAMS\@SHORTCUT_OTHER@.lnk"
        Call shortcutIsForeign
    ${EndIf}
    ${If} $R0 == 0
        CreateShortcut "$shortcut" "$INSTDIR\@EXE_NAME@"
        FileOpen $R0 "$INSTDIR\${MANIFEST}" a
        FileSeek $R0 0 END
        FileWriteUTF16LE $R0 "link $shortcut$\r$\n"
        FileClose $R0
    ${EndIf}
    !insertmacro registerDocuments
    ; SHCNE_ASSOCCHANGED: Explorer shows the new types and icons at once.
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    ; Out of the folder: while this process ends, its working directory there
    ; would keep an uninstaller started right after from removing it.
    SetOutPath "$TEMP"
SectionEnd

Function un.onInit
    Call un.refuseSecondRun
    StrCpy $folder $INSTDIR
    Call un.isOurs
    ${If} $R0 != 1
        !insertmacro refuse "$(notOurs)"
    ${EndIf}
FunctionEnd

Section Uninstall
    SetShellVarContext current
    StrCpy $removeFailed 0
    StrCpy $folder $INSTDIR
    Call un.refuseWhileRunning
    Call un.forgetRegistrations
    ; Everything but the marker, which goes last: while anything is left, the
    ; folder still says whose it is and the entry stays.
    FindFirst $R3 $R4 "$INSTDIR\*.*"
    ${DoWhile} $R4 != ""
        ${If} $R4 != "."
        ${AndIf} $R4 != ".."
        ${AndIf} $R4 != "${MARKER}"
            Push "$INSTDIR\$R4"
            Call un.removeTree
        ${EndIf}
        FindNext $R3 $R4
    ${Loop}
    FindClose $R3
    ${If} $removeFailed == 0
        Delete "$INSTDIR\${MARKER}"
        RMDir "$INSTDIR"
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\*.*"
        !insertmacro refuse "$(notAllRemoved)"
    ${EndIf}
    ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R0 == $INSTDIR
        DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ${EndIf}
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
