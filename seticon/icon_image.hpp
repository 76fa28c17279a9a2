#pragma once

#include "picture.hpp"

// The colour rows and AND mask of the launcher's icon image (what follows its
// 40-byte header) for picture: fitted inside 128x128 keeping its proportions,
// centred on a transparent square, resampled with premultiplied alpha (Mitchell
// filter when shrinking, Catmull-Rom when enlarging). A pixel at least half
// opaque is drawn in its colour; any other is masked out and black, because
// Windows draws an icon by AND-ing the mask and then XOR-ing the colour.
// False when the resampler could not get its memory.
bool iconPixels(const Picture& picture, std::vector<uint8_t>& pixels, int& fittedWidth, int& fittedHeight);
