#include "music/sound_file.h"

#include <algorithm>
#include <memory>

#include <sndfile.h>

namespace music {
namespace {

struct CloseFile {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using File = std::unique_ptr<SNDFILE, CloseFile>;

std::string Failure(const std::string& what, const std::string& path, SNDFILE* file) {
    return what + " " + path + ": " + sf_strerror(file);
}

} // namespace

Sound ToSound(const Stereo& signal) {
    Sound sound;
    sound.rate = kSampleRate;
    sound.channels = 2;
    sound.samples.resize(signal.Frames() * 2);
    for (size_t i = 0; i < signal.Frames(); ++i) {
        sound.samples[2 * i] = static_cast<float>(signal.left[i]);
        sound.samples[2 * i + 1] = static_cast<float>(signal.right[i]);
    }
    return sound;
}

Stereo ToStereo(const Sound& sound) {
    Stereo signal(sound.Frames());
    const auto channels = static_cast<size_t>(sound.channels);
    for (size_t i = 0; i < signal.Frames(); ++i) {
        signal.left[i] = sound.samples[i * channels];
        signal.right[i] = sound.samples[i * channels + (channels > 1 ? 1 : 0)];
    }
    return signal;
}

std::string ReadSound(const std::string& path, Sound& sound) {
    SF_INFO info{};
    File file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return Failure("cannot open", path, nullptr);
    if (info.channels < 1 || info.frames < 0) return "no sound in " + path;
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    sound.samples.assign(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels),
                         0.0f);
    const sf_count_t got = sf_readf_float(file.get(), sound.samples.data(), info.frames);
    // Some formats report an estimate of their length; keep what was really decoded.
    sound.samples.resize(static_cast<size_t>(got) * static_cast<size_t>(info.channels));
    if (got == 0 && info.frames > 0) return Failure("cannot decode", path, file.get());
    return "";
}

std::string WriteOggVorbis(const std::string& path, const Sound& sound, double quality,
                           const std::string& title) {
    SF_INFO info{};
    info.samplerate = sound.rate;
    info.channels = sound.channels;
    info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    File file(sf_open(path.c_str(), SFM_WRITE, &info));
    if (!file) return Failure("cannot create", path, nullptr);
    // Quality and tags must be set before the first sample is written.
    if (!sf_command(file.get(), SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality))
        return Failure("cannot set the quality of", path, file.get());
    sf_set_string(file.get(), SF_STR_TITLE, title.c_str());
    // The Vorbis encoder takes its input in blocks; one huge write overruns its buffers.
    constexpr size_t kBlock = 4096;
    const auto channels = static_cast<size_t>(sound.channels);
    for (size_t at = 0; at < sound.Frames(); at += kBlock) {
        const auto frames = static_cast<sf_count_t>(std::min(kBlock, sound.Frames() - at));
        if (sf_writef_float(file.get(), sound.samples.data() + at * channels, frames) != frames)
            return Failure("cannot write", path, file.get());
    }
    if (sf_close(file.release()) != 0) return "cannot finish " + path;
    return "";
}

} // namespace music
