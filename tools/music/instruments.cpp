#include "music/instruments.h"

#include <algorithm>
#include <cmath>

namespace music {

static size_t FramesOf(double seconds) {
    return static_cast<size_t>(FrameAt(seconds));
}

static double TimeOf(size_t frame) {
    return static_cast<double>(frame) / kSampleRate;
}

// Exponential interpolation, so a filter sweep moves evenly through the octaves.
static double Sweep(double from, double to, double progress) {
    return from * std::pow(to / from, std::clamp(progress, 0.0, 1.0));
}

// Hits whose decay is written as a plain exponential still need a start and an end without a
// step: ramp in over `attack` and bend the last `fade` seconds down to zero.
static void ShapeEnds(Mono& samples, double attack, double fade) {
    const size_t in = std::min(samples.size(), std::max<size_t>(FramesOf(attack), 1));
    for (size_t i = 0; i < in; ++i)
        samples[i] *= static_cast<double>(i) / in;
    const size_t out = std::min(samples.size(), FramesOf(fade));
    for (size_t i = 0; i < out; ++i) {
        const double u = static_cast<double>(i + 1) / out;
        samples[samples.size() - 1 - i] *= u * u;
    }
}

Mono Kick(double velocity) {
    Mono out(FramesOf(0.45));
    Oscillator body;
    Filter click;
    Noise noise(0x4b1c);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        // The pitch drop from a punchy 170 Hz to the 48 Hz body is what makes it a kick.
        body.Step(48.0 + 122.0 * std::exp(-t / 0.03));
        const double tone = body.Sine() * std::exp(-t / 0.2);
        const double tick = click.Step(noise.Next(), 3000.0, 0.7).low * std::exp(-t / 0.004);
        out[i] = Saturate(tone + 0.3 * tick, 1.4) * velocity;
    }
    ShapeEnds(out, 0.0008, 0.08);
    return out;
}

Mono Clap(double velocity, Noise& noise) {
    Mono out(FramesOf(0.5));
    Filter band;
    Filter sizzle;
    Oscillator body;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        // Three quick bursts then a tail: several hands that do not quite meet.
        double burst = 0.0;
        for (double start : {0.0, 0.011, 0.022}) {
            const double s = t - start;
            if (s >= 0.0) burst += std::min(s / 0.0008, 1.0) * std::exp(-s / 0.006);
        }
        if (t > 0.03) burst += 0.8 * std::exp(-(t - 0.03) / 0.11);
        const double n = noise.Next();
        const double clap = band.Step(n, 1400.0, 1.2).band * burst;
        const double snare = sizzle.Step(n, 4500.0, 0.6).high * std::exp(-t / 0.08);
        body.Step(185.0);
        const double tone = body.Sine() * std::exp(-t / 0.045);
        out[i] = (1.6 * clap + 0.35 * snare + 0.45 * tone) * velocity;
    }
    ShapeEnds(out, 0.0008, 0.08);
    return out;
}

Mono Hat(double velocity, bool open, Noise& noise) {
    const double decay = open ? 0.16 : 0.022;
    Mono out(FramesOf(open ? 0.6 : 0.12));
    Filter high;
    Filter shine;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        const double h = high.Step(noise.Next(), 7500.0, 0.7).high;
        const double s = shine.Step(h, 10500.0, 1.5).band;
        out[i] = (0.6 * h + 0.6 * s) * std::exp(-t / decay) * velocity;
    }
    ShapeEnds(out, 0.0005, open ? 0.15 : 0.04);
    return out;
}

Mono Crash(double velocity, Noise& noise) {
    Mono out(FramesOf(2.6));
    Filter high;
    Filter body;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        const double n = noise.Next();
        const double h = high.Step(n, 5000.0, 0.7).high;
        const double b = body.Step(n, 3200.0, 2.0).band;
        out[i] = (0.7 * h + 0.3 * b) * std::exp(-t / 0.75) * velocity;
    }
    ShapeEnds(out, 0.001, 0.6);
    return out;
}

Mono Bass(int note, double held, double velocity) {
    const Envelope env{0.004, 0.25, 0.75, 0.04};
    Mono out(FramesOf(env.Length(held)));
    const double hz = NoteToHz(note);
    Oscillator sub;
    Oscillator edge(0.25);
    Filter tone;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        sub.Step(hz);
        edge.Step(hz);
        // A short filter blip on each note lets the line be heard on small speakers too.
        const double cutoff = 160.0 + 1100.0 * velocity * std::exp(-t / 0.07);
        const double growl = tone.Step(edge.Saw(), cutoff, 0.9).low;
        out[i] = Saturate(0.75 * sub.Sine() + 0.55 * growl, 1.2) * env.At(t, held) * velocity;
    }
    return out;
}

