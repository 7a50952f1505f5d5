// Reading and writing whole sound files through libsndfile.
#pragma once

#include <string>
#include <vector>

#include "music/synth.h"

namespace music {

struct Sound {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved, full scale 1.0

    size_t Frames() const {
        return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0;
    }
    double Seconds() const { return rate > 0 ? static_cast<double>(Frames()) / rate : 0.0; }
};

// Interleaves a rendered signal as the encoder takes it, and splits a decoded sound (a mono one
// into two equal channels) back into left and right.
Sound ToSound(const Stereo& signal);
Stereo ToStereo(const Sound& sound);

// Decodes a whole file. Returns an empty string on success, else what went wrong.
std::string ReadSound(const std::string& path, Sound& sound);

// Encodes `sound` as Ogg Vorbis at `quality` (0 smallest to 1 best) with a title tag.
// Returns an empty string on success, else what went wrong.
std::string WriteOggVorbis(const std::string& path, const Sound& sound, double quality,
                           const std::string& title);

} // namespace music
