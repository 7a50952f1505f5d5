// The default sound as the program will hear it, and the generator's parts that shape it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "music/instruments.h"
#include "music/level_check.h"
#include "music/limiter.h"
#include "music/mixing.h"
#include "music/song.h"
#include "music/sound_file.h"
#include "music/synth.h"

namespace {

using music::Stereo;

const std::string kDefaultSound = std::string(VORMEL_SOURCE_DIR) + "/Resource/audio.ogg";

// The committed file, decoded once for all the tests that look at it.
const music::Sound& DefaultSound() {
    static const music::Sound sound = [] {
        music::Sound s;
        const std::string error = music::ReadSound(kDefaultSound, s);
        EXPECT_EQ(error, "");
        return s;
    }();
    return sound;
}

std::vector<music::Window> DefaultWindows() {
    const music::Sound& s = DefaultSound();
    return music::MeasureWindows(s.samples, s.channels, s.rate);
}

// A sine on the left and the same, half as loud, on the right.
Stereo Sine(double amplitude, double seconds, double hz = 220.0) {
    Stereo s(static_cast<size_t>(music::FrameAt(seconds)));
    for (size_t i = 0; i < s.Frames(); ++i) {
        s.left[i] = amplitude * std::sin(2.0 * music::kPi * hz * i / music::kSampleRate);
        s.right[i] = 0.5 * s.left[i];
    }
    return s;
}

double Peak(const std::vector<double>& channel, size_t from = 0, size_t to = SIZE_MAX) {
    double peak = 0.0;
    for (size_t i = from; i < std::min(to, channel.size()); ++i)
        peak = std::max(peak, std::fabs(channel[i]));
    return peak;
}

// Magnitude of one frequency in a signal (a single-bin DFT over whole cycles of it).
double Magnitude(const std::vector<double>& x, double hz) {
    double re = 0.0;
    double im = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double phase = 2.0 * music::kPi * hz * i / music::kSampleRate;
        re += x[i] * std::cos(phase);
        im += x[i] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / x.size();
}

// --- The committed file ---------------------------------------------------------------------

TEST(DefaultSound, DecodesAsModestStereoOfAMinuteOrMore) {
    const music::Sound& s = DefaultSound();
    EXPECT_EQ(s.rate, 44100);
    EXPECT_EQ(s.channels, 2);
    EXPECT_GE(s.Seconds(), 60.0);
    EXPECT_LE(s.Seconds(), 90.0);
    EXPECT_LT(std::filesystem::file_size(kDefaultSound), 3u << 20);
}

// What the scene gets from the sound: every energy from rest to the top, both sides at full
// scale several times but never beyond it, and a passage quiet enough to let the field rest.
TEST(DefaultSound, DrivesTheWholeEnergyRange) {
    const music::LevelSummary s = music::Summarise(DefaultWindows(), 0.02);
    EXPECT_EQ(s.minEnergy, 10);
    EXPECT_EQ(s.maxEnergy, 36);
    EXPECT_GE(s.loudLeft, 5u);
    EXPECT_GE(s.loudRight, 5u);
    EXPECT_EQ(s.overFull, 0u);
    EXPECT_GE(s.longestQuiet, 4.0);
    for (int e = 10; e <= 36; ++e)
        EXPECT_GT(s.histogram[static_cast<size_t>(e)], 0u) << "energy " << e << " never occurs";
}

// The two channels are placed differently: each side is clearly the louder one somewhere.
TEST(DefaultSound, ChannelsDiffer) {
    size_t leftLouder = 0;
    size_t rightLouder = 0;
    for (const music::Window& w : DefaultWindows()) {
        leftLouder += w.left > 1.15 * w.right;
        rightLouder += w.right > 1.15 * w.left;
    }
    EXPECT_GE(leftLouder, 50u);
    EXPECT_GE(rightLouder, 50u);
}

// The program replays the file the moment it ends, so both ends must be silent.
TEST(DefaultSound, StartsAndEndsInSilence) {
    const auto windows = DefaultWindows();
    for (const music::Window* w : {&windows.front(), &windows.back()}) {
        EXPECT_LT(w->left, 0.005);
        EXPECT_LT(w->right, 0.005);
    }
}

// A committed file left behind by a change to the generator: compare what the generator renders
// now with what the file holds, window by window (encoding moves an energy by one at most).
TEST(DefaultSound, IsWhatTheGeneratorMakes) {
    const auto made = music::ToSound(music::RenderSong());
    const auto fresh = music::MeasureWindows(made.samples, 2, made.rate);
    const auto committed = DefaultWindows();
    ASSERT_EQ(fresh.size(), committed.size());
    size_t apart = 0;
    for (size_t i = 0; i < fresh.size(); ++i)
        apart += std::abs(fresh[i].energy - committed[i].energy) > 1;
    EXPECT_LT(apart, fresh.size() / 100);
}

// --- The level the program reads -------------------------------------------------------------

TEST(LevelCheck, EnergyMatchesTheProgramsTable) {
    struct Case {
        int left, right, energy;
    };
    const Case cases[] = {
        {0, 0, 10},         // silence
        {32768, 32768, 36}, // full scale: left step 37, right 33
        {0, 32768, 34},     // the right alone tops out lower
        {32768, 0, 36},     //
        {448, 0, 10},       // scaled 350: 0.5 rounds to the even 0
        {1344, 0, 11},      // scaled 1050: 1.5 rounds to 2
        {0, 491, 10},       // scaled 383 on the right: below half a step
        {5824, 0, 14},      // scaled 4550: 6.5 rounds to 6, the top of the quiet band
        {5826, 0, 15},      // scaled 4551: step 7
        {31807, 0, 35},     // scaled 24849: step 35
        {31808, 0, 36},     // scaled 24850: 35.5 rounds to 36
    };
    for (const Case& c : cases)
        EXPECT_EQ(music::EnergyOf(c.left, c.right), c.energy) << c.left << ", " << c.right;
}

TEST(LevelCheck, LevelIsThePeakScaledToFullScale) {
    EXPECT_EQ(music::LevelOf(0.0), 0);
    EXPECT_EQ(music::LevelOf(0.5), 16384);
    EXPECT_EQ(music::LevelOf(-0.5), 16384);
    EXPECT_EQ(music::LevelOf(1.0), 32768);
    EXPECT_EQ(music::LevelOf(1.2), 32768); // a decoder's overshoot reads as full scale
}

TEST(LevelCheck, WindowsAreTwentyMillisecondsPerChannel) {
    // Three and a half windows of stereo silence with one peak on each side.
    std::vector<float> samples(2 * (882 * 3 + 441), 0.0f);
    samples[2 * 881] = 0.5f;          // left, last frame of window 0
    samples[2 * 882 + 1] = -1.0f;     // right, first frame of window 1
    samples[2 * (882 * 3 + 440)] = 1; // left, last frame of the short final window
    const auto w = music::MeasureWindows(samples, 2, 44100);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_DOUBLE_EQ(w[0].left, 0.5);
    EXPECT_DOUBLE_EQ(w[0].right, 0.0);
    EXPECT_DOUBLE_EQ(w[1].left, 0.0);
    EXPECT_DOUBLE_EQ(w[1].right, 1.0);
    EXPECT_EQ(w[1].energy, 34);
    EXPECT_EQ(w[2].energy, 10);
    EXPECT_EQ(w[3].energy, 36);

    const std::vector<float> mono(882, 0.25f);
    const auto m = music::MeasureWindows(mono, 1, 44100);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_DOUBLE_EQ(m[0].right, 0.25); // a mono sound reads the same on both sides
}

TEST(LevelCheck, QuietPassageNeedsSomethingHeard) {
    const auto windows = [](std::vector<int> energies) {
        std::vector<music::Window> w;
        for (int e : energies)
            w.push_back({0.0, 0.0, e});
        return w;
    };
    // Silence alone is no quiet passage.
    EXPECT_DOUBLE_EQ(music::Summarise(windows({10, 10, 10, 20}), 1.0).longestQuiet, 0.0);
    // A loud window ends a run; the longer run counts.
    EXPECT_DOUBLE_EQ(music::Summarise(windows({12, 20, 10, 13, 14, 11, 30}), 1.0).longestQuiet,
                     4.0);
}

// --- The master limiter ------------------------------------------------------------------------

TEST(Limiter, HoldsTheCeilingAndLeavesQuietSignalsAlone) {
    const double ceiling = 0.9;
    for (double amplitude : {0.5, 0.9, 1.5, 8.0}) {
        Stereo s = Sine(amplitude, 0.5);
        const Stereo before = s;
        music::Limit(s, ceiling, 0.0025, 0.09);
        EXPECT_LE(Peak(s.left), ceiling) << amplitude;
        // A limiter that overshoots its job is as wrong as one that lets peaks through.
        EXPECT_GE(Peak(s.left), std::min(amplitude, ceiling) * 0.97) << amplitude;
        // The stereo image holds: both channels get the same gain.
        for (size_t i = 0; i < s.Frames(); i += 97)
            EXPECT_NEAR(s.right[i], 0.5 * s.left[i], 1e-12);
        if (amplitude <= ceiling) {
            for (size_t i = 0; i < s.Frames(); ++i)
                ASSERT_NEAR(s.left[i], before.left[i], 1e-9) << amplitude;
        }
    }
}

// A single loud hit in a quiet passage is turned down smoothly, not clipped: the gain changes
// little from one sample to the next, and the passage well before the hit is untouched.
TEST(Limiter, TurnsAHitDownSmoothly) {
    Stereo s = Sine(0.3, 1.0);
    const size_t hit = s.Frames() / 2;
    for (size_t i = hit; i < hit + 400; ++i)
        s.left[i] *= 6.0;
    const Stereo before = s;
    music::Limit(s, 0.9, 0.0025, 0.09);
    EXPECT_LE(Peak(s.left), 0.9);
    // The gain, read where the signal is far from zero, changes by less than a percent a sample;
    // a clipper's would change several times faster over each peak.
    double steepest = 0.0;
    double previous = 1.0;
    size_t previousAt = 0;
    for (size_t i = 0; i < s.Frames(); ++i) {
        if (std::fabs(before.left[i]) < 0.05) continue;
        const double gain = s.left[i] / before.left[i];
        steepest =
            std::max(steepest, std::fabs(gain - previous) / static_cast<double>(i - previousAt));
        previous = gain;
        previousAt = i;
    }
    EXPECT_LT(steepest, 0.01);
    const size_t early = hit - static_cast<size_t>(music::FrameAt(0.01));
    for (size_t i = 0; i < early; ++i)
        ASSERT_NEAR(s.left[i], before.left[i], 1e-9);
}

// --- Voices: no clicks, no silence, no blow-ups ----------------------------------------------

TEST(Voices, StartAndEndAtRest) {
    music::Noise noise(7);
    const std::pair<const char*, std::function<music::Mono()>> voices[] = {
        {"kick", [] { return music::Kick(1.0); }},
        {"clap", [&] { return music::Clap(1.0, noise); }},
        {"closed hat", [&] { return music::Hat(1.0, false, noise); }},
        {"open hat", [&] { return music::Hat(1.0, true, noise); }},
        {"crash", [&] { return music::Crash(1.0, noise); }},
        {"low bass", [] { return music::Bass(28, 0.4, 1.0); }},
        {"pluck", [] { return music::Pluck(81, 1.0, 1.0); }},
        {"short lead", [] { return music::Lead(96, 0.05, 1.0); }},
        {"long lead", [] { return music::Lead(69, 1.5, 1.0); }},
        {"bell", [] { return music::Bell(84, 1.0, 1.0); }},
        {"pad",
         [] {
             return music::Pad({57, 60, 64, 45}, 2.0, 400.0, 4000.0).right;
         }},
        {"riser", [&] { return music::Riser(1.0, noise).left; }},
    };
    for (const auto& [name, make] : voices) {
        const music::Mono v = make();
        ASSERT_GT(v.size(), 100u) << name;
        EXPECT_LT(std::fabs(v.front()), 1e-3) << name;
        EXPECT_LT(std::fabs(v.back()), 1e-3) << name;
        const double peak = Peak(v);
        EXPECT_GT(peak, 0.05) << name;
        EXPECT_LT(peak, 2.0) << name;
        EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); }))
            << name;
    }
}

