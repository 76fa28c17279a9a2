#include "nsis_script.hpp"

#include "update_files.hpp"

#include "pe_version.hpp"

#include <algorithm>
#include <cstdio>

namespace {

std::string windowsPath(std::string relative) {
    for (char& c : relative) {
        c = c == '/' ? '\\' : c;
    }
    return relative;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

bool endsWith(const std::string& name, const char* extension) {
    return name.size() >= 4 && lowerAscii(name.substr(name.size() - 4)) == extension;
}

bool isExecutable(const std::string& name) {
    return endsWith(name, ".exe");
}

bool isCode(const std::string& name) {
    return endsWith(name, ".jar") || endsWith(name, ".exe") || endsWith(name, ".dll");
}

std::string define(const std::string& name, const std::string& value) {
    return "!define " + name + " \"" + value + "\"\n";
}

}  // namespace

const char uninstallerName[] = "uninstall.exe";
const char markerName[] = "install-id.txt";

std::string filledTemplate(const std::string& text, const std::vector<std::pair<std::string, std::string>>& words) {
    std::string filled;
    size_t at = 0;
    while (at < text.size()) {
        size_t start = text.find('@', at);
        size_t end = start == std::string::npos ? std::string::npos : text.find('@', start + 1);
        if (end == std::string::npos) {
            filled.append(text, at, std::string::npos);
            break;
        }
        filled.append(text, at, start - at);
        const std::string word = text.substr(start, end + 1 - start);
        auto found = std::find_if(words.begin(), words.end(),
                                  [&word](const std::pair<std::string, std::string>& pair) { return pair.first == word; });
        if (found == words.end()) {
            // Not a word: its closing "@" may open the next one.
            filled += '@';
            at = start + 1;
        } else {
            filled += found->second;
            at = end + 1;
        }
    }
    return filled;
}

std::vector<std::string> codeFolders(const SetupOptions& options, const std::vector<AppEntry>& entries) {
    std::vector<std::string> folders;
    auto add = [&folders](const std::string& folder) {
        for (const std::string& known : folders) {
            if (sameWindowsName(known, folder)) {
                return;
            }
        }
        folders.push_back(folder);
    };
    for (const AppEntry& entry : entries) {
        size_t slash = entry.relative.find('/');
        if (!entry.folder && slash != std::string::npos && isCode(entry.relative)) {
            add(entry.relative.substr(0, slash));
        }
    }
    for (const std::string& folder : options.replace) {
        add(folder);
    }
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [&options](const std::string& folder) {
                                     return std::any_of(options.keep.begin(), options.keep.end(),
                                                        [&folder](const std::string& kept) {
                                                            return sameWindowsName(kept, folder);
                                                        });
                                 }),
                  folders.end());
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::string nsisEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '$') {
            escaped += "$$";
        } else if (c == '"') {
            escaped += "$\\\"";
        } else if (c == '{') {
            escaped += "${U+7B}";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string nsisVersionText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c == '$' ? "${U+24}" : c == '{' ? "${U+7B}" : c == '"' ? "$\\\"" : std::string(1, c);
    }
    return escaped;
}

std::string nsisString(const std::string& text) {
    return "\"" + nsisEscaped(text) + "\"";
}

std::string nsisScript(const SetupOptions& options) {
    std::string script = installerTemplate;
    if (options.copyright.empty()) {
        size_t at = script.find("@VI_PRODUCT_COPYRIGHT@");
        size_t start = script.rfind('\n', at) + 1;
        script.erase(start, script.find('\n', at) + 1 - start);
    }
    return filledTemplate(script, {{"@VI_PRODUCT_NAME@", nsisVersionText(options.name)},
                                   {"@VI_PRODUCT_VENDOR@", nsisVersionText(options.vendor)},
                                   {"@VI_PRODUCT_VERSION@", nsisVersionText(options.version)},
                                   {"@VI_PRODUCT_COPYRIGHT@", nsisVersionText(options.copyright)},
                                   {"@PRODUCT_NAME@", nsisEscaped(options.name)},
                                   {"@PRODUCT_VENDOR@", nsisEscaped(options.vendor)},
                                   {"@PRODUCT_VERSION@", nsisEscaped(options.version)},
                                   {"@EXE_NAME@", nsisEscaped(options.exe)},
                                   {"@SHORTCUT_OTHER@", nsisEscaped(options.otherShortcut)}});
}

std::string nsisValues(const SetupOptions& options, uintmax_t installedBytes, bool signUninstaller) {
    uint16_t numbers[4];
    parseVersion(options.version, numbers);
    std::string version4 = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                           std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
    std::string values = "; Written by makesetup.\n";
    values += define("NSIS_TARGET", options.arch == "amd64" ? "amd64-unicode" : "x86-unicode");
    values += define("PRODUCT_VERSION4", version4);
    values += define("PRODUCT_ID", options.id);
    values += define("ESTIMATED_KB", std::to_string((installedBytes + 1023) / 1024));
    values += define("UNINSTALLER", uninstallerName);
    values += define("MARKER", markerName);
    values += define("MANIFEST", installerManifestName);
    if (signUninstaller) {
        values += "!define SIGN_UNINSTALLER\n";
    }
    return values;
}

std::string nsisSourceName(size_t index) {
    char name[24];
    std::snprintf(name, sizeof name, "%06zu", index);
    return name;
}

