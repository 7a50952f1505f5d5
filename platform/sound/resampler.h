// Changing a stream's rate to the output rate with libsoxr, the resampler of SoX. Its high-quality
// setting keeps the exact ratio of the two rates (a tone keeps its pitch, a file its length), is
// flat to 20 kHz, keeps what lies above the output's 22.05 kHz more than 130 dB down, and costs
// well under a millisecond of a core per second of stereo sound. The library's types stay in
// resampler.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct soxr;

namespace sound {

// The frames of output that inputFrames frames at rate last: the exact product, rounded half to
// even.
uint64_t OutputFrames(uint64_t inputFrames, int rate);

// Converts interleaved stereo float frames from one rate to the output rate.
class Resampler {
  public:
    // False, with the library's reason, when it cannot convert from rate.
    bool Open(int rate, std::string* reason);
    // Takes up to inFrames frames from in and writes up to outFrames into out; in null says the
    // input has ended, and what the filter still holds comes out. Returns the frames written and
    // sets *used to the frames taken. With room to write, it always takes or writes something
    // until the input has ended and it has given out all it held.
    size_t Process(const float* in, size_t inFrames, size_t* used, float* out, size_t outFrames);

  private:
    struct Delete {
        void operator()(soxr* resampler) const;
    };
    std::unique_ptr<soxr, Delete> resampler_;
};

} // namespace sound
