// seticon: puts a vendor's icon on a copy of the launcher exe, changing only
// the icon image's bytes and the PE checksum.
#include "icon_image.hpp"
#include "pe_icon.hpp"
#include "picture.hpp"
#include "platform.hpp"

#include <algorithm>

static const char usage[] =
    "usage: seticon LAUNCHER IMAGE OUTPUT\n"
    "       seticon --help";

static void printHelp() {
    printLine(stdout, std::string(usage) + "\n\n"
        "Writes OUTPUT as a copy of LAUNCHER (launcher.exe, or an exe seticon made of\n"
        "it) whose icon shows IMAGE. OUTPUT may be LAUNCHER itself.\n"
        "\n"
        "IMAGE is a PNG (any kind) or an ICO file; from an ICO, the smallest image at\n"
        "least 128 pixels wide is taken, else the largest. The picture is fitted into\n"
        "128x128 keeping its proportions, centred on transparency, and resampled with\n"
        "a Mitchell filter (Catmull-Rom when enlarging). Pixels at least half opaque\n"
        "are drawn, the others are transparent. Images over 8192 pixels a side and\n"
        "files over 64 MiB are refused.\n"
        "\n"
        "Only the icon image and the PE checksum change; OUTPUT is written whole or\n"
        "not at all. A signed LAUNCHER is refused: set the icon first, then sign.\n"
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
    for (const std::string& argument : args) {
        if (!optionsEnded && (argument == "--help" || argument == "-h")) {
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
    const std::string& launcherPath = paths[0];
    const std::string& imagePath = paths[1];
    const std::string& outputPath = paths[2];

    std::vector<uint8_t> exe, image;
    std::string problem = readWholeFile(launcherPath, INPUT_MAX_BYTES, exe);
    if (!problem.empty()) {
        return refuse("cannot read " + launcherPath + " (" + problem + "); give the path of launcher.exe");
    }
    LauncherSlots slots;
    problem = findLauncherSlots(exe, launcherPath, slots);
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
    std::vector<uint8_t> pixels;
    if (!iconPixels(picture, pixels, fittedWidth, fittedHeight)) {
        return refuse("not enough memory to scale " + imagePath + " (" + picture.origin + "); give a smaller image");
    }
    std::copy(pixels.begin(), pixels.end(), exe.begin() + slots.iconOffset + ICON_HEADER_SIZE);
    uint32_t checksum = peChecksum(exe, slots.checksumOffset);
    for (int i = 0; i < 4; ++i) {
        exe[slots.checksumOffset + i] = static_cast<uint8_t>(checksum >> (8 * i));
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
    printLine(stdout, output + ": icon set from " + baseName(imagePath) + " (" + picture.origin + ", " + how +
                          "); sign " + output + " now if you sign");
    return 0;
}
