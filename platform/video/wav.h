// The sound of a render as a WAV file: 44.1 kHz stereo, 32-bit float samples exactly as they were
// mixed and measured, which every tool that muxes video reads.
#pragma once

#include "platform/video/output_file.h"

#include <cstddef>
#include <cstdint>

class WavWriter {
  public:
    // Writes a header for a length not known yet; false with the reason in file's Error().
    bool Start(OutputFile* file);
    // Appends count stereo frames.
    bool Write(const float* frames, size_t count);
    // Writes the real length into the header. A file that cannot seek (a pipe) keeps the header's
    // "as long as it goes on" sizes, which readers accept.
    bool Complete();

  private:
    OutputFile* file_ = nullptr;
    uint64_t frames_ = 0;
};
