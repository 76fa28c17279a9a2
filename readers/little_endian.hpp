#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Little-endian fields of Windows file formats (PE, ICO, BMP).
inline uint32_t readLe16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

inline uint32_t readLe32(const uint8_t* p) {
    return readLe16(p) | readLe16(p + 2) << 16;
}

// The same at an offset of a file's bytes; the caller has checked the bounds.
inline uint32_t readLe16(const std::vector<uint8_t>& bytes, size_t offset) {
    return readLe16(bytes.data() + offset);
}

inline uint32_t readLe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return readLe32(bytes.data() + offset);
}

inline void writeLe16(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void writeLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    writeLe16(bytes, offset, value & 0xffff);
    writeLe16(bytes, offset + 2, value >> 16);
}