TEST(Envelope, IsZeroAtBothEndsAndNeverJumps) {
    const music::Envelope envelopes[] = {
        {0.01, 0.2, 0.5, 0.1},   // ordinary
        {0.5, 1.5, 0.8, 1.1},    // released before its attack ends (held 0.3 below)
        {0.002, 0.16, 0.0, 0.06} // decays to nothing while held
    };
    for (const music::Envelope& e : envelopes) {
        for (double held : {0.3, 1.0}) {
            EXPECT_EQ(e.At(0.0, held), 0.0);
            EXPECT_EQ(e.At(e.Length(held), held), 0.0);
            const double dt = 1.0 / music::kSampleRate;
            const double steepestRise = dt / e.attack;
            double last = 0.0;
            for (double t = dt; t < e.Length(held) + 0.01; t += dt) {
                const double level = e.At(t, held);
                ASSERT_LE(std::fabs(level - last), steepestRise + 1e-9) << t;
                ASSERT_LE(level, 1.0);
                last = level;
            }
        }
    }
}

// --- Oscillators -----------------------------------------------------------------------------

// A 2950 Hz saw's 15th harmonic folds back to 150 Hz. A naive saw puts about 0.04 there; the
// band-limited one must keep it far below while its fundamental stays at the saw's 2/pi.
TEST(Oscillator, SawFoldsBackLittle) {
    music::Oscillator osc;
    std::vector<double> saw(music::kSampleRate);
    for (double& s : saw) {
        osc.Step(2950.0);
        s = osc.Saw();
    }
    EXPECT_NEAR(Magnitude(saw, 2950.0), 2.0 / music::kPi, 0.02);
    EXPECT_LT(Magnitude(saw, 150.0), 0.004);
}

