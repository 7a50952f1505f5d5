// Makes the default sound, Resource/audio.ogg, and checks sounds the way the program hears them.
//
// Remake the committed file (the same code always renders the same music):
//     cmake --build build --target make_audio && build/tools/make_audio Resource/audio.ogg
// which also prints the check of the file it wrote. Check any sound:
//     build/tools/make_audio --check some/file.ogg
//
// The check decodes the file, cuts it into 20 ms windows, takes each channel's peak as the
// audio library reports it and computes the scene's energy from it, then prints the duration,
// the peaks, a histogram of the energy and its range bar by bar. It exits 1 when the sound is not
// what the default sound must be: 44.1 kHz stereo, 60 to 90 s, energy from 10 to 36, both sides
// at 97% of full scale several times yet never beyond full scale, and a quiet passage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "music/level_check.h"
#include "music/limiter.h"
#include "music/song.h"
#include "music/sound_file.h"

namespace {

constexpr double kQuality = 0.5;
constexpr const char* kTitle = "Field Lines";
// Decoded peaks beyond full scale are turned down to this; the encoder's noise differs a little
// from pass to pass, so aim below full scale.
constexpr double kDecodedTarget = 0.99;
constexpr int kMaxPasses = 10;
constexpr double kWindowSeconds = 0.02;
constexpr size_t kLoudWindowsNeeded = 5;
constexpr double kQuietSecondsNeeded = 4.0;

void PrintHistogram(const music::LevelSummary& s, size_t windows) {
    std::printf("energy histogram (20 ms windows):\n");
    const size_t most = *std::max_element(s.histogram.begin(), s.histogram.end());
    for (int e = music::kMinEnergy; e <= music::kMaxEnergy; ++e) {
        const size_t n = s.histogram[static_cast<size_t>(e)];
        const int bar = most ? static_cast<int>(std::lrint(50.0 * n / most)) : 0;
        std::printf("  %2d %5zu %5.1f%% %s\n", e, n, 100.0 * n / windows,
                    std::string(bar, '#').c_str());
    }
}

// One line per two seconds (a bar of the piece): the energy's range and the channels' peaks.
void PrintTimeline(const std::vector<music::Window>& windows) {
    std::printf("by 2 s: energy min-max, left and right peaks\n");
    const size_t per = static_cast<size_t>(std::lrint(2.0 / kWindowSeconds));
    for (size_t start = 0; start < windows.size(); start += per) {
        const size_t end = std::min(windows.size(), start + per);
        int low = music::kMaxEnergy, high = 0;
        double left = 0.0, right = 0.0;
        for (size_t i = start; i < end; ++i) {
            low = std::min(low, windows[i].energy);
            high = std::max(high, windows[i].energy);
            left = std::max(left, windows[i].left);
            right = std::max(right, windows[i].right);
        }
        std::printf("  %5.1f s  %2d-%2d  L %.3f  R %.3f\n", start * kWindowSeconds, low, high, left,
                    right);
    }
}

// Every reason the sound falls short, one per line; none when it is fit to ship.
std::vector<std::string> Shortcomings(const music::Sound& sound, const music::LevelSummary& s) {
    std::vector<std::string> faults;
    if (sound.rate != 44100 || sound.channels != 2) faults.push_back("not 44.1 kHz stereo");
    if (sound.Seconds() < 60.0 || sound.Seconds() > 90.0) faults.push_back("not 60 to 90 s long");
    if (s.minEnergy != music::kMinEnergy || s.maxEnergy != music::kMaxEnergy)
        faults.push_back("energy does not span 10 to 36");
    if (s.loudLeft < kLoudWindowsNeeded || s.loudRight < kLoudWindowsNeeded)
        faults.push_back("a side seldom reaches 97% of full scale");
    if (s.longestQuiet < kQuietSecondsNeeded) faults.push_back("no quiet passage");
    if (s.overFull > 0) faults.push_back("samples beyond full scale: a player would clip them");
    return faults;
}

int Check(const std::string& path) {
    music::Sound sound;
    const std::string error = music::ReadSound(path, sound);
    if (!error.empty()) {
        std::fprintf(stderr, "make_audio: %s\n", error.c_str());
        return 1;
    }
    const auto windows = music::MeasureWindows(sound.samples, sound.channels, sound.rate);
    const music::LevelSummary s = music::Summarise(windows, kWindowSeconds);
    std::printf("%s: %d Hz, %d channels, %.2f s (%zu frames)\n", path.c_str(), sound.rate,
                sound.channels, sound.Seconds(), sound.Frames());
    std::printf("max |sample|: left %.4f (level %d), right %.4f (level %d)\n", s.maxLeft,
                music::LevelOf(s.maxLeft), s.maxRight, music::LevelOf(s.maxRight));
    std::printf("windows: %zu; left >= %.2f: %zu; right >= %.2f: %zu; beyond full scale: %zu\n",
                windows.size(), music::kLoudPeak, s.loudLeft, music::kLoudPeak, s.loudRight,
                s.overFull);
    std::printf("energy %d to %d; longest quiet passage (energy <= %d): %.2f s\n", s.minEnergy,
                s.maxEnergy, music::kQuietEnergy, s.longestQuiet);
    PrintHistogram(s, windows.size());
    PrintTimeline(windows);
    const auto faults = Shortcomings(sound, s);
    for (const std::string& f : faults)
        std::printf("FAULT: %s\n", f.c_str());
    std::printf("%s\n", faults.empty() ? "ok" : "not fit for the default sound");
    return faults.empty() ? 0 : 1;
}

// Vorbis moves peaks by a few percent, so a limited master can decode beyond full scale, where
// a player would clip it. Encode, decode, turn the master down a little around each peak that
// came back too high, and encode again, until every decoded sample is within full scale.
std::string EncodeWithinFullScale(const std::string& path, music::Stereo song) {
    for (int pass = 1;; ++pass) {
        std::string error = music::WriteOggVorbis(path, music::ToSound(song), kQuality, kTitle);
        music::Sound decoded;
        if (error.empty()) error = music::ReadSound(path, decoded);
        if (!error.empty()) return error;
        const auto [lowest, highest] =
            std::minmax_element(decoded.samples.begin(), decoded.samples.end());
        const double loudest = std::max(-*lowest, *highest);
        std::printf("pass %d: loudest decoded peak %.4f\n", pass, loudest);
        if (loudest <= 1.0 || pass == kMaxPasses) return "";
        const auto needed = music::NeededGain(music::ToStereo(decoded), kDecodedTarget);
        music::ApplyGain(song, needed, 0.003, 0.05);
    }
}

int Make(const std::string& path) {
    const std::string error = EncodeWithinFullScale(path, music::RenderSong());
    if (!error.empty()) {
        std::fprintf(stderr, "make_audio: %s\n", error.c_str());
        return 1;
    }
    return Check(path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return Check(argv[2]);
    if (argc == 2 && argv[1][0] != '-') return Make(argv[1]);
    std::fprintf(stderr, "usage: make_audio OUT.ogg | make_audio --check FILE\n");
    return 2;
}
