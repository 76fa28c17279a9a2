#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The headers of a PE image (a Windows exe or DLL) as far as the tools read
// them: the optional header's fields, its data directories and the sections.

struct PeSection {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

struct PeHeaders {
    size_t optionalHeader;  // file offset of the optional header
    size_t optionalSize;
    uint32_t magic;         // 0x10B PE32, 0x20B PE32+; 0 when not in the file
    uint32_t subsystem;
    size_t checksumOffset;  // file offset of the CheckSum field
    size_t directories;     // file offset of the data directories
    size_t directoryCount;
    std::vector<PeSection> sections;
};

// What is wrong with a file read as a PE image, in the order it is found.
// From peHeaderCut on, magic and subsystem are filled as far as the file holds
// them; from peDirectoriesCut on, the other fields before the directories
// too; from peSectionsDamaged on, the directories as well.
enum PeProblem { peImage, peNoMz, peNoPe, peHeaderCut, peUnknownOptional, peDirectoriesCut, peSectionsDamaged };

const uint32_t PE_SUBSYSTEM_CONSOLE = 3;
const size_t PE_DIRECTORY_RESOURCE = 2;
const size_t PE_DIRECTORY_SECURITY = 4;

// What CreateProcess takes for a program: the DOS header's "MZ".
inline bool hasMzSignature(const uint8_t* bytes, size_t size) {
    return size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
}

// Whether the file at path is what CreateProcess runs as a program: a batch
// file by its name (.bat, .cmd), else a file that begins with "MZ".
bool isWindowsProgramFile(const std::string& path);

PeProblem readPeHeaders(const std::vector<uint8_t>& file, PeHeaders& headers);

// The data directory entry index as (rva, size); (0, 0) when the image has none.
void peDirectory(const std::vector<uint8_t>& file, const PeHeaders& headers, size_t index, uint32_t& rva,
                 uint32_t& size);

// File offset of length bytes at rva, or 0 when they are not all in the file.
size_t peFileOffset(const std::vector<uint8_t>& file, const PeHeaders& headers, uint32_t rva, size_t length);
