#include "pe_version.hpp"

#include "little_endian.hpp"
#include "pe_image.hpp"
#include "utf8.hpp"

#include <algorithm>

namespace {

const uint32_t RT_ICON_ID = 3;
const uint32_t RT_GROUP_ICON_ID = 14;
const uint32_t RT_VERSION_ID = 16;
const uint32_t LANGUAGE_NEUTRAL = 0;
const uint32_t SECTION_DATA_READ = 0x40000040;  // initialised data, readable

std::u16string utf16(const std::string& text) {
    std::u16string wide;
    for (size_t i = 0; i < text.size();) {
        uint32_t codePoint = 0;
        size_t length = decodeUtf8(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i, codePoint);
        if (length == 0) {
            codePoint = 0xfffd;
            length = 1;
        }
        if (codePoint >= 0x10000) {
            wide += static_cast<char16_t>(0xd800 + ((codePoint - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xdc00 + ((codePoint - 0x10000) & 0x3ff));
        } else {
            wide += static_cast<char16_t>(codePoint);
        }
        i += length;
    }
    return wide;
}

void pad4(std::vector<uint8_t>& bytes) {
    bytes.resize((bytes.size() + 3) & ~size_t(3), 0);
}

void put16(std::vector<uint8_t>& bytes, uint32_t value) {
    bytes.resize(bytes.size() + 2);
    writeLe16(bytes, bytes.size() - 2, value);
}

void put32(std::vector<uint8_t>& bytes, uint32_t value) {
    bytes.resize(bytes.size() + 4);
    writeLe32(bytes, bytes.size() - 4, value);
}

void putText(std::vector<uint8_t>& bytes, const std::u16string& text) {
    for (char16_t unit : text) {
        put16(bytes, unit);
    }
    put16(bytes, 0);
}

// One node of a version resource: wLength, wValueLength, wType, key, the
// value and the children, each starting on a 32-bit boundary. wLength counts
// up to the end of the last child.
std::vector<uint8_t> versionNode(const std::string& key, uint32_t valueLength, bool text,
                                 const std::vector<uint8_t>& value, const std::vector<std::vector<uint8_t>>& children) {
    std::vector<uint8_t> node;
    put16(node, 0);
    put16(node, valueLength);
    put16(node, text ? 1 : 0);
    putText(node, utf16(key));
    pad4(node);
    node.insert(node.end(), value.begin(), value.end());
    for (const std::vector<uint8_t>& child : children) {
        pad4(node);
        node.insert(node.end(), child.begin(), child.end());
    }
    writeLe16(node, 0, static_cast<uint32_t>(node.size()));
    return node;
}

std::vector<uint8_t> stringNode(const std::string& key, const std::string& value) {
    std::u16string wide = utf16(value);
    std::vector<uint8_t> bytes;
    putText(bytes, wide);
    return versionNode(key, static_cast<uint32_t>(wide.size() + 1), true, bytes, {});
}

size_t alignUp(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

std::string parseVersion(const std::string& text, uint16_t numbers[4]) {
    const std::string refusal = "version \"" + text + "\" is not two to four numbers of digits separated by dots, "
                                "each at most 65535; write it as 1.2, 1.2.3 or 1.2.3.4";
    std::fill(numbers, numbers + 4, 0);
    size_t count = 0;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('.', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (count == 4 || part.empty() || part.size() > 5 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 65535) {
            return refusal;
        }
        numbers[count++] = static_cast<uint16_t>(std::stoul(part));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return count < 2 ? refusal : "";
}

std::string checkVersionBlock(const VersionBlock& block) {
    const std::pair<const char*, const std::string*> texts[] = {
        {"name", &block.productName}, {"vendor", &block.companyName},
        {"file name", &block.originalFilename}, {"copyright", &block.copyright}};
    for (const auto& text : texts) {
        const std::string& value = *text.second;
        for (size_t i = 0; i < value.size();) {
            size_t length = utf8Length(value, i);
            if (length == 0) {
                return std::string("the ") + text.first + " is not UTF-8; give it in UTF-8";
            }
            if (length == 1 && (static_cast<unsigned char>(value[i]) < 0x20 || value[i] == 0x7f)) {
                return std::string("the ") + text.first + " holds a control character (a line end or tab); write it on one line";
            }
            i += length;
        }
        if (utf16(value).size() > VERSION_TEXT_MAX) {
            return std::string("the ") + text.first + " is longer than " + std::to_string(VERSION_TEXT_MAX) +
                   " characters; shorten it";
        }
    }
    if (block.productName.empty() || block.companyName.empty() || block.originalFilename.empty()) {
        return "the name, the vendor and the file name must not be empty";
    }
    uint16_t numbers[4];
    return parseVersion(block.version, numbers);
}

std::vector<uint8_t> versionResource(const VersionBlock& block) {
    uint16_t numbers[4];
    parseVersion(block.version, numbers);
    std::vector<uint8_t> fixed;
    put32(fixed, 0xfeef04bd);                   // signature
    put32(fixed, 0x00010000);                   // structure version
    put32(fixed, uint32_t(numbers[0]) << 16 | numbers[1]);
    put32(fixed, uint32_t(numbers[2]) << 16 | numbers[3]);
    put32(fixed, uint32_t(numbers[0]) << 16 | numbers[1]);
    put32(fixed, uint32_t(numbers[2]) << 16 | numbers[3]);
    put32(fixed, 0x3f);                         // flags mask
    put32(fixed, 0);                            // flags: a release build
    put32(fixed, 0x00040004);                   // VOS_NT_WINDOWS32
    put32(fixed, 1);                            // VFT_APP
    put32(fixed, 0);
    put32(fixed, 0);                            // no file date
    put32(fixed, 0);

    std::vector<std::vector<uint8_t>> strings = {
        stringNode("CompanyName", block.companyName),
        stringNode("FileDescription", block.productName),
        stringNode("FileVersion", block.version),
        stringNode("OriginalFilename", block.originalFilename),
        stringNode("ProductName", block.productName),
        stringNode("ProductVersion", block.version),
    };
    if (!block.copyright.empty()) {
        strings.insert(strings.begin() + 3, stringNode("LegalCopyright", block.copyright));
    }
    // Language neutral, UTF-16: every Windows shows this table whatever its language.
    std::vector<uint8_t> table = versionNode("000004b0", 0, true, {}, strings);
    std::vector<uint8_t> stringInfo = versionNode("StringFileInfo", 0, true, {}, {table});
    std::vector<uint8_t> translation;
    put16(translation, 0x0000);
    put16(translation, 1200);
    std::vector<uint8_t> var = versionNode("Translation", 4, false, translation, {});
    std::vector<uint8_t> varInfo = versionNode("VarFileInfo", 0, true, {}, {var});
    return versionNode("VS_VERSION_INFO", static_cast<uint32_t>(fixed.size()), false, fixed, {stringInfo, varInfo});
}

std::string addVersionBlock(std::vector<uint8_t>& exe, const LauncherSlots& slots, const VersionBlock& block) {
    PeHeaders headers;
    if (readPeHeaders(exe, headers) != peImage || headers.sections.empty()) {
        return "its PE headers cannot be read";
    }
    size_t optional = headers.optionalHeader;
    size_t sectionCountAt = optional - 18;
    size_t sectionTable = optional + headers.optionalSize;
    size_t sectionCount = headers.sections.size();
    uint32_t sectionAlignment = readLe32(exe, optional + 32);
    uint32_t fileAlignment = readLe32(exe, optional + 36);
    uint32_t headerSize = readLe32(exe, optional + 60);
    size_t newHeader = sectionTable + 40 * sectionCount;
    size_t rawEnd = 0;
    size_t virtualEnd = 0;
    size_t firstRaw = exe.size();
    for (const PeSection& section : headers.sections) {
        rawEnd = std::max(rawEnd, size_t(section.rawOffset) + section.rawSize);
        virtualEnd = std::max(virtualEnd, size_t(section.virtualAddress) + std::max(section.virtualSize, section.rawSize));
        if (section.rawSize != 0) {
            firstRaw = std::min(firstRaw, size_t(section.rawOffset));
        }
    }
    if (sectionAlignment == 0 || fileAlignment == 0 || newHeader + 40 > std::min<size_t>(headerSize, firstRaw)) {
        return "its headers leave no room for another section";
    }
    if (rawEnd != exe.size()) {
        return "data follows its last section";
    }
    for (size_t i = newHeader; i < newHeader + 40; ++i) {
        if (exe[i] != 0) {
            return "its headers leave no room for another section";
        }
    }

    // The tree: root (3 types), per type one name, per name one language,
    // then the three data entries and the version block.
    const uint32_t types[3] = {RT_ICON_ID, RT_GROUP_ICON_ID, RT_VERSION_ID};
    const uint32_t names[3] = {slots.icon.name, slots.group.name, 1};
    const uint32_t languages[3] = {slots.icon.language, slots.group.language, LANGUAGE_NEUTRAL};
    const size_t directorySize = 16 + 8;
    size_t rootSize = 16 + 8 * 3;
    size_t nameDirectories = rootSize;
    size_t languageDirectories = nameDirectories + 3 * directorySize;
    size_t dataEntries = languageDirectories + 3 * directorySize;
    size_t versionAt = dataEntries + 3 * 16;
    std::vector<uint8_t> version = versionResource(block);
    std::vector<uint8_t> section(versionAt + version.size(), 0);
    uint32_t sectionRva = static_cast<uint32_t>(alignUp(virtualEnd, sectionAlignment));

    writeLe16(section, 14, 3);
    for (size_t i = 0; i < 3; ++i) {
        writeLe32(section, 16 + 8 * i, types[i]);
        writeLe32(section, 16 + 8 * i + 4, 0x80000000u | static_cast<uint32_t>(nameDirectories + directorySize * i));
        size_t name = nameDirectories + directorySize * i;
        writeLe16(section, name + 14, 1);
        writeLe32(section, name + 16, names[i]);
        writeLe32(section, name + 20, 0x80000000u | static_cast<uint32_t>(languageDirectories + directorySize * i));
        size_t language = languageDirectories + directorySize * i;
        writeLe16(section, language + 14, 1);
        writeLe32(section, language + 16, languages[i]);
        writeLe32(section, language + 20, static_cast<uint32_t>(dataEntries + 16 * i));
    }
    // The icon's and the group's data stay where the launcher has them.
    std::copy(exe.begin() + slots.icon.dataEntry, exe.begin() + slots.icon.dataEntry + 16, section.begin() + dataEntries);
    std::copy(exe.begin() + slots.group.dataEntry, exe.begin() + slots.group.dataEntry + 16,
              section.begin() + dataEntries + 16);
    writeLe32(section, dataEntries + 32, sectionRva + static_cast<uint32_t>(versionAt));
    writeLe32(section, dataEntries + 36, static_cast<uint32_t>(version.size()));
    std::copy(version.begin(), version.end(), section.begin() + versionAt);

    size_t rawOffset = alignUp(exe.size(), fileAlignment);
    size_t rawSize = alignUp(section.size(), fileAlignment);
    const char sectionName[8] = {'.', 'r', 's', 'r', 'c', '2', 0, 0};
    std::copy(sectionName, sectionName + 8, exe.begin() + newHeader);
    writeLe32(exe, newHeader + 8, static_cast<uint32_t>(section.size()));
    writeLe32(exe, newHeader + 12, sectionRva);
    writeLe32(exe, newHeader + 16, static_cast<uint32_t>(rawSize));
    writeLe32(exe, newHeader + 20, static_cast<uint32_t>(rawOffset));
    writeLe32(exe, newHeader + 36, SECTION_DATA_READ);
    writeLe16(exe, sectionCountAt, static_cast<uint32_t>(sectionCount + 1));
    writeLe32(exe, optional + 8, readLe32(exe, optional + 8) + static_cast<uint32_t>(rawSize));  // SizeOfInitializedData
    writeLe32(exe, optional + 56, static_cast<uint32_t>(alignUp(sectionRva + section.size(), sectionAlignment)));
    writeLe32(exe, headers.directories + 8 * PE_DIRECTORY_RESOURCE, sectionRva);
    writeLe32(exe, headers.directories + 8 * PE_DIRECTORY_RESOURCE + 4, static_cast<uint32_t>(section.size()));

    exe.resize(rawOffset, 0);
    exe.insert(exe.end(), section.begin(), section.end());
    exe.resize(rawOffset + rawSize, 0);
    return "";
}
