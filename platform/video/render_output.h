// What a render writes, and the process it runs in. The frames of the view become a YUV4MPEG2
// stream (a file, or standard output for a video tool to read) and numbered PNG files; the sound
// mixed for those frames becomes a WAV file. Every file is whole under its final name or not there
// at all; the first failure stops every output and says why in one line.
#pragma once

#include "platform/glview/frame_sink.h"
#include "platform/video/output_file.h"
#include "platform/video/png_frames.h"
#include "platform/video/wav.h"
#include "platform/video/y4m.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct RenderTargets {
    std::string y4m;       // "-": standard output; empty: none
    std::string pngFolder; // empty: none
    std::string wav;       // empty: none
    int width = 0;
    int height = 0;
    int fps = 0;
};

class RenderOutput final : public FrameSink {
  public:
    // Opens every target; false with the reason in Error().
    bool Open(const RenderTargets& targets);
    // The number of the frames from now on: the name of its PNG file.
    void SetFrameNumber(int64_t number) { number_ = number; }
    void TakeFrame(const uint8_t* rgba, int width, int height) override;
    // Stereo frames of 44.1 kHz float sound for the WAV file.
    void TakeSound(const float* frames, size_t count);
    // Gives every file its final name; false with the reason in Error().
    bool Finish();

    bool failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const std::string& error);

    RenderTargets targets_;
    int64_t number_ = 0;
    OutputFile video_;
    Y4mWriter y4m_;
    PngFrames png_;
    OutputFile sound_;
    WavWriter wav_;
    std::string error_;
};

// The render's process: a reader that closes its pipe makes a write fail (and the render end with
// a message) instead of killing the process; SIGINT, SIGTERM and SIGHUP ask the render to stop.
void PrepareRenderProcess();
// The signal that asked the render to stop, or 0.
int RenderStopSignal();
bool StandardErrorIsTerminal();
