#include "picture.hpp"

#include "little_endian.hpp"

#include <cstdio>

namespace {

// One image of the icon file, as far as its own header tells.
struct IcoEntry {
    size_t index;
    const uint8_t* data;
    size_t size;
    bool png;
    int width;
    int height;
    int bits;
    std::string problem;  // why it cannot be used, or ""
};

IcoEntry readEntry(const std::vector<uint8_t>& file, size_t index) {
    const uint8_t* at = file.data() + 6 + 16 * index;
    IcoEntry entry{index, nullptr, readLe32(at + 8), false, 0, 0, 0, ""};
    size_t offset = readLe32(at + 12);
    if (offset > file.size() || entry.size > file.size() - offset || entry.size < 8) {
        entry.problem = "lies outside the file";
        return entry;
    }
    entry.data = file.data() + offset;
    if (isPng(entry.data, entry.size)) {
        entry.png = true;
        entry.bits = 32;
        if (!pngSize(entry.data, entry.size, entry.width, entry.height)) {
            entry.problem = "is a damaged PNG";
        }
        return entry;
    }
    if (entry.size < 40 || readLe32(entry.data) < 40 || readLe32(entry.data) > entry.size) {
        entry.problem = "has a damaged bitmap header";
        return entry;
    }
    int32_t width = static_cast<int32_t>(readLe32(entry.data + 4));
    int32_t height = static_cast<int32_t>(readLe32(entry.data + 8));
    entry.bits = readLe16(entry.data + 14);
    if (width <= 0 || height <= 0 || height % 2 != 0) {
        entry.problem = "has a damaged bitmap header";
    } else if (entry.bits != 1 && entry.bits != 4 && entry.bits != 8 && entry.bits != 24 && entry.bits != 32) {
        entry.problem = "has " + std::to_string(entry.bits) + " bits a pixel (1, 4, 8, 24 or 32 are read)";
    } else if (readLe32(entry.data + 16) != 0) {
        entry.problem = "is a compressed bitmap";
    }
    entry.width = width;
    entry.height = height / 2;
    return entry;
}

// The image that makes the best 128x128: the smallest at least 128 wide, else
// the largest; among equals the one with more bits a pixel, then the first.
bool better(const IcoEntry& a, const IcoEntry& b) {
    bool aCovers = a.width >= 128, bCovers = b.width >= 128;
    if (aCovers != bCovers) {
        return aCovers;
    }
    if (a.width != b.width) {
        return aCovers ? a.width < b.width : a.width > b.width;
    }
    return a.bits > b.bits;
}

std::string decodeBitmap(const IcoEntry& entry, const std::string& name, Picture& picture) {
    const std::string damaged = name + " has a damaged " + std::to_string(entry.width) + "x" +
                                std::to_string(entry.height) + " image (";
    const std::string saveAgain = "); save the icon again from your icon editor";
    size_t headerSize = readLe32(entry.data);
    size_t width = entry.width, height = entry.height, bits = entry.bits;
    size_t paletteSize = 0;
    if (bits <= 8) {
        size_t used = readLe32(entry.data + 32);
        paletteSize = used == 0 ? size_t(1) << bits : used;
        if (paletteSize > size_t(1) << bits) {
            return damaged + "its palette is larger than its bits allow" + saveAgain;
        }
    }
    size_t colourStride = (width * bits + 31) / 32 * 4;
    size_t maskStride = (width + 31) / 32 * 4;
    size_t colourAt = headerSize + 4 * paletteSize;
    size_t maskAt = colourAt + colourStride * height;
    bool hasMask = maskAt + maskStride * height <= entry.size;
    if (maskAt > entry.size || (bits < 32 && !hasMask)) {
        return damaged + "its pixels are cut short" + saveAgain;
    }
    const uint8_t* palette = entry.data + headerSize;
    picture.width = entry.width;
    picture.height = entry.height;
    picture.rgba.assign(width * height * 4, 0);
    bool anyAlpha = false;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* row = entry.data + colourAt + colourStride * (height - 1 - y);
        uint8_t* out = picture.rgba.data() + width * 4 * y;
        for (size_t x = 0; x < width; ++x, out += 4) {
            const uint8_t* bgr = nullptr;
            if (bits == 32 || bits == 24) {
                bgr = row + x * (bits / 8);
                out[3] = bits == 32 ? bgr[3] : 255;
            } else {
                size_t bit = x * bits;
                size_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                bgr = index < paletteSize ? palette + 4 * index : nullptr;
                out[3] = 255;
            }
            if (bgr != nullptr) {
                out[0] = bgr[2];
                out[1] = bgr[1];
                out[2] = bgr[0];
            }
            anyAlpha = anyAlpha || (bits == 32 && out[3] != 0);
        }
    }
    // Below 32 bits, and in a 32-bit image whose alpha is all zero (written
    // before icons had alpha), the AND mask says what is transparent.
    if (hasMask && !anyAlpha) {
        for (size_t y = 0; y < height; ++y) {
            const uint8_t* row = entry.data + maskAt + maskStride * (height - 1 - y);
            for (size_t x = 0; x < width; ++x) {
                bool transparent = (row[x / 8] >> (7 - x % 8)) & 1;
                picture.rgba[(y * width + x) * 4 + 3] = transparent ? 0 : 255;
            }
        }
    } else if (!anyAlpha) {
        for (size_t i = 3; i < picture.rgba.size(); i += 4) {
            picture.rgba[i] = 255;
        }
    }
    return "";
}

}  // namespace

