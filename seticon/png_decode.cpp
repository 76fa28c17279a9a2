#include "picture.hpp"

#include <cstdlib>
#include <cstring>

namespace {

// No buffer the decoder asks for may be larger than a 16-bit RGBA image of
// the largest size with its filter bytes: a compressed stream that inflates
// beyond that (a "zip bomb") fails there instead of exhausting memory.
const size_t DECODER_MAX_ALLOCATION = static_cast<size_t>(PICTURE_MAX_SIDE) * (PICTURE_MAX_SIDE * 8 + 1);

void* boundedMalloc(size_t size) {
    return size <= DECODER_MAX_ALLOCATION ? std::malloc(size) : nullptr;
}

void* boundedRealloc(void* block, size_t size) {
    return size <= DECODER_MAX_ALLOCATION ? std::realloc(block, size) : nullptr;
}

}  // namespace

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_FAILURE_USERMSG
#define STBI_MAX_DIMENSIONS PICTURE_MAX_SIDE
#define STBI_MALLOC(size) boundedMalloc(size)
#define STBI_REALLOC(block, size) boundedRealloc(block, size)
#define STBI_FREE(block) std::free(block)
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool isPng(const uint8_t* data, size_t size) {
    return size >= sizeof pngSignature && std::memcmp(data, pngSignature, sizeof pngSignature) == 0;
}

// The IHDR chunk read directly: stb's own header check refuses an oversized
// image with the same text as a corrupt one.
bool pngSize(const uint8_t* data, size_t size, int& width, int& height) {
    if (!isPng(data, size) || size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) {
        return false;
    }
    auto u32 = [](const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | p[2] << 8 | p[3]; };
    uint32_t w = u32(data + 16), h = u32(data + 20);
    if (w == 0 || h == 0 || w > 0x7fffffffu || h > 0x7fffffffu) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::string tooLargeRefusal(const std::string& name, int width, int height) {
    return name + " is " + std::to_string(width) + "x" + std::to_string(height) + " pixels, more than the " +
           std::to_string(PICTURE_MAX_SIDE) + " a side that seticon reads; scale it down first (the icon keeps " +
           "128x128 of it)";
}

std::string decodePng(const uint8_t* data, size_t size, const std::string& name, Picture& picture) {
    int width = 0, height = 0, channels = 0;
    if (!pngSize(data, size, width, height)) {
        return name + " is not a readable PNG (its header is damaged); save it again from your image editor";
    }
    if (width > PICTURE_MAX_SIDE || height > PICTURE_MAX_SIDE) {
        return tooLargeRefusal(name, width, height);
    }
    uint8_t* pixels = stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 4);
    if (pixels == nullptr) {
        return name + " cannot be decoded as PNG (" + stbi_failure_reason() +
               "; the file is cut short or damaged); save it again from your image editor";
    }
    picture.width = width;
    picture.height = height;
    picture.rgba.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
    stbi_image_free(pixels);
    return "";
}
