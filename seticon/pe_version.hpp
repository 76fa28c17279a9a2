#pragma once

#include "pe_icon.hpp"

#include <cstdint>
#include <string>
#include <vector>

// What a vendor's copy of the launcher says about itself in Properties →
// Details (a VS_VERSIONINFO resource). Texts are UTF-8.
struct VersionBlock {
    std::string productName;       // FileDescription and ProductName
    std::string companyName;
    std::string version;           // FileVersion and ProductVersion as written, "1.2" to "1.2.3.4"
    std::string originalFilename;
    std::string copyright;         // LegalCopyright; left out when empty
};

// The limits of the texts of a version block, in characters.
const size_t VERSION_TEXT_MAX = 256;

// Checks a version text: two to four numbers of digits only, each at most
// 65535, separated by dots. Returns "" and the four numbers (missing ones 0),
// or what is wrong.
std::string parseVersion(const std::string& text, uint16_t numbers[4]);

// Checks the block's texts (valid UTF-8, no control characters, lengths, the
// version). Returns "" or the first problem as "what is wrong; what to do".
std::string checkVersionBlock(const VersionBlock& block);

// The VS_VERSIONINFO resource's bytes, language neutral, UTF-16 strings.
std::vector<uint8_t> versionResource(const VersionBlock& block);

// Gives a launcher (slots from findLauncherSlots) a version block: a new
// resource section is added after the last one, holding a resource directory
// of the icon group, the icon and the version block. The icon's bytes stay
// where they are (its data entries point at them), so slots.iconOffset still
// holds. Nothing else of the file moves. Returns "" or why it cannot (no room
// for a section header, data appended after the last section). The caller
// recomputes the checksum.
std::string addVersionBlock(std::vector<uint8_t>& exe, const LauncherSlots& slots, const VersionBlock& block);
