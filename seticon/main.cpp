// seticon: puts a vendor's icon on a copy of the launcher exe, changing only
// the icon image's bytes and the PE checksum, and on request adds a version block.
#include "branding.hpp"
#include "pe_icon.hpp"
#include "picture.hpp"
#include "platform.hpp"

#include <algorithm>

static const char usage[] =
    "usage: seticon LAUNCHER IMAGE OUTPUT\n"
    "       seticon --name NAME --vendor VENDOR --version VERSION [--copyright TEXT]\n"
    "               LAUNCHER IMAGE OUTPUT\n"
    "       seticon --help";

static void printHelp() {
    printLine(stdout, std::string(usage) + "\n\n"
        "Writes OUTPUT as a copy of LAUNCHER (launcher.exe, or an exe seticon made of\n"
        "it with the icon alone) whose icon shows IMAGE. OUTPUT may be LAUNCHER itself.\n"
        "\n"
        "IMAGE is a PNG (any kind) or an ICO file; from an ICO, the smallest image at\n"
        "least 128 pixels wide is taken, else the largest. The picture is fitted into\n"
        "128x128 keeping its proportions, centred on transparency, and resampled with\n"
        "a Mitchell filter (Catmull-Rom when enlarging). Pixels at least half opaque\n"
        "are drawn, the others are transparent. Images over 8192 pixels a side and\n"
        "files over 64 MiB are refused.\n"
        "\n"
        "  --name NAME --vendor VENDOR --version VERSION [--copyright TEXT]\n"
        "           also give OUTPUT a version block, which Windows shows in the file's\n"
        "           Properties, in Task Manager and in \"Open with\": FileDescription and\n"
        "           ProductName NAME, CompanyName VENDOR, FileVersion and ProductVersion\n"
        "           VERSION (1.2, 1.2.3 or 1.2.3.4, digits only), OriginalFilename the\n"
        "           name of OUTPUT, LegalCopyright TEXT. It goes into a resource\n"
        "           section added at the end of the exe.\n"
        "\n"
        "Without a version block only the icon image and the PE checksum change.\n"
        "OUTPUT is written whole or not at all. A signed LAUNCHER is refused: set the\n"
        "icon first, then sign.\n"
        "\n"
        "Exit status: 0 OUTPUT written, 1 an input cannot be used (nothing written),\n"
        "2 usage error.");
}

static int usageError(const std::string& message) {
    printLine(stderr, "seticon: " + message + "\n" + usage);
    return 2;
}

static int refuse(const std::string& message) {
    printLine(stderr, "seticon: error: " + message);
    return 1;
}

static std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int seticonMain(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    bool optionsEnded = false;
    VersionBlock block;
    std::vector<std::string*> given;
    const std::pair<const char*, std::string*> textOptions[] = {
        {"--name", &block.productName}, {"--vendor", &block.companyName},
        {"--version", &block.version}, {"--copyright", &block.copyright}};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        std::string* text = nullptr;
        for (const auto& option : textOptions) {
            text = !optionsEnded && argument == option.first ? option.second : text;
        }
        if (text != nullptr) {
            if (i + 1 == args.size()) {
                return usageError(argument + " needs a value");
            }
            *text = args[++i];
            given.push_back(text);
        } else if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            printHelp();
            return 0;
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return usageError("unknown option " + argument);
        } else {
            paths.push_back(argument);
        }
    }
    if (paths.size() != 3 || std::find(paths.begin(), paths.end(), std::string()) != paths.end()) {
        return usageError("give LAUNCHER, IMAGE and OUTPUT");
    }
    bool versioned = !given.empty();
    if (versioned && (block.productName.empty() || block.companyName.empty() || block.version.empty())) {
        return usageError("a version block needs --name, --vendor and --version, none of them empty");
    }
    const std::string& launcherPath = paths[0];
    const std::string& imagePath = paths[1];
    const std::string& outputPath = paths[2];
    block.originalFilename = baseName(outputPath);

    std::vector<uint8_t> exe, image;
    std::string problem = readWholeFile(launcherPath, INPUT_MAX_BYTES, exe);
    if (!problem.empty()) {
        return refuse("cannot read " + launcherPath + " (" + problem + "); give the path of launcher.exe");
    }
    LauncherSlots slots;
    problem = findLauncherSlots(exe, launcherPath, slots);
    if (problem.empty() && versioned) {
        problem = checkVersionBlock(block);
    }
    if (!problem.empty()) {
        return refuse(problem);
    }
    problem = readWholeFile(imagePath, INPUT_MAX_BYTES, image);
    if (!problem.empty()) {
        return refuse("cannot read " + imagePath + " (" + problem + "); give a PNG or ICO file");
    }
    Picture picture;
    problem = decodeImage(image, imagePath, picture);
    if (!problem.empty()) {
        return refuse(problem);
    }

    int fittedWidth = 0, fittedHeight = 0;
    problem = brandLauncher(exe, launcherPath, &picture, versioned ? &block : nullptr, fittedWidth, fittedHeight);
    if (!problem.empty()) {
        return refuse(problem);
    }
    problem = writeFileAtomically(outputPath, exe, launcherPath);
    if (!problem.empty()) {
        return refuse("cannot write " + outputPath + " (" + problem + "); choose a folder you can write to" +
                      " and an OUTPUT that no program has open");
    }

    std::string fitted = std::to_string(fittedWidth) + "x" + std::to_string(fittedHeight);
    std::string how = picture.width == fittedWidth && picture.height == fittedHeight ? "used as it is"
                      : "scaled to " + fitted;
    if (fitted != "128x128") {
        how += " and centred";
    }
    std::string output = baseName(outputPath);
    std::string version = versioned ? ", version block " + block.productName + " " + block.version : "";
    printLine(stdout, output + ": icon set from " + baseName(imagePath) + " (" + picture.origin + ", " + how + ")" +
                          version + "; sign " + output + " now if you sign");
    return 0;
}
