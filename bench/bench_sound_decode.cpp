// What decoding costs the library's decoder thread: CPU time per second of audio, as a fraction
// of one core (the counter core_per_audio_s), for an Ogg Vorbis stream, FLAC streams that must be
// resampled (22.05 kHz, and 48 kHz, the rate of most sound from video and of every Opus file), and
// a tracker module. Each iteration opens the file and decodes all of it.
#include "platform/sound/source.h"
#include "support/sound_fixtures.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

struct Files {
    ScratchFolder folder;
    std::string vorbis = folder.Path("music.ogg");
    std::string resampled = folder.Path("music-22050.flac");
    std::string resampled48k = folder.Path("music-48000.flac");
    std::string module = folder.Path("tune.mod");
    bool ok = WriteSound(vorbis, SoundFormat::OggVorbis, {10.0, {0.6, 0.5}, 44100, -1, 0.3}) &&
              WriteSound(resampled, SoundFormat::Flac, {10.0, {0.6, 0.5}, 22050, -1, 0.3}) &&
              WriteSound(resampled48k, SoundFormat::Flac, {10.0, {0.6, 0.5}, 48000, -1, 0.3}) &&
              WriteModule(module, {64, 6, 2});
};

const Files& Fixtures() {
    static Files files;
    return files;
}

void Decode(benchmark::State& state, const std::string& path, bool module) {
    if (!Fixtures().ok) state.SkipWithError("fixtures could not be written");
    std::vector<float> frames(2 * 4096);
    double audioSeconds = 0;
    for (auto _ : state) {
        int error = 0;
        auto source = module ? sound::OpenModuleSource(path.c_str(), &error)
                             : sound::OpenStreamSource(path.c_str(), &error);
        if (!source) {
            state.SkipWithError("cannot open");
            break;
        }
        while (size_t got = source->Read(frames.data(), 4096))
            audioSeconds += got / 44100.0;
    }
    state.counters["core_per_audio_s"] =
        benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DecodeVorbis(benchmark::State& state) {
    Decode(state, Fixtures().vorbis, false);
}
void BM_DecodeResampledFlac(benchmark::State& state) {
    Decode(state, Fixtures().resampled, false);
}
void BM_DecodeResampledFlac48k(benchmark::State& state) {
    Decode(state, Fixtures().resampled48k, false);
}
void BM_RenderModule(benchmark::State& state) {
    Decode(state, Fixtures().module, true);
}

BENCHMARK(BM_DecodeVorbis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeResampledFlac)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeResampledFlac48k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderModule)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
