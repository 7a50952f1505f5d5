#include "platform/sound/resampler.h"

#include "platform/sound/source.h"

#include <soxr.h>

namespace sound {

uint64_t OutputFrames(uint64_t inputFrames, int rate) {
    // In 128 bits: a header may claim any length, and a double would round a long one.
    const unsigned __int128 product = static_cast<unsigned __int128>(inputFrames) * kOutputRate;
    const auto divisor = static_cast<unsigned __int128>(rate);
    auto frames = static_cast<uint64_t>(product / divisor);
    const unsigned __int128 twice = 2 * (product % divisor);
    if (twice > divisor || (twice == divisor && frames % 2 == 1)) ++frames;
    return frames;
}

void Resampler::Delete::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

bool Resampler::Open(int rate, std::string* reason) {
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    resampler_.reset(
        soxr_create(rate, kOutputRate, kSamplesPerFrame, &error, nullptr, &quality, nullptr));
    if (resampler_) return true;
    *reason = std::string("its rate cannot be converted: ") + soxr_strerror(error);
    return false;
}

size_t Resampler::Process(const float* in, size_t inFrames, size_t* used, float* out,
                          size_t outFrames) {
    size_t written = 0;
    *used = 0;
    if (soxr_process(resampler_.get(), in, in ? inFrames : 0, used, out, outFrames, &written))
        return 0;
    return written;
}

} // namespace sound
