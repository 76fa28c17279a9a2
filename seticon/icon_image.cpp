#include "icon_image.hpp"

#include "pe_icon.hpp"

#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

static int fittedSide(int side, int otherSide) {
    return std::max(1, (ICON_SIDE * side + otherSide / 2) / otherSide);
}

bool iconPixels(const Picture& picture, std::vector<uint8_t>& pixels, int& fittedWidth, int& fittedHeight) {
    int longer = std::max(picture.width, picture.height);
    fittedWidth = picture.width == longer ? ICON_SIDE : fittedSide(picture.width, longer);
    fittedHeight = picture.height == longer ? ICON_SIDE : fittedSide(picture.height, longer);
    std::vector<uint8_t> fitted(static_cast<size_t>(fittedWidth) * fittedHeight * 4);
    if (fittedWidth == picture.width && fittedHeight == picture.height) {
        fitted = picture.rgba;
    } else {
        stbir_filter filter = longer > ICON_SIDE ? STBIR_FILTER_MITCHELL : STBIR_FILTER_CATMULLROM;
        // Flags 0: the resampler weights colour by alpha (premultiplies) and
        // divides it out again, so transparent pixels lend no colour to edges.
        int resized = stbir_resize(picture.rgba.data(), picture.width, picture.height, 0, fitted.data(), fittedWidth,
                     fittedHeight, 0, STBIR_TYPE_UINT8, 4, 3, 0, STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP, filter, filter,
                     STBIR_COLORSPACE_LINEAR, nullptr);
        if (!resized) {
            return false;
        }
    }

    pixels.assign(ICON_COLOUR_SIZE + ICON_MASK_SIZE, 0);
    // An odd margin's extra pixel goes to the top and left, as image editors place it.
    int left = (ICON_SIDE - fittedWidth + 1) / 2, top = (ICON_SIDE - fittedHeight + 1) / 2;
    for (int y = 0; y < ICON_SIDE; ++y) {
        // Bitmap rows run bottom to top; a mask bit of 1 is transparent.
        uint8_t* colour = pixels.data() + (ICON_SIDE - 1 - y) * ICON_SIDE * 3;
        uint8_t* mask = pixels.data() + ICON_COLOUR_SIZE + (ICON_SIDE - 1 - y) * ICON_SIDE / 8;
        for (int x = 0; x < ICON_SIDE; ++x, colour += 3) {
            int fx = x - left, fy = y - top;
            const uint8_t* rgba = fx >= 0 && fx < fittedWidth && fy >= 0 && fy < fittedHeight
                                      ? fitted.data() + (static_cast<size_t>(fy) * fittedWidth + fx) * 4
                                      : nullptr;
            if (rgba != nullptr && rgba[3] >= 128) {
                colour[0] = rgba[2];
                colour[1] = rgba[1];
                colour[2] = rgba[0];
            } else {
                mask[x / 8] |= 0x80 >> (x % 8);
            }
        }
    }
    return true;
}
