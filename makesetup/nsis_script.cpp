#include "nsis_script.hpp"

#include "pe_version.hpp"

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
    return "!define " + name + " " + nsisString(value) + "\n";
}

}  // namespace

std::string nsisString(const std::string& text) {
    return "\"" + nsisEscaped(text) + "\"";
}

std::string nsisEscaped(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (c == '$') {
            quoted += "$$";
        } else if (c == '"') {
            quoted += "$\\\"";
        } else {
            quoted += c;
        }
    }
    return quoted;
}

std::string nsisValues(const SetupOptions& options, uintmax_t installedBytes, bool signUninstaller) {
    uint16_t numbers[4];
    parseVersion(options.version, numbers);
    std::string version4 = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                           std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
    std::string values = "; Written by makesetup.\n";
    values += define("NSIS_TARGET", options.arch == "amd64" ? "amd64-unicode" : "x86-unicode");
    values += define("PRODUCT_NAME", options.name);
    values += define("PRODUCT_VENDOR", options.vendor);
    values += define("PRODUCT_VERSION", options.version);
    values += define("PRODUCT_VERSION4", version4);
    values += define("PRODUCT_ID", options.id);
    values += define("EXE_NAME", options.exe);
    values += define("ESTIMATED_KB", std::to_string((installedBytes + 1023) / 1024));
    if (!options.copyright.empty()) {
        values += define("PRODUCT_COPYRIGHT", options.copyright);
    }
    if (signUninstaller) {
        values += "!define SIGN_UNINSTALLER\n";
    }
    return values;
}

std::string nsisContent(const SetupOptions& options, const std::vector<AppEntry>& entries) {
    std::string files = "!macro installFiles\n";
    files += "    SetOutPath \"$INSTDIR\"\n";
    files += "    File " + nsisString("brand/" + options.exe) + "\n";
    std::string folder;
    bool first = true;
    std::vector<std::string> executables = {options.exe};
    for (const AppEntry& entry : entries) {
        std::string below = "$INSTDIR\\" + nsisEscaped(windowsPath(entry.relative));
        if (entry.folder) {
            files += "    CreateDirectory \"" + below + "\"\n";
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
        files += "    File " + nsisString("app/" + entry.relative) + "\n";
        if (isExecutable(entry.relative)) {
            executables.push_back(windowsPath(entry.relative));
        }
    }
    files += "!macroend\n\n";

    std::string running = "!macro forEachExecutable MACRO\n";
    for (const std::string& executable : executables) {
        running += "    !insertmacro ${MACRO} " + nsisString(executable) + "\n";
    }
    running += "!macroend\n\n";

    std::string command = "$\\\"$INSTDIR\\${EXE_NAME}$\\\" $\\\"%1$\\\"";
    std::string registerTypes = "!macro registerDocuments\n";
    std::string unregisterTypes = "!macro unregisterDocuments\n";
    for (const DocumentType& document : options.documents) {
        std::string extensionKey = nsisString("Software\\Classes\\" + document.extension);
        std::string typeKey = nsisString("Software\\Classes\\" + document.progId);
        std::string commandKey = nsisString("Software\\Classes\\" + document.progId + "\\shell\\open\\command");
        registerTypes += "    WriteRegStr HKCU " + extensionKey + " \"\" " + nsisString(document.progId) + "\n";
        registerTypes += "    WriteRegStr HKCU " + typeKey + " \"\" " + nsisString(document.typeName) + "\n";
        registerTypes += "    WriteRegStr HKCU " + nsisString("Software\\Classes\\" + document.progId + "\\DefaultIcon") +
                         " \"\" \"$INSTDIR\\${EXE_NAME},0\"\n";
        registerTypes += "    WriteRegStr HKCU " + commandKey + " \"\" \"" + command + "\"\n";
        // Only while the extension and the type still point at this installation.
        unregisterTypes += "    ReadRegStr $R0 HKCU " + extensionKey + " \"\"\n";
        unregisterTypes += "    ${If} $R0 == " + nsisString(document.progId) + "\n";
        unregisterTypes += "        DeleteRegValue HKCU " + extensionKey + " \"\"\n";
        unregisterTypes += "        DeleteRegKey /ifempty HKCU " + extensionKey + "\n";
        unregisterTypes += "    ${EndIf}\n";
        unregisterTypes += "    ReadRegStr $R0 HKCU " + commandKey + " \"\"\n";
        unregisterTypes += "    ${If} $R0 == \"" + command + "\"\n";
        unregisterTypes += "        DeleteRegKey HKCU " + typeKey + "\n";
        unregisterTypes += "    ${EndIf}\n";
    }
    registerTypes += "!macroend\n\n";
    unregisterTypes += "!macroend\n";
    return "; Written by makesetup.\n" + files + running + registerTypes + unregisterTypes;
}