std::string nsisContent(const SetupOptions& options, const std::vector<AppEntry>& entries) {
    std::string exe = nsisEscaped(options.exe);
    std::vector<std::string> code = codeFolders(options, entries);
    std::string manifest = "!macro writeManifest\n";
    manifest += "    FileOpen $R0 \"$INSTDIR\\${MANIFEST}\" w\n";
    manifest += "    FileWriteUTF16LE /BOM $R0 \"exe  " + exe + "$\\r$\\n\"\n";
    // The code folders before the files: a folder the app replaced with a link
    // is removed as a link before any file is looked for through it.
    std::string installed = "    FileWriteUTF16LE $R0 \"file " + exe + "$\\r$\\n\"\n";

    std::string files = "!macro installFiles\n";
    files += "    SetOutPath \"$INSTDIR\"\n";
    files += "    File \"/oname=" + exe + "\" \"files/branded.exe\"\n";
    std::string folder;
    bool first = true;
    std::vector<std::string> executables = {options.exe};
    for (size_t i = 0; i < entries.size(); ++i) {
        const AppEntry& entry = entries[i];
        std::string path = nsisEscaped(windowsPath(entry.relative));
        if (entry.folder) {
            files += "    CreateDirectory \"$INSTDIR\\" + path + "\"\n";
            continue;
        }
        installed += "    FileWriteUTF16LE $R0 \"file " + path + "$\\r$\\n\"\n";
        size_t slash = entry.relative.rfind('/');
        std::string entryFolder = slash == std::string::npos ? "" : entry.relative.substr(0, slash);
        if (first || entryFolder != folder) {
            first = false;
            folder = entryFolder;
            std::string target = folder.empty() ? "" : "\\" + nsisEscaped(windowsPath(folder));
            files += "    SetOutPath \"$INSTDIR" + target + "\"\n";
        }
        std::string name = entry.relative.substr(slash == std::string::npos ? 0 : slash + 1);
        files += "    File \"/oname=" + nsisEscaped(name) + "\" \"files/" + nsisSourceName(i) + "\"\n";
        if (isExecutable(entry.relative)) {
            executables.push_back(windowsPath(entry.relative));
        }
    }
    files += "!macroend\n\n";

    std::string removeCode = "!macro removeCodeFolders\n";
    for (const std::string& name : code) {
        manifest += "    FileWriteUTF16LE $R0 \"code " + nsisEscaped(name) + "$\\r$\\n\"\n";
        removeCode += "    Push \"$folder\\" + nsisEscaped(name) + "\"\n";
        removeCode += "    Call removeTree\n";
    }
    removeCode += "!macroend\n\n";
    manifest += installed;
    std::string kept = "!macro keptFolders\n";
    for (const std::string& name : options.keep) {
        kept += "    StrCpy $R4 \"" + nsisEscaped(name) + "\"\n";
        kept += "    ${If} $R3 == $R4\n        StrCpy $R0 1\n    ${EndIf}\n";
    }
    kept += "!macroend\n\n";

    std::string running = "!macro tryExecutables UN\n";
    for (const std::string& executable : executables) {
        running += "    StrCpy $R0 \"$R9\\" + nsisEscaped(executable) + "\"\n";
        running += "    Call ${UN}tryOpen\n";
    }
    running += "!macroend\n\n";

    std::string command = "$\\\"$INSTDIR\\" + exe + "$\\\" $\\\"%1$\\\"";
    std::string registerTypes = "!macro registerDocuments\n";
    std::string forgetTypes = "!macro forgetOwnDocuments UN\n";
    forgetTypes += "    StrCpy $R5 \"" + exe + "\"\n";
    for (const DocumentType& document : options.documents) {
        std::string typeKey = "\"Software\\Classes\\" + document.progId;
        manifest += "    FileWriteUTF16LE $R0 \"type " + document.extension + "$\\r$\\n\"\n";
        manifest += "    FileWriteUTF16LE $R0 \"prog " + document.progId + "$\\r$\\n\"\n";
        registerTypes += "    WriteRegStr HKCU " + typeKey + "\" \"\" " + nsisString(document.typeName) + "\n";
        registerTypes += "    WriteRegStr HKCU " + typeKey + "\\DefaultIcon\" \"\" \"$INSTDIR\\" + exe + ",0\"\n";
        registerTypes += "    WriteRegStr HKCU " + typeKey + "\\shell\\open\\command\" \"\" \"" + command + "\"\n";
        registerTypes += "    WriteRegStr HKCU \"Software\\Classes\\" + document.extension + "\\OpenWithProgids\" \"" +
                         document.progId + "\" \"\"\n";
        std::string pair = "    StrCpy $R6 \"" + document.extension + "\"\n    StrCpy $R3 \"" + document.progId + "\"\n";
        registerTypes += pair + "    Call takeDefaultIfFree\n";
        forgetTypes += pair + "    Call ${UN}forgetDocument\n";
    }
    manifest += "    FileClose $R0\n!macroend\n\n";
    registerTypes += "!macroend\n\n";
    forgetTypes += "!macroend\n";
    return "; Written by makesetup.\n" + manifest + files + removeCode + kept + running + registerTypes + forgetTypes;
}

std::string readableScript(const std::string& script, const std::string& values, const std::string& content) {
    std::string text = script;
    for (const auto& include : {std::make_pair(std::string("!include \"values.nsh\"\n"), values),
                                std::make_pair(std::string("!include \"content.nsh\"\n"), content)}) {
        size_t at = text.find(include.first);
        if (at != std::string::npos) {
            text.replace(at, include.first.size(), include.second);
        }
    }
    return text;
}
