#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Limits on what seticon reads, checked before anything of that size is
// allocated: a side is at most 8,192 pixels, an input file at most 64 MiB.
const int PICTURE_MAX_SIDE = 8192;
const size_t INPUT_MAX_BYTES = 64u << 20;

// A decoded image: rows top to bottom, 4 bytes a pixel (R, G, B, straight alpha).
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    std::string origin;  // which part of the file it came from, for the summary line
};

// Each returns "" and fills picture, or the refusal ("what is wrong; what to do").
std::string decodeImage(const std::vector<uint8_t>& file, const std::string& name, Picture& picture);
bool isPng(const uint8_t* data, size_t size);
// The PNG's size without decoding it; false when its header is unreadable.
bool pngSize(const uint8_t* data, size_t size, int& width, int& height);
std::string decodePng(const uint8_t* data, size_t size, const std::string& name, Picture& picture);
bool isIco(const std::vector<uint8_t>& file);
std::string decodeIco(const std::vector<uint8_t>& file, const std::string& name, Picture& picture);

std::string tooLargeRefusal(const std::string& name, int width, int height);
