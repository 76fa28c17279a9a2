#include "pe_icon.hpp"

#include "little_endian.hpp"
#include "pe_image.hpp"

#include <cstdio>

namespace {

const uint32_t RT_ICON_ID = 3;
const uint32_t RT_GROUP_ICON_ID = 14;

std::string typeName(uint32_t id) {
    switch (id) {
    case 1: return "cursor";
    case 2: return "bitmap";
    case 3: return "icon";
    case 4: return "menu";
    case 5: return "dialog";
    case 6: return "string table";
    case 9: return "accelerators";
    case 10: return "raw data";
    case 12: return "cursor group";
    case 14: return "icon group";
    case 16: return "version";
    case 24: return "manifest";
    default: return "type " + std::to_string(id);
    }
}

// A resource directory's entries: (id, offset of what it points to, whether
// that is a directory). Named entries are listed with id ~0u.
struct Entry {
    uint32_t id;
    uint32_t target;
    bool directory;
};

bool readDirectory(const std::vector<uint8_t>& exe, size_t base, size_t size, uint32_t offset,
                   std::vector<Entry>& entries) {
    if (offset > size || size - offset < 16) {
        return false;
    }
    size_t at = base + offset;
    size_t count = readLe16(exe, at + 12) + readLe16(exe, at + 14);
    if ((size - offset - 16) / 8 < count) {
        return false;
    }
    entries.clear();
    for (size_t i = 0; i < count; ++i) {
        size_t entry = at + 16 + 8 * i;
        uint32_t name = readLe32(exe, entry);
        uint32_t target = readLe32(exe, entry + 4);
        entries.push_back({name & 0x80000000u ? ~0u : name, target & 0x7fffffffu, (target & 0x80000000u) != 0});
    }
    return true;
}

std::string entryList(const std::vector<Entry>& entries, bool types) {
    std::string text;
    for (const Entry& entry : entries) {
        text += text.empty() ? "" : ", ";
        text += entry.id == ~0u ? "a named one" : types ? typeName(entry.id) : std::to_string(entry.id);
    }
    return text.empty() ? "none" : text;
}

// Follows a type's directory down to its single name and single language.
// Returns "" and the data entry's offset, or what was found instead.
std::string singleResource(const std::vector<uint8_t>& exe, size_t base, size_t size, const Entry& type,
                           uint32_t& name, uint32_t& language, uint32_t& dataEntry) {
    std::vector<Entry> names, languages;
    if (!type.directory || !readDirectory(exe, base, size, type.target, names)) {
        return "a damaged resource directory";
    }
    if (names.size() != 1 || names[0].id == ~0u) {
        return std::to_string(names.size()) + " " + typeName(type.id) + " resources (" + entryList(names, false) +
               ")";
    }
    name = names[0].id;
    if (!names[0].directory || !readDirectory(exe, base, size, names[0].target, languages)) {
        return "a damaged resource directory";
    }
    if (languages.size() != 1 || languages[0].directory || languages[0].target > size ||
        size - languages[0].target < 16) {
        return typeName(type.id) + " " + std::to_string(name) + " in " + std::to_string(languages.size()) +
               " languages";
    }
    language = languages[0].id;
    dataEntry = languages[0].target;
    return "";
}

}  // namespace

