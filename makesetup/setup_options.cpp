#include "setup_options.hpp"

#include "pe_version.hpp"
#include "utf8.hpp"

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <algorithm>
#include <cctype>

namespace {

const size_t NAME_MAX_CHARACTERS = 64;
const size_t EXTENSION_MAX_LETTERS = 16;
const size_t ID_MAX_CHARACTERS = 64;
const int EXPIRES_MAX_DAYS = 3650;

size_t characterCount(const std::string& text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); i += std::max<size_t>(1, utf8Length(text, i))) {
        ++count;
    }
    return count;
}

bool isAsciiWord(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// A Windows registry ProgID: letters, digits and dots, at most 39 characters.
std::string progIdOf(const std::string& id, const std::string& extension) {
    std::string base;
    for (char c : id) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.') {
            base += c;
        }
    }
    std::string suffix;
    for (char c : extension.substr(1)) {
        suffix += std::isalnum(static_cast<unsigned char>(c)) ? c : '.';
    }
    if (base.empty() || !std::isalpha(static_cast<unsigned char>(base[0]))) {
        base = "App" + base;
    }
    base = base.substr(0, 38 - suffix.size());
    return base + "." + suffix;
}

}  // namespace

std::string parseSetupOptions(const std::vector<std::string>& args, SetupOptions& options, bool& help) {
    help = false;
    std::vector<std::string> folders;
    bool optionsEnded = false;
    const std::pair<const char*, std::string*> valued[] = {
        {"--name", &options.name},         {"--vendor", &options.vendor},   {"--version", &options.version},
        {"--exe", &options.exe},           {"--launcher", &options.launcher}, {"--icon", &options.icon},
        {"--id", &options.id},             {"--copyright", &options.copyright},
        {"--sign-command", &options.signCommand}, {"--arch", &options.arch}, {"-o", &options.output},
        {"--script", &options.script},     {"--new-key", &options.newKey},  {"--update-url", &options.updateUrl},
        {"--update-key", &options.updateKey}, {"--update-exe", &options.updateExe}, {"--feed", &options.feed},
        {"--expires", &options.expires},   {"--rotate-key", &options.rotateKey}};
    const std::pair<const char*, std::vector<std::string>*> repeated[] = {{"--keep", &options.keep},
                                                                          {"--replace", &options.replace}};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            folders.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            help = true;
            return "";
        }
        bool isDocument = argument == "--document";
        std::string* target = nullptr;
        for (const auto& option : valued) {
            target = argument == option.first ? option.second : target;
        }
        std::vector<std::string>* list = nullptr;
        for (const auto& option : repeated) {
            list = argument == option.first ? option.second : list;
        }
        if (target == nullptr && list == nullptr && !isDocument) {
            return "unknown option " + argument;
        }
        if (i + 1 == args.size()) {
            return argument + " needs a value";
        }
        const std::string& value = args[++i];
        if (isDocument) {
            size_t equals = value.find('=');
            if (equals == std::string::npos) {
                return "--document takes .EXT=TYPE-NAME, such as .myrep=Report";
            }
            options.documents.push_back({value.substr(0, equals), value.substr(equals + 1), ""});
        } else if (list != nullptr) {
            list->push_back(value);
        } else {
            *target = value;
        }
    }
    if (!options.newKey.empty()) {
        return args.size() == 2 ? "" : "--new-key is used alone: makesetup --new-key FILE";
    }
    if (folders.size() != 1 || folders[0].empty()) {
        return "give one APP_DIR";
    }
    options.appDir = folders[0];
    for (const auto& required : {std::make_pair("--name", &options.name), std::make_pair("--vendor", &options.vendor),
                                 std::make_pair("--version", &options.version)}) {
        if (required.second->empty()) {
            return std::string("give ") + required.first;
        }
    }
    return "";
}

std::string derivedId(const std::string& vendor, const std::string& name) {
    // A name-based UUID in a namespace of our own: stable, ASCII, unique per vendor and name.
    boost::uuids::name_generator_sha1 generate(boost::uuids::ns::url());
    boost::uuids::uuid ns = generate(std::string("makesetup:product"));
    boost::uuids::name_generator_sha1 product(ns);
    return "{" + boost::uuids::to_string(product(vendor + "\n" + name)) + "}";
}

