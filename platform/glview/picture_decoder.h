// Pictures decoded for textures, ready to upload: checked before they are decoded (a regular file
// of sane size, a format whose header we read, a size within a pixel budget), decoded with
// SDL2_image, turned bottom row first, and with their mipmap levels made here, on the CPU, so that
// decoding and the levels can be done off the interface thread while the GL driver starts, and no
// GL shader is compiled for them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedPicture {
    int width = 0;
    int height = 0;
    // RGBA, bottom row first: level 0 the picture, each next level half its size (at least 1).
    std::vector<std::vector<uint8_t>> levels;
    std::string reason; // why it cannot be shown; empty when it can
};

// Decodes one picture with the size it may have at most on a side.
DecodedPicture DecodePicture(const std::string& path, int maxSide);

// Starts decoding, on a thread of its own, every PNG file in folder (with a path ending in '/'),
// for TakeDecodedPicture to hand out later. Calling it again while it runs does nothing.
void PrefetchPictures(const std::string& folder);
// The picture at path, from the prefetch (waiting for it to finish) if it holds it, else decoded
// now.
DecodedPicture TakeDecodedPicture(const std::string& path, int maxSide);
// Lets go of what the prefetch decoded and nobody took.
void ForgetPrefetchedPictures();
