// Building blocks of the default sound's synthesiser: noise, band-limited oscillators, filters,
// envelopes and a stereo buffer to mix into. Everything is deterministic (fixed seeds, no clock),
// so the same code always renders the same samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace music {

inline constexpr int kSampleRate = 44100;
inline constexpr double kPi = 3.14159265358979323846;

// A stereo signal held in double precision until the very end.
struct Stereo {
    std::vector<double> left;
    std::vector<double> right;

    explicit Stereo(size_t frames = 0) : left(frames, 0.0), right(frames, 0.0) {}
    size_t Frames() const { return left.size(); }
};

// Equal-power gains for a position from -1 (left) to 1 (right).
struct PanGains {
    double left;
    double right;
};
PanGains Pan(double position);

// Adds a mono signal, starting at frame `at`, into `out` at the given gain and position; samples
// that would fall past the end are dropped.
void MixMono(Stereo& out, const std::vector<double>& mono, long at, double gain, double position);

// White noise in [-1, 1) from a 32-bit xorshift generator; one seed, one sequence.
class Noise {
  public:
    explicit Noise(uint32_t seed) : state_(seed ? seed : 0x9e3779b9u) {}
    double Next();
    // A value in [0, 1).
    double Uniform();

  private:
    uint32_t state_;
};

double NoteToHz(double midiNote);
// Frequency ratio of a detune in cents.
double Cents(double cents);

// A phase accumulator whose saw and square outputs are smoothed at each discontinuity (polyBLEP),
// so notes up to the top of the melody stay free of audible aliasing.
class Oscillator {
  public:
    explicit Oscillator(double phase = 0.0) : phase_(phase) {}
    // Advances one sample at `hz` and returns the new values.
    void Step(double hz);
    // Position in the cycle, 0 to 1.
    double Phase() const { return phase_; }
    double Sine() const;
    double Saw() const;
    double Square() const;

  private:
    double phase_;
    double increment_ = 0.0;
};

// Zero-delay-feedback state-variable filter: one sample in, low, band and high pass out. Stable
// for any cutoff below Nyquist, so the cutoff can sweep every sample.
class Filter {
  public:
    struct Output {
        double low;
        double band;
        double high;
    };
    // resonance: 0.5 is gentle, 2 and above ring.
    Output Step(double in, double cutoffHz, double resonance);

  private:
    double s1_ = 0.0;
    double s2_ = 0.0;
};

// One-pole low pass, for damping echoes and smoothing.
class Smoother {
  public:
    double Step(double in, double cutoffHz);

  private:
    double state_ = 0.0;
};

// Attack, decay, sustain, release. Every note goes through one, so each starts and ends at zero.
struct Envelope {
    double attack;  // seconds to reach 1 (linear)
    double decay;   // time constant of the fall towards sustain
    double sustain; // level held while the note is down
    double release; // seconds from key-up to silence

    // Level `t` seconds after key-down for a note held `held` seconds. Zero before 0 and from
    // held + release on; continuous everywhere.
    double At(double t, double held) const;
    double Length(double held) const { return held + release; }
};

// Gentle saturation that keeps small signals linear and rounds off large ones.
double Saturate(double x, double drive);

long FrameAt(double seconds);

} // namespace music