// --- Mixing ----------------------------------------------------------------------------------

TEST(Pan, KeepsThePowerAndReachesBothSides) {
    struct Case {
        double position, left, right;
    };
    const Case cases[] = {{-1.0, 1.0, 0.0},
                          {0.0, std::sqrt(0.5), std::sqrt(0.5)},
                          {1.0, 0.0, 1.0},
                          {-3.0, 1.0, 0.0}}; // beyond the edge stays at the edge
    for (const Case& c : cases) {
        const music::PanGains g = music::Pan(c.position);
        EXPECT_NEAR(g.left, c.left, 1e-12) << c.position;
        EXPECT_NEAR(g.right, c.right, 1e-12) << c.position;
    }
    const music::PanGains g = music::Pan(0.3);
    EXPECT_NEAR(g.left * g.left + g.right * g.right, 1.0, 1e-12);
}

TEST(Mix, DropsWhatFallsOutsideTheBuffer) {
    Stereo out(10);
    const music::Mono voice(6, 1.0);
    music::MixMono(out, voice, -3, 1.0, -1.0); // starts before the buffer
    music::MixMono(out, voice, 7, 1.0, 1.0);   // runs past its end
    EXPECT_DOUBLE_EQ(out.left[2], 1.0);
    EXPECT_DOUBLE_EQ(out.left[3], 0.0);
    EXPECT_NEAR(out.right[9], 1.0, 1e-12);
    EXPECT_NEAR(out.right[6], 0.0, 1e-12);
}

