// A YUV4MPEG2 stream, the plain video format every video tool reads from a pipe: a header line,
// then "FRAME" and the three planes of each picture.
//
// Pictures are 4:2:0 with the chroma sited between the four luma samples it covers (C420jpeg),
// in the BT.709 matrix at limited ("TV") range: luma 16 to 235, chroma 16 to 240, as video for
// high-definition sizes is read unless it says otherwise. The header says the frame rate, square
// pixels, progressive frames, and the range (XCOLORRANGE=LIMITED). Width and height must be even.
#pragma once

#include "platform/video/output_file.h"

#include <cstdint>
#include <memory>

class Y4mWriter {
  public:
    // Writes the header; false with the reason in file's Error().
    bool Start(OutputFile* file, int width, int height, int fps);
    // Converts and writes one RGBA picture of the stream's size, bottom row first.
    bool WriteFrame(const uint8_t* rgba);

  private:
    OutputFile* file_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    size_t frameBytes_ = 0;
    std::unique_ptr<uint8_t[]> frame_; // "FRAME\n" and the planes, made once
};

// Converts one RGBA picture, bottom row first, into the Y, U and V planes of a top-first 4:2:0
// picture (U and V a quarter of Y's size each). width and height are even.
void ConvertToYuv420(const uint8_t* rgba, int width, int height, uint8_t* y, uint8_t* u,
                     uint8_t* v);
