#include "support/sound_fixtures.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vormel-sound-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

namespace {

int FormatCode(SoundFormat format) {
    switch (format) {
    case SoundFormat::WavFloat:
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    case SoundFormat::WavPcm16:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case SoundFormat::Flac:
        return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SoundFormat::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundFormat::OggOpus:
        return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    }
    return 0;
}

std::vector<float> Samples(const Signal& signal) {
    auto frames = static_cast<size_t>(std::lrint(signal.seconds * signal.rate));
    size_t channels = signal.amplitudes.size();
    std::vector<float> samples(frames * channels);
    std::mt19937 generator(1);
    std::uniform_real_distribution<double> noise(-signal.noise, signal.noise);
    for (size_t n = 0; n < frames; ++n) {
        if (signal.silentFrom >= 0 && n >= signal.silentFrom * signal.rate) break;
        if (n < signal.loudFrom * signal.rate) continue;
        if (signal.burstEvery > 0 &&
            std::fmod(static_cast<double>(n) / signal.rate - signal.loudFrom, signal.burstEvery) >=
                signal.burstLength)
            continue;
        // 441 * n / rate is exact for the rates used, so the crest samples are exactly 1.
        double wave = std::sin(2.0 * M_PI * std::fmod(signal.frequency * n / signal.rate, 1.0));
        for (size_t c = 0; c < channels; ++c)
            samples[n * channels + c] = static_cast<float>(
                signal.amplitudes[c] * wave + (signal.noise > 0 ? noise(generator) : 0.0));
    }
    return samples;
}

void PutWord(std::vector<uint8_t>* bytes, size_t at, int value) {
    (*bytes)[at] = static_cast<uint8_t>(value >> 8);
    (*bytes)[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

// One pattern cell: sample 1 at period (0: no note) with an effect.
void PutCell(std::vector<uint8_t>* bytes, size_t at, int period, int effect, int parameter) {
    int sample = period ? 1 : 0;
    (*bytes)[at] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
    (*bytes)[at + 1] = static_cast<uint8_t>(period & 0xFF);
    (*bytes)[at + 2] = static_cast<uint8_t>((sample & 0x0F) << 4 | effect);
    (*bytes)[at + 3] = static_cast<uint8_t>(parameter);
}

} // namespace

bool WriteSound(const std::string& path, SoundFormat format, const Signal& signal) {
    SF_INFO info{};
    info.samplerate = signal.rate;
    info.channels = static_cast<int>(signal.amplitudes.size());
    info.format = FormatCode(format);
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<float> samples = Samples(signal);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / info.channels;
    // A second at a time: libvorbis takes each write on its stack, and a minute of sound in one
    // write overflows it.
    bool written = true;
    for (sf_count_t at = 0; at < frames && written;) {
        const sf_count_t count = std::min<sf_count_t>(frames - at, signal.rate);
        written = sf_writef_float(file, samples.data() + at * info.channels, count) == count;
        at += count;
    }
    return sf_close(file) == 0 && written;
}

bool WriteSamples(const std::string& path, const std::vector<float>& stereo) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<sf_count_t>(stereo.size() / 2);
    const bool written = sf_writef_float(file, stereo.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

bool WriteModule(const std::string& path, const ModuleShape& shape) {
    constexpr size_t kSampleHeaders = 20;
    constexpr size_t kOrder = kSampleHeaders + 31 * 30;
    constexpr size_t kPatterns = kOrder + 2 + 128 + 4;
    constexpr int kSampleWords = 16;
    constexpr int kPeriods[] = {428, 339, 285, 214}; // C, E, G, high C
    std::vector<uint8_t> bytes(kPatterns + 1024 + kSampleWords * 2, 0);
    std::copy_n("vormel test", 11, bytes.begin());
    std::copy_n("square", 6, bytes.begin() + kSampleHeaders);
    PutWord(&bytes, kSampleHeaders + 22, kSampleWords);
    bytes[kSampleHeaders + 25] = 48;                    // volume
    PutWord(&bytes, kSampleHeaders + 28, kSampleWords); // loops whole
    bytes[kOrder] = static_cast<uint8_t>(shape.positions);
    bytes[kOrder + 1] = 127;
    std::copy_n("M.K.", 4, bytes.begin() + kOrder + 130);
    for (int row = 0; row < shape.rows; ++row) {
        for (int channel = 0; channel < 4; ++channel) {
            bool note = row % (channel + 1) == 0;
            int effect = 0, parameter = 0;
            if (channel == 3 && row == 0) effect = 0xF, parameter = shape.speed;
            if (channel == 3 && row == shape.rows - 1 && shape.rows < 64) effect = 0xD;
            PutCell(&bytes, kPatterns + (row * 4 + channel) * 4,
                    note ? kPeriods[(row + channel) % 4] : 0, effect, parameter);
        }
    }
    for (int i = 0; i < kSampleWords * 2; ++i)
        bytes[kPatterns + 1024 + i] = static_cast<uint8_t>(i < kSampleWords ? 90 : -90);
    return WriteBytes(path, bytes);
}

bool WriteSonglessModule(const std::string& path) {
    constexpr size_t kHeader = 0x60;
    constexpr uint8_t kEndOfSong = 255;
    std::vector<uint8_t> bytes(kHeader, 0);
    std::copy_n("no song", 7, bytes.begin());
    bytes[0x1C] = 0x1A; // the end of the title
    bytes[0x1D] = 16;   // a module
    bytes[0x20] = 2;    // two orders, no instruments, no patterns
    bytes[0x2A] = 2;    // unsigned samples
    std::copy_n("SCRM", 4, bytes.begin() + 0x2C);
    bytes[0x30] = 64;   // global volume
    bytes[0x31] = 6;    // speed
    bytes[0x32] = 125;  // tempo
    bytes[0x33] = 0xB0; // stereo, master volume 48
    for (size_t channel = 0; channel < 32; ++channel)
        bytes[0x40 + channel] = channel < 4 ? static_cast<uint8_t>(channel) : 255;
    bytes.push_back(kEndOfSong);
    bytes.push_back(kEndOfSong);
    return WriteBytes(path, bytes);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(generator());
    return bytes;
}

void UseDummyAudioDriver() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}