bool isIco(const std::vector<uint8_t>& file) {
    return file.size() >= 6 && readLe16(file.data()) == 0 && readLe16(file.data() + 2) == 1 && readLe16(file.data() + 4) > 0;
}

std::string decodeIco(const std::vector<uint8_t>& file, const std::string& name, Picture& picture) {
    size_t count = readLe16(file.data() + 4);
    if (file.size() < 6 + 16 * count) {
        return name + " is an ICO file cut short in its list of images; save the icon again from your icon editor";
    }
    const IcoEntry* chosen = nullptr;
    std::vector<IcoEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        entries.push_back(readEntry(file, i));
    }
    std::string problems;
    for (const IcoEntry& entry : entries) {
        if (entry.problem.empty() && (entry.width > PICTURE_MAX_SIDE || entry.height > PICTURE_MAX_SIDE)) {
            return tooLargeRefusal(name, entry.width, entry.height);
        }
        if (!entry.problem.empty()) {
            problems += (problems.empty() ? "" : ", ") + ("image " + std::to_string(entry.index + 1) + " " +
                                                          entry.problem);
        } else if (chosen == nullptr || better(entry, *chosen)) {
            chosen = &entry;
        }
    }
    if (chosen == nullptr) {
        return name + " holds no image seticon can read (" + problems + "); save the icon again with PNG or " +
               "1, 4, 8, 24 or 32-bit images, or give a PNG";
    }
    std::string problem = chosen->png ? decodePng(chosen->data, chosen->size, name, picture)
                                      : decodeBitmap(*chosen, name, picture);
    char origin[96];
    std::snprintf(origin, sizeof origin, "%dx%d %s image, %zu of %zu", chosen->width, chosen->height,
                  chosen->png ? "PNG" : (std::to_string(chosen->bits) + "-bit").c_str(), chosen->index + 1, count);
    picture.origin = origin;
    return problem;
}

std::string decodeImage(const std::vector<uint8_t>& file, const std::string& name, Picture& picture) {
    std::string problem;
    if (isPng(file.data(), file.size())) {
        problem = decodePng(file.data(), file.size(), name, picture);
        picture.origin = std::to_string(picture.width) + "x" + std::to_string(picture.height);
        return problem;
    }
    if (isIco(file)) {
        return decodeIco(file, name, picture);
    }
    struct Kind {
        const char* start;
        size_t length;
        const char* name;
    };
    static const Kind others[] = {
        {"\xff\xd8\xff", 3, "a JPEG image"}, {"GIF8", 4, "a GIF image"}, {"BM", 2, "a BMP file"},
        {"\0\0\2\0", 4, "a cursor file"},    {"RIFF", 4, "a RIFF file (WebP?)"},
    };
    std::string found = "neither a PNG nor an ICO file";
    for (const Kind& kind : others) {
        if (file.size() >= kind.length && std::string(file.begin(), file.begin() + kind.length) ==
                                              std::string(kind.start, kind.length)) {
            found = std::string(kind.name) + ", not a PNG or ICO file";
        }
    }
    return name + " is " + found + "; convert it to PNG (at least 128x128, with transparency) and give that";
}