// An impulse comes back first on the left after one delay, then on the right, then left again,
// each time quieter.
TEST(Echo, BouncesBetweenTheSides) {
    const double delay = 0.1;
    const size_t lag = static_cast<size_t>(music::FrameAt(delay));
    Stereo send(4 * lag);
    send.left[0] = send.right[0] = 1.0;
    const Stereo wet = music::Echo(send, delay, 0.5, 15000.0);
    const auto energy = [&](const std::vector<double>& channel, size_t repeat) {
        double sum = 0.0;
        for (size_t i = repeat * lag - 5; i < repeat * lag + 50; ++i)
            sum += std::fabs(channel[i]);
        return sum;
    };
    EXPECT_NEAR(energy(wet.left, 1), 1.0, 1e-9);
    EXPECT_EQ(energy(wet.right, 1), 0.0);
    EXPECT_NEAR(energy(wet.right, 2), 0.5, 0.02);
    EXPECT_EQ(energy(wet.left, 2), 0.0);
    EXPECT_NEAR(energy(wet.left, 3), 0.25, 0.02);
    EXPECT_EQ(Peak(wet.left, 0, lag - 5), 0.0); // nothing comes back early
}

TEST(Filter, PassesAndStopsTheRightBands) {
    enum Out { Low, Band, High };
    struct Case {
        Out out;
        double hz;
        double expected;
        double tolerance;
    };
    // Cutoff 1 kHz, resonance 0.7: the band output's gain at the cutoff is the resonance.
    const Case cases[] = {{Low, 100.0, 1.0, 0.03},   {Low, 8000.0, 0.0, 0.03},
                          {High, 100.0, 0.0, 0.03},  {High, 8000.0, 1.0, 0.03},
                          {Band, 1000.0, 0.7, 0.03}, {Band, 100.0, 0.0, 0.1}};
    for (const Case& c : cases) {
        music::Filter filter;
        std::vector<double> out(music::kSampleRate);
        for (size_t i = 0; i < out.size(); ++i) {
            const double in = std::sin(2.0 * music::kPi * c.hz * i / music::kSampleRate);
            const music::Filter::Output o = filter.Step(in, 1000.0, 0.7);
            out[i] = c.out == Low ? o.low : c.out == Band ? o.band : o.high;
        }
        EXPECT_NEAR(Magnitude(out, c.hz), c.expected, c.tolerance) << c.out << " at " << c.hz;
    }
}

// --- Sound files -------------------------------------------------------------------------------

TEST(SoundFile, RoundTripsThroughVorbis) {
    const std::string path = ::testing::TempDir() + "vormel_round_trip.ogg";
    Stereo tone = Sine(0.5, 1.0, 440.0);
    std::fill(tone.right.begin(), tone.right.end(), 0.0);
    ASSERT_EQ(music::WriteOggVorbis(path, music::ToSound(tone), 0.5, "test"), "");
    music::Sound back;
    ASSERT_EQ(music::ReadSound(path, back), "");
    std::filesystem::remove(path);
    EXPECT_EQ(back.rate, 44100);
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.Frames(), tone.Frames());
    const Stereo heard = music::ToStereo(back);
    EXPECT_NEAR(Peak(heard.left), 0.5, 0.02);
    EXPECT_LT(Peak(heard.right), 0.01);
}

TEST(SoundFile, FailuresAreReported) {
    music::Sound sound;
    EXPECT_NE(music::ReadSound("/nonexistent/audio.ogg", sound), "");
    EXPECT_NE(music::WriteOggVorbis("/nonexistent/audio.ogg", music::ToSound(Sine(0.5, 0.1)), 0.5,
                                    "test"),
              "");
}

} // namespace
