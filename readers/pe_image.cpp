#include "pe_image.hpp"

#include "little_endian.hpp"

#include <cctype>
#include <fstream>

namespace {

bool fits(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset;
}

}  // namespace

bool isWindowsProgramFile(const std::string& path) {
    if (path.size() > 4) {
        std::string extension = path.substr(path.size() - 4);
        for (char& c : extension) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (extension == ".bat" || extension == ".cmd") {
            return true;
        }
    }
    std::ifstream file(path.c_str(), std::ios::binary);
    uint8_t magic[2] = {0, 0};
    file.read(reinterpret_cast<char*>(magic), 2);
    return hasMzSignature(magic, static_cast<size_t>(file.gcount()));
}

PeProblem readPeHeaders(const std::vector<uint8_t>& file, PeHeaders& headers) {
    headers = PeHeaders{0, 0, 0, 0, 0, 0, 0, {}};
    if (!fits(file, 0, 64) || !hasMzSignature(file.data(), file.size())) {
        return peNoMz;
    }
    size_t pe = readLe32(file, 0x3c);
    if (!fits(file, pe, 24) || readLe32(file, pe) != 0x00004550u) {
        return peNoPe;
    }
    size_t sectionCount = readLe16(file, pe + 6);
    headers.optionalSize = readLe16(file, pe + 20);
    headers.optionalHeader = pe + 24;
    // Magic, and Subsystem at the same offset in PE32 and PE32+, as far as the file holds them.
    if (fits(file, headers.optionalHeader, 2)) {
        headers.magic = readLe16(file, headers.optionalHeader);
    }
    if (fits(file, headers.optionalHeader, 70)) {
        headers.subsystem = readLe16(file, headers.optionalHeader + 68);
    }
    if (!fits(file, headers.optionalHeader, headers.optionalSize) || headers.optionalSize < 2) {
        return peHeaderCut;
    }
    size_t directories = headers.magic == 0x10b ? 96 : headers.magic == 0x20b ? 112 : 0;
    if (directories == 0 || headers.optionalSize < directories) {
        return peUnknownOptional;
    }
    // CheckSum stands at the same offset in PE32 and PE32+.
    headers.checksumOffset = headers.optionalHeader + 64;
    headers.directories = headers.optionalHeader + directories;
    size_t directoryCount = readLe32(file, headers.directories - 4);
    if (directoryCount > (headers.optionalSize - directories) / 8) {
        return peDirectoriesCut;
    }
    headers.directoryCount = directoryCount;
    size_t sectionTable = headers.optionalHeader + headers.optionalSize;
    if (sectionCount > 96 || !fits(file, sectionTable, 40 * sectionCount)) {
        return peSectionsDamaged;
    }
    for (size_t i = 0; i < sectionCount; ++i) {
        size_t at = sectionTable + 40 * i;
        headers.sections.push_back({readLe32(file, at + 12), readLe32(file, at + 8), readLe32(file, at + 16), readLe32(file, at + 20)});
    }
    return peImage;
}

void peDirectory(const std::vector<uint8_t>& file, const PeHeaders& headers, size_t index, uint32_t& rva,
                 uint32_t& size) {
    rva = size = 0;
    if (index < headers.directoryCount) {
        rva = readLe32(file, headers.directories + 8 * index);
        size = readLe32(file, headers.directories + 8 * index + 4);
    }
}

size_t peFileOffset(const std::vector<uint8_t>& file, const PeHeaders& headers, uint32_t rva, size_t length) {
    for (const PeSection& section : headers.sections) {
        if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
            size_t inSection = rva - section.virtualAddress;
            if (length > section.rawSize - inSection) {
                return 0;
            }
            size_t offset = static_cast<size_t>(section.rawOffset) + inSection;
            return fits(file, offset, length) ? offset : 0;
        }
    }
    return 0;
}