std::string findLauncherSlots(const std::vector<uint8_t>& exe, const std::string& name, LauncherSlots& slots) {
    const std::string notLauncher = name + " is not a launcher exe: ";
    const std::string useLauncher = "; give the launcher.exe of the release (or a copy seticon made of it)";
    PeHeaders headers;
    PeProblem peProblem = readPeHeaders(exe, headers);
    if (peProblem == peNoMz) {
        return notLauncher + "it is not a Windows program (no MZ header)" + useLauncher;
    }
    if (peProblem == peNoPe) {
        return notLauncher + "it is a DOS program without a PE header" + useLauncher;
    }
    if (peProblem == peHeaderCut || peProblem == peDirectoriesCut) {
        return notLauncher + "its PE header is cut short" + useLauncher;
    }
    if (peProblem == peUnknownOptional) {
        return notLauncher + "its PE optional header is of an unknown kind" + useLauncher;
    }
    uint32_t certificates, certificatesSize;
    peDirectory(exe, headers, PE_DIRECTORY_SECURITY, certificates, certificatesSize);
    if (certificatesSize != 0) {
        return name + " is signed (it has a certificate table), and a new icon would break the signature; "
                      "run seticon on the unsigned exe and sign its output afterwards";
    }
    if (peProblem == peSectionsDamaged) {
        return notLauncher + "its section table is damaged" + useLauncher;
    }
    uint32_t resourceRva, resourceSize;
    peDirectory(exe, headers, PE_DIRECTORY_RESOURCE, resourceRva, resourceSize);
    if (resourceRva == 0 || resourceSize == 0) {
        return notLauncher + "it has no resources" + useLauncher;
    }
    size_t base = peFileOffset(exe, headers, resourceRva, resourceSize);
    if (base == 0) {
        return notLauncher + "its resource section lies outside the file" + useLauncher;
    }

    std::vector<Entry> types;
    if (!readDirectory(exe, base, resourceSize, 0, types)) {
        return notLauncher + "its resource directory is damaged" + useLauncher;
    }
    if (types.size() != 2 || types[0].id != RT_ICON_ID || types[1].id != RT_GROUP_ICON_ID) {
        return notLauncher + "its resources are " + entryList(types, true) +
               " instead of only an icon group and its icon" + useLauncher;
    }
    uint32_t iconName = 0, iconLanguage = 0, iconData = 0, groupName = 0, groupLanguage = 0, groupData = 0;
    std::string problem = singleResource(exe, base, resourceSize, types[1], groupName, groupLanguage, groupData);
    if (problem.empty() && groupName != 1) {
        problem = "icon group " + std::to_string(groupName) + " instead of icon group 1";
    }
    if (problem.empty()) {
        problem = singleResource(exe, base, resourceSize, types[0], iconName, iconLanguage, iconData);
    }
    if (!problem.empty()) {
        return notLauncher + "it has " + problem + useLauncher;
    }

    size_t groupAt = peFileOffset(exe, headers, readLe32(exe, base + groupData), readLe32(exe, base + groupData + 4));
    size_t groupSize = readLe32(exe, base + groupData + 4);
    if (groupAt == 0 || groupSize < 6) {
        return notLauncher + "its icon group lies outside the file" + useLauncher;
    }
    size_t imageCount = readLe16(exe, groupAt + 4);
    if (groupSize != 6 + 14 || readLe16(exe, groupAt) != 0 || readLe16(exe, groupAt + 2) != 1 || imageCount != 1) {
        return notLauncher + "its icon group holds " + std::to_string(imageCount) +
               " images instead of one 128x128 image" + useLauncher;
    }
    size_t groupEntry = groupAt + 6;
    uint32_t width = exe[groupEntry] == 0 ? 256 : exe[groupEntry];
    uint32_t height = exe[groupEntry + 1] == 0 ? 256 : exe[groupEntry + 1];
    uint32_t bits = readLe16(exe, groupEntry + 6);
    if (width != ICON_SIDE || height != ICON_SIDE || bits != 24 || readLe32(exe, groupEntry + 8) != ICON_IMAGE_SIZE ||
        readLe16(exe, groupEntry + 12) != iconName) {
        char found[96];
        std::snprintf(found, sizeof found, "its icon is %ux%u at %u bits instead of 128x128 at 24 bits", width,
                      height, bits);
        return notLauncher + found + useLauncher;
    }

    size_t imageSize = readLe32(exe, base + iconData + 4);
    size_t imageAt = peFileOffset(exe, headers, readLe32(exe, base + iconData), ICON_IMAGE_SIZE);
    if (imageSize != ICON_IMAGE_SIZE || imageAt == 0 || readLe32(exe, imageAt) != ICON_HEADER_SIZE ||
        readLe32(exe, imageAt + 4) != ICON_SIDE || readLe32(exe, imageAt + 8) != 2 * ICON_SIDE || readLe16(exe, imageAt + 12) != 1 ||
        readLe16(exe, imageAt + 14) != 24 || readLe32(exe, imageAt + 16) != 0) {
        return notLauncher + "its icon image is not a 51,240-byte 128x128 24-bit bitmap" + useLauncher;
    }
    slots.iconOffset = imageAt;
    slots.checksumOffset = headers.checksumOffset;
    slots.icon = {iconName, iconLanguage, base + iconData};
    slots.group = {groupName, groupLanguage, base + groupData};
    return "";
}

uint32_t peChecksum(const std::vector<uint8_t>& exe, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < exe.size(); i += 2) {
        uint32_t low = i - checksumOffset < 4 ? 0 : exe[i];
        uint32_t high = i + 1 >= exe.size() || i + 1 - checksumOffset < 4 ? 0 : exe[i + 1];
        sum += low | high << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + exe.size());
}

void updatePeChecksum(std::vector<uint8_t>& exe, size_t checksumOffset) {
    writeLe32(exe, checksumOffset, peChecksum(exe, checksumOffset));
}
