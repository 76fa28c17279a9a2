#pragma once

#include "pe_version.hpp"
#include "picture.hpp"

#include <cstdint>
#include <string>
#include <vector>

// A vendor's copy of the launcher, as seticon and makesetup make it: exe (the
// bytes of launcher.exe, or of a copy seticon made with the icon alone) gets
// picture as its icon when one is given and block as its version block when
// one is given, and a correct checksum. Returns "" and the size the picture
// was fitted to, or the refusal ("what is wrong; what to do"); exe is then
// unusable.
std::string brandLauncher(std::vector<uint8_t>& exe, const std::string& launcherName, const Picture* picture,
                          const VersionBlock* block, int& fittedWidth, int& fittedHeight);
