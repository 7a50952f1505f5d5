#include "platform/glview/image_header.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// A bounds-checked reader over the file's bytes: every read past the end fails.
class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Has(size_t count) const { return count <= size_ - at_; }
    bool Skip(size_t count) {
        if (!Has(count)) return false;
        at_ += count;
        return true;
    }
    bool Byte(uint32_t* value) {
        if (!Has(1)) return false;
        *value = data_[at_++];
        return true;
    }
    bool BigEndian(size_t count, uint32_t* value) {
        if (!Has(count)) return false;
        *value = 0;
        for (size_t i = 0; i < count; ++i)
            *value = *value << 8 | data_[at_++];
        return true;
    }
    bool LittleEndian(size_t count, uint32_t* value) {
        if (!Has(count)) return false;
        *value = 0;
        for (size_t i = 0; i < count; ++i)
            *value |= static_cast<uint32_t>(data_[at_++]) << (8 * i);
        return true;
    }
    bool StartsWith(const char* text) const {
        const size_t n = std::strlen(text);
        return size_ >= n && std::memcmp(data_, text, n) == 0;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

HeaderResult Size(ImageHeader* header, int64_t width, int64_t height) {
    if (width < 1 || height < 1) return HeaderResult::Malformed;
    header->width = width;
    header->height = height;
    return HeaderResult::Read;
}

// The signature, then the IHDR chunk first of all: its length 13, its type, width and height.
HeaderResult ReadPng(Bytes in, ImageHeader* header) {
    uint32_t length = 0, type = 0, width = 0, height = 0;
    if (!in.StartsWith("\x89PNG\r\n\x1a\n") || !in.Skip(8) || !in.BigEndian(4, &length) ||
        !in.BigEndian(4, &type) || !in.BigEndian(4, &width) || !in.BigEndian(4, &height))
        return HeaderResult::Malformed;
    if (length != 13 || type != 0x49484452) return HeaderResult::Malformed; // "IHDR"
    // The format allows no side of 2^31 or more.
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return HeaderResult::Malformed;
    return Size(header, width, height);
}

bool IsStartOfFrame(uint32_t marker) {
    // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Segments up to the first start of frame, which holds the height, then the width.
HeaderResult ReadJpeg(Bytes in, ImageHeader* header) {
    in.Skip(2);
    for (;;) {
        uint32_t byte = 0;
        if (!in.Byte(&byte) || byte != 0xFF) return HeaderResult::Malformed;
        uint32_t marker = 0xFF;
        while (marker == 0xFF) // fill bytes may pad a marker
            if (!in.Byte(&marker)) return HeaderResult::Malformed;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue; // no length
        // The image data begins, or the image ends, before any frame was described.
        if (marker == 0xDA || marker == 0xD9 || marker == 0x00) return HeaderResult::Malformed;
        uint32_t length = 0;
        if (!in.BigEndian(2, &length) || length < 2) return HeaderResult::Malformed;
        if (IsStartOfFrame(marker)) {
            uint32_t precision = 0, height = 0, width = 0;
            if (length < 7 || !in.Byte(&precision) || !in.BigEndian(2, &height) ||
                !in.BigEndian(2, &width))
                return HeaderResult::Malformed;
            // A height of 0 is given later by a DNL segment; no decoder we use reads those.
            return Size(header, width, height);
        }
        if (!in.Skip(length - 2)) return HeaderResult::Malformed;
    }
}

// The logical screen, then blocks up to the first image descriptor.
HeaderResult ReadGif(Bytes in, ImageHeader* header) {
    uint32_t screenWidth = 0, screenHeight = 0, flags = 0;
    if (!in.Skip(6) || !in.LittleEndian(2, &screenWidth) || !in.LittleEndian(2, &screenHeight) ||
        !in.Byte(&flags) || !in.Skip(2))
        return HeaderResult::Malformed;
    if ((flags & 0x80) && !in.Skip(3u << ((flags & 7) + 1))) return HeaderResult::Malformed;
    for (;;) {
        uint32_t introducer = 0;
        if (!in.Byte(&introducer)) return HeaderResult::Malformed;
        if (introducer == 0x2C) {
            uint32_t width = 0, height = 0;
            if (!in.Skip(4) || !in.LittleEndian(2, &width) || !in.LittleEndian(2, &height))
                return HeaderResult::Malformed;
            return Size(header, std::max(screenWidth, width), std::max(screenHeight, height));
        }
        if (introducer != 0x21 || !in.Skip(1)) return HeaderResult::Malformed;
        // An extension: sub-blocks, each led by its length, up to an empty one.
        for (uint32_t length = 1; length != 0;)
            if (!in.Byte(&length) || !in.Skip(length)) return HeaderResult::Malformed;
    }
}

// The file header, then the information header: its size tells the old OS/2 layout (16-bit
// sides) from the later ones (32-bit, the height negative for rows stored top down).
HeaderResult ReadBmp(Bytes in, ImageHeader* header) {
    uint32_t infoSize = 0, width = 0, height = 0;
    if (!in.Skip(14) || !in.LittleEndian(4, &infoSize)) return HeaderResult::Malformed;
    if (infoSize == 12) {
        if (!in.LittleEndian(2, &width) || !in.LittleEndian(2, &height))
            return HeaderResult::Malformed;
        return Size(header, width, height);
    }
    if (infoSize < 16 || !in.LittleEndian(4, &width) || !in.LittleEndian(4, &height))
        return HeaderResult::Malformed;
    const int64_t signedWidth = static_cast<int32_t>(width);
    const int64_t signedHeight = static_cast<int32_t>(height);
    // -2^31 has no positive counterpart in the field: no decoder reads such a height.
    if (signedHeight == INT32_MIN) return HeaderResult::Malformed;
    return Size(header, signedWidth, signedHeight < 0 ? -signedHeight : signedHeight);
}

} // namespace

HeaderResult ReadImageHeader(const uint8_t* data, size_t size, ImageHeader* header) {
    const Bytes in(data, data ? size : 0);
    if (in.StartsWith("\x89PNG")) {
        header->format = ImageFormat::Png;
        return ReadPng(in, header);
    }
    if (in.StartsWith("\xFF\xD8\xFF")) {
        header->format = ImageFormat::Jpeg;
        return ReadJpeg(in, header);
    }
    if (in.StartsWith("GIF87a") || in.StartsWith("GIF89a")) {
        header->format = ImageFormat::Gif;
        return ReadGif(in, header);
    }
    if (in.StartsWith("BM")) {
        header->format = ImageFormat::Bmp;
        return ReadBmp(in, header);
    }
    return HeaderResult::UnknownFormat;
}
