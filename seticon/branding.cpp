#include "branding.hpp"

#include "icon_image.hpp"
#include "pe_icon.hpp"

#include <algorithm>

std::string brandLauncher(std::vector<uint8_t>& exe, const std::string& launcherName, const Picture* picture,
                          const VersionBlock* block, int& fittedWidth, int& fittedHeight) {
    LauncherSlots slots;
    std::string problem = findLauncherSlots(exe, launcherName, slots);
    if (!problem.empty()) {
        return problem;
    }
    if (picture != nullptr) {
        std::vector<uint8_t> pixels;
        if (!iconPixels(*picture, pixels, fittedWidth, fittedHeight)) {
            return "not enough memory to scale the picture (" + picture->origin + "); give a smaller image";
        }
        std::copy(pixels.begin(), pixels.end(), exe.begin() + slots.iconOffset + ICON_HEADER_SIZE);
    }
    if (block != nullptr) {
        problem = checkVersionBlock(*block);
        if (problem.empty()) {
            problem = addVersionBlock(exe, slots, *block);
            if (!problem.empty()) {
                problem = launcherName + " cannot take a version block: " + problem +
                          "; give the launcher.exe of the release";
            }
        }
        if (!problem.empty()) {
            return problem;
        }
    }
    updatePeChecksum(exe, slots.checksumOffset);
    return "";
}
