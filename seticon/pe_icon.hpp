#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The launcher's icon: icon group 1 with one 128x128 24-bit image, stored as a
// BMP of exactly this size. A new image of the same shape fits where the old
// one is, so nothing else in the exe moves.
const int ICON_SIDE = 128;
const size_t ICON_HEADER_SIZE = 40;
const size_t ICON_COLOUR_SIZE = ICON_SIDE * ICON_SIDE * 3;
const size_t ICON_MASK_SIZE = ICON_SIDE * ICON_SIDE / 8;
const size_t ICON_IMAGE_SIZE = ICON_HEADER_SIZE + ICON_COLOUR_SIZE + ICON_MASK_SIZE;  // 51,240

// One resource of the launcher: its name, its language and the file offset of
// its data entry (RVA, size, code page).
struct LauncherResource {
    uint32_t name;
    uint32_t language;
    size_t dataEntry;
};

// Where a launcher keeps the bytes seticon changes.
struct LauncherSlots {
    size_t iconOffset;      // file offset of the icon image
    size_t checksumOffset;  // file offset of the PE header's CheckSum field
    LauncherResource icon;
    LauncherResource group;
};

// Checks that exe (read from the file name) is a launcher: a PE file whose
// resources are exactly icon group 1 with one 128x128 24-bit image, and that
// carries no signature. Returns "" and fills slots, or the refusal as "what was
// found; what to do".
std::string findLauncherSlots(const std::vector<uint8_t>& exe, const std::string& name, LauncherSlots& slots);

// The PE image checksum of the file, the CheckSum field counted as zero.
uint32_t peChecksum(const std::vector<uint8_t>& exe, size_t checksumOffset);
// Writes the checksum of the file into its CheckSum field.
void updatePeChecksum(std::vector<uint8_t>& exe, size_t checksumOffset);
