#include "music/synth.h"

#include <algorithm>
#include <cmath>

namespace music {

PanGains Pan(double position) {
    const double angle = (std::clamp(position, -1.0, 1.0) + 1.0) * kPi / 4.0;
    return {std::cos(angle), std::sin(angle)};
}

void MixMono(Stereo& out, const std::vector<double>& mono, long at, double gain, double position) {
    const PanGains pan = Pan(position);
    const long frames = static_cast<long>(out.Frames());
    for (size_t i = 0; i < mono.size(); ++i) {
        const long frame = at + static_cast<long>(i);
        if (frame < 0) continue;
        if (frame >= frames) break;
        out.left[frame] += mono[i] * gain * pan.left;
        out.right[frame] += mono[i] * gain * pan.right;
    }
}

double Noise::Next() {
    return Uniform() * 2.0 - 1.0;
}

double Noise::Uniform() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_ / 4294967296.0;
}

double NoteToHz(double midiNote) {
    return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0);
}

double Cents(double cents) {
    return std::pow(2.0, cents / 1200.0);
}

// The correction that turns a hard step at phase 0 into a band-limited one: a two-sample
// polynomial around the jump.
static double PolyBlep(double phase, double increment) {
    if (phase < increment) {
        const double t = phase / increment;
        return t + t - t * t - 1.0;
    }
    if (phase > 1.0 - increment) {
        const double t = (phase - 1.0) / increment;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

void Oscillator::Step(double hz) {
    increment_ = std::clamp(hz / kSampleRate, 0.0, 0.5);
    phase_ += increment_;
    if (phase_ >= 1.0) phase_ -= 1.0;
}

double Oscillator::Sine() const {
    return std::sin(2.0 * kPi * phase_);
}

double Oscillator::Saw() const {
    return 2.0 * phase_ - 1.0 - PolyBlep(phase_, increment_);
}

double Oscillator::Square() const {
    const double naive = phase_ < 0.5 ? 1.0 : -1.0;
    const double falling = std::fmod(phase_ + 0.5, 1.0);
    return naive + PolyBlep(phase_, increment_) - PolyBlep(falling, increment_);
}

Filter::Output Filter::Step(double in, double cutoffHz, double resonance) {
    const double cutoff = std::clamp(cutoffHz, 10.0, 0.45 * kSampleRate);
    const double g = std::tan(kPi * cutoff / kSampleRate);
    const double k = 1.0 / std::max(resonance, 0.1);
    const double a1 = 1.0 / (1.0 + g * (g + k));
    const double a2 = g * a1;
    const double a3 = g * a2;
    const double v3 = in - s2_;
    const double v1 = a1 * s1_ + a2 * v3;
    const double v2 = s2_ + a2 * s1_ + a3 * v3;
    s1_ = 2.0 * v1 - s1_;
    s2_ = 2.0 * v2 - s2_;
    return {v2, v1, in - k * v1 - v2};
}

double Smoother::Step(double in, double cutoffHz) {
    const double a = 1.0 - std::exp(-2.0 * kPi * cutoffHz / kSampleRate);
    state_ += a * (in - state_);
    return state_;
}

double Envelope::At(double t, double held) const {
    if (t <= 0.0 || t >= held + release) return 0.0;
    const auto level = [this](double s) {
        if (s < attack) return s / attack;
        return sustain + (1.0 - sustain) * std::exp(-(s - attack) / decay);
    };
    if (t < held) return level(t);
    // A squared fall reaches zero with zero slope, so the tail never ends in a step.
    const double u = 1.0 - (t - held) / release;
    return level(held) * u * u;
}

double Saturate(double x, double drive) {
    return std::tanh(drive * x) / drive;
}

long FrameAt(double seconds) {
    return std::lrint(seconds * kSampleRate);
}

} // namespace music