Mono Pluck(int note, double velocity, double brightness) {
    const Envelope env{0.002, 0.16, 0.0, 0.06};
    const double held = 0.35;
    Mono out(FramesOf(env.Length(held)));
    const double hz = NoteToHz(note);
    Oscillator a;
    Oscillator b(0.37);
    Filter tone;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        a.Step(hz);
        b.Step(hz * Cents(8.0));
        const double cutoff = 300.0 + (600.0 + 4600.0 * brightness) * std::exp(-t / 0.09);
        const double s = tone.Step(0.5 * (a.Saw() + b.Square()), cutoff, 1.1).low;
        out[i] = s * env.At(t, held) * velocity;
    }
    return out;
}

Mono Lead(int note, double held, double velocity) {
    const Envelope env{0.012, 0.35, 0.7, 0.18};
    Mono out(FramesOf(env.Length(held)));
    const double hz = NoteToHz(note);
    Oscillator a;
    Oscillator b(0.5);
    Oscillator low(0.1);
    Oscillator vibrato;
    Filter tone;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        // Vibrato only on long notes: it fades in after the note has settled.
        vibrato.Step(5.3);
        const double depth = 14.0 * std::clamp((t - 0.25) / 0.35, 0.0, 1.0);
        const double pitch = hz * Cents(depth * vibrato.Sine());
        a.Step(pitch * Cents(-6.0));
        b.Step(pitch * Cents(6.0));
        low.Step(pitch * 0.5);
        const double mix = 0.45 * a.Saw() + 0.45 * b.Saw() + 0.25 * low.Square();
        const double cutoff = 1700.0 + 2600.0 * std::exp(-t / 0.25);
        out[i] = tone.Step(mix, cutoff, 0.8).low * env.At(t, held) * velocity;
    }
    return out;
}

Mono Bell(int note, double held, double velocity) {
    const Envelope env{0.003, 1.1, 0.0, 0.9};
    Mono out(FramesOf(env.Length(held)));
    const double hz = NoteToHz(note);
    Oscillator carrier;
    Oscillator modulator;
    Oscillator octave;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = TimeOf(i);
        carrier.Step(hz);
        modulator.Step(hz * 3.5);
        octave.Step(hz * 2.0);
        // Frequency modulation at an inharmonic ratio, fading fast, gives the struck shimmer;
        // the index stays small enough that no sideband reaches the top of the band.
        const double index = 1.6 * std::exp(-t / 0.45);
        const double struck = std::sin(2.0 * kPi * carrier.Phase() + index * modulator.Sine());
        const double ring = 0.8 * struck + 0.2 * octave.Sine() * std::exp(-t / 0.4);
        out[i] = ring * env.At(t, held) * velocity;
    }
    return out;
}

Stereo Pad(const std::vector<int>& notes, double held, double cutoffFrom, double cutoffTo) {
    const Envelope env{0.5, 1.5, 0.8, 1.1};
    Stereo out(FramesOf(env.Length(held)));
    const double gain = 0.6 / static_cast<double>(notes.size());
    for (size_t v = 0; v < notes.size(); ++v) {
        const double hz = NoteToHz(notes[v]);
        // Start the three saws at different phases so the chord swells instead of clicking in.
        Oscillator left(0.13 * static_cast<double>(v + 1));
        Oscillator centre(0.41 + 0.07 * static_cast<double>(v));
        Oscillator right(0.77 - 0.05 * static_cast<double>(v));
        Filter toneLeft;
        Filter toneRight;
        for (size_t i = 0; i < out.Frames(); ++i) {
            const double t = TimeOf(i);
            left.Step(hz * Cents(-9.0));
            centre.Step(hz);
            right.Step(hz * Cents(9.0));
            const double cutoff = Sweep(cutoffFrom, cutoffTo, t / held);
            const double level = env.At(t, held) * gain;
            const double c = 0.6 * centre.Saw();
            out.left[i] += toneLeft.Step(left.Saw() + c, cutoff, 0.7).low * level;
            out.right[i] += toneRight.Step(right.Saw() + c, cutoff, 0.7).low * level;
        }
    }
    return out;
}

Stereo Riser(double seconds, Noise& noise) {
    Stereo out(FramesOf(seconds));
    Filter left;
    Filter right;
    for (size_t i = 0; i < out.Frames(); ++i) {
        const double progress = TimeOf(i) / seconds;
        const double cutoff = Sweep(250.0, 7000.0, progress);
        const double swirl = 0.5 * std::sin(2.0 * kPi * 1.5 * TimeOf(i));
        const double level = progress * progress;
        out.left[i] = left.Step(noise.Next(), cutoff, 1.5).band * level * (1.0 - swirl);
        out.right[i] = right.Step(noise.Next(), cutoff, 1.5).band * level * (1.0 + swirl);
    }
    const size_t fade = std::min(out.Frames(), FramesOf(0.03));
    for (size_t i = 0; i < fade; ++i) {
        const double u = static_cast<double>(i + 1) / fade;
        out.left[out.Frames() - 1 - i] *= u * u;
        out.right[out.Frames() - 1 - i] *= u * u;
    }
    return out;
}

} // namespace music
