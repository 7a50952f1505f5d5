// Numbered PNG files, one a frame: 000000.png, 000001.png… in a folder. Each file is complete under
// its name or not there at all; the pixels are opaque RGB.
#pragma once

#include "platform/video/output_file.h"

#include <cstdint>
#include <string>

typedef struct _cairo_surface cairo_surface_t;

class PngFrames {
  public:
    PngFrames() = default;
    PngFrames(const PngFrames&) = delete;
    PngFrames& operator=(const PngFrames&) = delete;
    ~PngFrames();

    // Makes the folder if needed and the picture for width x height; false with the reason in
    // Error().
    bool Start(const std::string& folder, int width, int height);
    // Writes the RGBA picture, bottom row first, as the file numbered number.
    bool WriteFrame(const uint8_t* rgba, int64_t number);

    const std::string& Error() const { return error_; }

  private:
    std::string folder_;
    int width_ = 0;
    int height_ = 0;
    cairo_surface_t* surface_ = nullptr;
    OutputFile file_;
    std::string error_;
};
