#include "nsis_script.hpp"

#include "pe_version.hpp"

#include <cstdio>

namespace {

std::string windowsPath(std::string relative) {
    for (char& c : relative) {
        c = c == '/' ? '\\' : c;
    }
    return relative;
}

bool isExecutable(const std::string& name) {
    if (name.size() < 4) {
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    for (char& c : extension) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return extension == ".exe";
}

std::string define(const std::string& name, const std::string& value) {
    return "!define " + name + " \"" + value + "\"\n";
}

void replaceAll(std::string& text, const std::string& word, const std::string& value) {
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + value.size())) {
        text.replace(at, word.size(), value);
    }
}

}  // namespace

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
    replaceAll(script, "@VI_PRODUCT_NAME@", nsisVersionText(options.name));
    replaceAll(script, "@VI_PRODUCT_VENDOR@", nsisVersionText(options.vendor));
    replaceAll(script, "@VI_PRODUCT_VERSION@", nsisVersionText(options.version));
    replaceAll(script, "@VI_PRODUCT_COPYRIGHT@", nsisVersionText(options.copyright));
    replaceAll(script, "@PRODUCT_NAME@", nsisEscaped(options.name));
    replaceAll(script, "@PRODUCT_VENDOR@", nsisEscaped(options.vendor));
    replaceAll(script, "@PRODUCT_VERSION@", nsisEscaped(options.version));
    replaceAll(script, "@EXE_NAME@", nsisEscaped(options.exe));
    return script;
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
    std::string files = "!macro installFiles\n";
    files += "    SetOutPath \"$INSTDIR\"\n";
    files += "    File \"/oname=" + nsisEscaped(options.exe) + "\" \"files/branded.exe\"\n";
    std::string folder;
    bool first = true;
    std::vector<std::string> executables = {options.exe};
    for (size_t i = 0; i < entries.size(); ++i) {
        const AppEntry& entry = entries[i];
        if (entry.folder) {
            files += "    CreateDirectory \"$INSTDIR\\" + nsisEscaped(windowsPath(entry.relative)) + "\"\n";
            continue;
        }
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

    // Plain instructions, no LogicLib: a file name given to a macro would be scanned for defines again.
    std::string running = "!macro tryExecutables\n";
    for (const std::string& executable : executables) {
        std::string path = "\"$R9\\" + nsisEscaped(executable) + "\"";
        running += "    IfFileExists " + path + " 0 +6\n";
        running += "    ClearErrors\n";
        running += "    FileOpen $R0 " + path + " a\n";
        running += "    IfErrors 0 +2\n";
        running += "    !ifdef __UNINSTALL__\n        Call un.refuseRunning\n    !else\n        Call refuseRunning\n"
                   "    !endif\n";
        running += "    FileClose $R0\n";
    }
    running += "!macroend\n\n";

    std::string command = "$\\\"$INSTDIR\\" + nsisEscaped(options.exe) + "$\\\" $\\\"%1$\\\"";
    std::string registerTypes = "!macro registerDocuments\n";
    std::string unregisterTypes = "!macro unregisterDocuments\n";
    for (const DocumentType& document : options.documents) {
        std::string extensionKey = "\"Software\\Classes\\" + document.extension + "\"";
        std::string typeKey = "\"Software\\Classes\\" + document.progId + "\"";
        std::string commandKey = "\"Software\\Classes\\" + document.progId + "\\shell\\open\\command\"";
        registerTypes += "    WriteRegStr HKCU " + extensionKey + " \"\" \"" + document.progId + "\"\n";
        registerTypes += "    WriteRegStr HKCU " + typeKey + " \"\" " + nsisString(document.typeName) + "\n";
        registerTypes += "    WriteRegStr HKCU \"Software\\Classes\\" + document.progId + "\\DefaultIcon\" \"\" \"$INSTDIR\\" +
                         nsisEscaped(options.exe) + ",0\"\n";
        registerTypes += "    WriteRegStr HKCU " + commandKey + " \"\" \"" + command + "\"\n";
        // Only while the extension and the type still point at this installation.
        unregisterTypes += "    ReadRegStr $R0 HKCU " + extensionKey + " \"\"\n";
        unregisterTypes += "    StrCmp $R0 \"" + document.progId + "\" 0 +3\n";
        unregisterTypes += "    DeleteRegValue HKCU " + extensionKey + " \"\"\n";
        unregisterTypes += "    DeleteRegKey /ifempty HKCU " + extensionKey + "\n";
        unregisterTypes += "    ReadRegStr $R0 HKCU " + commandKey + " \"\"\n";
        unregisterTypes += "    StrCmp $R0 \"" + command + "\" 0 +2\n";
        unregisterTypes += "    DeleteRegKey HKCU " + typeKey + "\n";
    }
    registerTypes += "!macroend\n\n";
    unregisterTypes += "!macroend\n";
    return "; Written by makesetup.\n" + files + running + registerTypes + unregisterTypes;
}