std::string checkSetupOptions(SetupOptions& options) {
    std::string problem = windowsNameProblem(options.name);
    if (!problem.empty()) {
        return "the name \"" + options.name + "\" cannot be a folder name on Windows (" + problem +
               "), and it names the install folder and the Start menu entry; choose another --name";
    }
    if (characterCount(options.name) > NAME_MAX_CHARACTERS) {
        return "the name is longer than " + std::to_string(NAME_MAX_CHARACTERS) +
               " characters, and it names the install folder; choose a shorter --name";
    }
    if (options.exe.empty()) {
        options.exe = options.name + ".exe";
    }
    problem = windowsNameProblem(options.exe);
    if (problem.empty() && (options.exe.size() < 5 || lower(options.exe.substr(options.exe.size() - 4)) != ".exe")) {
        problem = "it does not end in .exe";
    }
    if (problem.empty() && sameWindowsName(options.exe, "uninstall.exe")) {
        problem = "the uninstaller has that name";
    }
    if (!problem.empty()) {
        return "--exe \"" + options.exe + "\" cannot be the launcher's file name (" + problem +
               "); give a name such as MyApp.exe";
    }
    VersionBlock block{options.name, options.vendor, options.version, options.exe, options.copyright};
    problem = checkVersionBlock(block);
    if (!problem.empty()) {
        return problem;
    }
    if (options.arch != "x86" && options.arch != "amd64") {
        return "--arch \"" + options.arch + "\" is neither x86 nor amd64; give x86 (runs on every Windows) or amd64";
    }
    if (options.id.empty()) {
        options.id = derivedId(options.vendor, options.name);
    } else if (options.id.size() > ID_MAX_CHARACTERS ||
               !std::all_of(options.id.begin(), options.id.end(),
                            [](char c) { return isAsciiWord(c) || c == '.' || c == '{' || c == '}'; })) {
        return "--id \"" + options.id + "\" is not up to " + std::to_string(ID_MAX_CHARACTERS) +
               " ASCII letters, digits, dots, dashes, underscores and braces; give one such as Example.MyApp";
    }
    std::vector<std::string> seen;
    for (DocumentType& document : options.documents) {
        const std::string& extension = document.extension;
        if (extension.size() < 2 || extension[0] != '.' || extension.size() > EXTENSION_MAX_LETTERS + 1 ||
            !std::all_of(extension.begin() + 1, extension.end(), isAsciiWord)) {
            return "--document \"" + extension + "=" + document.typeName + "\": the extension is not a dot and 1 to " +
                   std::to_string(EXTENSION_MAX_LETTERS) +
                   " ASCII letters, digits, dashes or underscores; write it as .myrep=Report";
        }
        if (lower(extension) == ".exe" || lower(extension) == ".lnk" || lower(extension) == ".bat" ||
            lower(extension) == ".cmd" || lower(extension) == ".com") {
            return "--document " + extension + " would take over a type Windows itself opens; choose your own extension";
        }
        if (std::find(seen.begin(), seen.end(), lower(extension)) != seen.end()) {
            return "--document " + extension + " is given twice; give each extension once";
        }
        seen.push_back(lower(extension));
        VersionBlock typeText{document.typeName, options.vendor, options.version, options.exe, ""};
        problem = document.typeName.empty() ? "it is empty" : checkVersionBlock(typeText);
        if (!problem.empty()) {
            return "--document " + extension + ": the type name cannot be used (" + problem + "); write it as " +
                   extension + "=Report";
        }
        document.progId = progIdOf(options.id, extension);
    }
    for (const auto& side : {std::make_pair("--keep", &options.keep), std::make_pair("--replace", &options.replace)}) {
        for (const std::string& folder : *side.second) {
            problem = windowsNameProblem(folder);
            if (!problem.empty()) {
                return std::string(side.first) + " \"" + folder + "\" is not the name of a folder at the top of the app "
                       "folder (" + problem + "); give one such as data";
            }
        }
    }
    for (const std::string& kept : options.keep) {
        for (const std::string& replaced : options.replace) {
            if (sameWindowsName(kept, replaced)) {
                return "--keep " + kept + " and --replace " + replaced + " name one folder; give it on one side";
            }
        }
    }
    std::string vendor;
    for (char c : options.vendor) {
        vendor += static_cast<unsigned char>(c) < 0x20 || std::string("<>:\"/\\|?*").find(c) != std::string::npos ? '_' : c;
    }
    options.otherShortcut = options.name + " (" + vendor + ")";
    if (options.output.empty()) {
        options.output = options.name + "-" + options.version + "-setup.exe";
    }
    return checkUpdateOptions(options);
}

std::string checkUpdateOptions(SetupOptions& options) {
    if (options.updateUrl.empty()) {
        for (const auto& option : {std::make_pair("--update-key", &options.updateKey),
                                   std::make_pair("--update-exe", &options.updateExe),
                                   std::make_pair("--feed", &options.feed), std::make_pair("--expires", &options.expires),
                                   std::make_pair("--rotate-key", &options.rotateKey)}) {
            if (!option.second->empty()) {
                return std::string(option.first) + " is for a package with update.exe; give --update-url and "
                       "--update-key too";
            }
        }
        return "";
    }
    std::string& url = options.updateUrl;
    size_t scheme = lower(url.substr(0, 8)) == "https://" ? 8 : lower(url.substr(0, 7)) == "http://" ? 7 : 0;
    std::string problem = scheme == 0 ? "it does not begin with http:// or https://" : "";
    if (problem.empty() && (url.size() == scheme || url[scheme] == '/')) {
        problem = "it names no server";
    }
    for (size_t i = 0; problem.empty() && i < url.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (c <= ' ' || c >= 0x7f || c == '"' || c == '\\') {
            problem = "it holds a blank, a quote, a backslash or a letter outside ASCII; percent-encode it";
        } else if (c == '?' || c == '#') {
            problem = "it holds a query or a fragment, and file names are appended to it";
        }
    }
    if (!problem.empty()) {
        return "--update-url \"" + url + "\" is not the address of a folder on a web server (" + problem +
               "); give one such as https://updates.example.com/myapp/";
    }
    url = lower(url.substr(0, scheme)) + url.substr(scheme) + (url.back() == '/' ? "" : "/");
    if (options.updateKey.empty()) {
        return "--update-url needs --update-key KEY.pem, the private key that signs the updates (makesetup --new-key "
               "KEY.pem makes one)";
    }
    if (!options.expires.empty()) {
        bool digits = options.expires.size() <= 4 && std::all_of(options.expires.begin(), options.expires.end(),
                                                                  [](char c) { return c >= '0' && c <= '9'; });
        options.expiresDays = digits ? std::stoi(options.expires) : 0;
        if (options.expiresDays < 1 || options.expiresDays > EXPIRES_MAX_DAYS) {
            return "--expires \"" + options.expires + "\" is not a number of days from 1 to " +
                   std::to_string(EXPIRES_MAX_DAYS) + "; give one such as 365";
        }
    }
    return "";
}
