// The first bytes of picture files, as the tests need them: a header that claims a size, and
// nothing (or little) behind it. Enough for a header reader, never a decodable picture.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace picture_headers {

inline void Append(std::vector<uint8_t>* bytes, std::initializer_list<uint8_t> more) {
    bytes->insert(bytes->end(), more);
}
inline void BigEndian(std::vector<uint8_t>* bytes, uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
        bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void LittleEndian(std::vector<uint8_t>* bytes, uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        bytes->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Signature, IHDR (8-bit RGBA) with a made-up CRC, and an empty IEND.
inline std::vector<uint8_t> Png(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    BigEndian(&b, 13, 4);
    Append(&b, {'I', 'H', 'D', 'R'});
    BigEndian(&b, width, 4);
    BigEndian(&b, height, 4);
    Append(&b, {8, 6, 0, 0, 0, 0, 0, 0, 0});
    Append(&b, {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
    return b;
}

// Start of image, an APP0 segment, then a baseline start of frame.
inline std::vector<uint8_t> Jpeg(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F',
                              0,    1,    1,    0,    0, 1,  0,   1,   0,   0};
    Append(&b, {0xFF, 0xC0, 0, 11, 8});
    BigEndian(&b, height, 2);
    BigEndian(&b, width, 2);
    Append(&b, {1, 1, 0x11, 0});
    return b;
}

// A 1 x 1 screen with a global table of two colours, a comment extension, then an image
// descriptor of the given size.
inline std::vector<uint8_t> Gif(uint32_t width, uint32_t height) {
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0};
    Append(&b, {0, 0, 0, 255, 255, 255});
    Append(&b, {0x21, 0xFE, 3, 'h', 'i', '!', 0});
    Append(&b, {0x2C, 0, 0, 0, 0});
    LittleEndian(&b, width, 2);
    LittleEndian(&b, height, 2);
    Append(&b, {0});
    return b;
}

// File header and a 40-byte information header; a negative height stores rows top down.
inline std::vector<uint8_t> Bmp(int32_t width, int32_t height) {
    std::vector<uint8_t> b = {'B', 'M'};
    LittleEndian(&b, 54, 4);
    LittleEndian(&b, 0, 4);
    LittleEndian(&b, 54, 4);
    LittleEndian(&b, 40, 4);
    LittleEndian(&b, static_cast<uint32_t>(width), 4);
    LittleEndian(&b, static_cast<uint32_t>(height), 4);
    Append(&b, {1, 0, 32, 0});
    b.resize(54, 0);
    return b;
}

} // namespace picture_headers
