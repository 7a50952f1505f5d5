// The size a picture file claims, read from its header without decoding it, so that a picture too
// large to show is refused before any memory is spent on it. A small file can claim a picture of
// gigabytes, and the decoders allocate what the header asks for before they find the data short.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ImageFormat { Png, Jpeg, Gif, Bmp };

enum class HeaderResult {
    Read,
    UnknownFormat, // not a PNG, JPEG, GIF or BMP file
    Malformed,     // one of those, but its header is cut short or makes no sense
};

struct ImageHeader {
    ImageFormat format = ImageFormat::Png;
    int64_t width = 0; // at least 1 when read
    int64_t height = 0;
};

// Reads the header at the start of data (size bytes, the whole file or its beginning). For a GIF
// the size is the larger of the screen and of its first image, which is what gets decoded.
HeaderResult ReadImageHeader(const uint8_t* data, size_t size, ImageHeader* header);
