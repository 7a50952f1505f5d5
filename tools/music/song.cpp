#include "music/song.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "music/instruments.h"
#include "music/limiter.h"
#include "music/mixing.h"

namespace music {
namespace {

constexpr double kBeat = 0.5; // 120 beats a minute
constexpr double kBar = 4.0 * kBeat;
constexpr double kStep = kBeat / 4.0; // a sixteenth

// The form, in bars.
constexpr int kBuild = 4;
constexpr int kFullA = 8;
constexpr int kBreakdown = 16;
constexpr int kRiser = 22;
constexpr int kFullB = 24;
constexpr int kOutro = 32;
constexpr int kFinal = 34;

// How hard the loudest hits of the full sections drive the limiter (about 2.6 dB).
constexpr double kDrive = 1.35;

double At(int bar, double beat) {
    return bar * kBar + beat * kBeat;
}
double AtStep(int bar, double step) {
    return bar * kBar + step * kStep;
}

// A chord: the bass's root and the pad's close voicing around middle C.
struct Chord {
    int root;
    std::array<int, 3> voicing;
};

constexpr Chord kAm{33, {57, 60, 64}};
constexpr Chord kF{29, {57, 60, 65}};
constexpr Chord kC{36, {55, 60, 64}};
constexpr Chord kG{31, {55, 59, 62}};
constexpr Chord kDm{38, {57, 62, 65}};
constexpr Chord kE{40, {56, 59, 64}};

const Chord& ChordOf(int bar) {
    static const std::array<const Chord*, 4> loop{&kAm, &kF, &kC, &kG};
    static const std::array<const Chord*, 8> away{&kDm, &kAm, &kF, &kE, &kDm, &kE, &kF, &kG};
    static const std::array<const Chord*, 2> home{&kF, &kG};
    if (bar < kBreakdown || (bar >= kFullB && bar < kOutro)) return *loop[bar % 4];
    if (bar < kFullB) return *away[bar - kBreakdown];
    if (bar < kFinal) return *home[bar - kOutro];
    return kAm;
}

bool InFull(int bar) {
    return (bar >= kFullA && bar < kBreakdown) || (bar >= kFullB && bar < kOutro);
}

// A note of a tune: bar within the phrase, beat within the bar, length in beats, MIDI pitch.
struct Tone {
    int bar;
    double beat;
    double beats;
    int pitch;
};

// The theme: a rise to the octave and a fall back home, then a climb that stops open on D.
const std::vector<Tone> kTheme{
    {0, 0, 1, 76},   {0, 1, 1, 81},     {0, 2, 0.5, 79}, {0, 2.5, 1.5, 76},                // Am
    {1, 0, 0.5, 77}, {1, 0.5, 0.5, 76}, {1, 1, 1, 72},   {1, 2, 2, 69},                    // F
    {2, 0, 0.5, 67}, {2, 0.5, 0.5, 72}, {2, 1, 1, 76},   {2, 2, 1, 79},     {2, 3, 1, 76}, // C
    {3, 0, 1.5, 74}, {3, 1.5, 0.5, 71}, {3, 2, 2, 74}};                                    // G

// Its answer: the same opening, then higher, to settle on B for the way back to A.
const std::vector<Tone> kAnswer{
    {0, 0, 1, 76},   {0, 1, 1, 81},     {0, 2, 0.5, 79},   {0, 2.5, 0.5, 81}, {0, 3, 1, 83}, // Am
    {1, 0, 1.5, 84}, {1, 1.5, 0.5, 81}, {1, 2, 1, 77},     {1, 3, 1, 81},                    // F
    {2, 0, 1, 79},   {2, 1, 0.5, 76},   {2, 1.5, 0.5, 79}, {2, 2, 1, 84},     {2, 3, 1, 79}, // C
    {3, 0, 1, 74},   {3, 1, 0.5, 76},   {3, 1.5, 0.5, 74}, {3, 2, 2, 71}};                   // G

// The breakdown's slow line over Dm Am F E Dm E, ending on the leading note.
const std::vector<Tone> kBreakdownTune{
    {0, 0, 1, 69}, {0, 1, 1, 74}, {0, 2, 2, 77}, {1, 0, 2, 76}, {1, 2, 1, 72}, {1, 3, 1, 69},
    {2, 0, 1, 72}, {2, 1, 1, 77}, {2, 2, 2, 81}, {3, 0, 1, 71}, {3, 1, 1, 76}, {3, 2, 2, 80},
    {4, 0, 2, 81}, {4, 2, 1, 77}, {4, 3, 1, 74}, {5, 0, 2, 76}, {5, 2, 2, 68}};

// Two notes that lead back into the theme.
const std::vector<Tone> kPickup{{0, 3, 0.5, 72}, {0, 3.5, 0.5, 74}};

// The ending: the theme's second bar, a turn through G and the long home note.
const std::vector<Tone> kCadence{{0, 0, 0.5, 77}, {0, 0.5, 0.5, 76}, {0, 1, 1, 72}, {0, 2, 2, 69},
                                 {1, 0, 1, 71},   {1, 1, 1, 74},     {1, 2, 2, 67}, {2, 0, 5, 69}};

// The three sends every voice goes to: the dry mix, the echo and the hall.
struct Mix {
    Stereo dry;
    Stereo echo;
    Stereo hall;
    Noise feel{0x5eed1e55u}; // small timing and velocity differences of drums and plucks

    explicit Mix(size_t frames) : dry(frames), echo(frames), hall(frames) {}

    void Add(const Mono& voice, double at, double gain, double pan, double echoSend,
             double hallSend) {
        const long frame = FrameAt(at);
        MixMono(dry, voice, frame, gain, pan);
        if (echoSend > 0.0) MixMono(echo, voice, frame, gain * echoSend, pan);
        if (hallSend > 0.0) MixMono(hall, voice, frame, gain * hallSend, pan);
    }

    void Add(const Stereo& voice, double at, double gain, double hallSend) {
        const long frame = FrameAt(at);
        for (size_t i = 0; i < voice.Frames(); ++i) {
            const size_t to = static_cast<size_t>(frame) + i;
            if (to >= dry.Frames()) break;
            dry.left[to] += voice.left[i] * gain;
            dry.right[to] += voice.right[i] * gain;
            hall.left[to] += voice.left[i] * gain * hallSend;
            hall.right[to] += voice.right[i] * gain * hallSend;
        }
    }

    // A millisecond or so either way and a tenth of loudness, so repeats do not sound stamped.
    double Nudge() { return 0.0015 * feel.Next(); }
    double Vary(double velocity) { return velocity * (1.0 + 0.1 * feel.Next()); }
};

// --- Pads -------------------------------------------------------------------------------------

struct PadSetting {
    double gain;
    double cutoffFrom;
    double cutoffTo;
};

// The pad carries the quiet parts and opens its filter into each build; under the full
// sections it steps back behind the arpeggio.
PadSetting PadFor(int bar) {
    const auto along = [](double from, double to, int first, int count, int bar) {
        const double a = static_cast<double>(bar - first) / count;
        const double b = static_cast<double>(bar - first + 1) / count;
        return std::pair{from * std::pow(to / from, a), from * std::pow(to / from, b)};
    };
    std::pair<double, double> c;
    if (bar < kBuild) {
        c = along(450.0, 1500.0, 0, kBuild, bar);
        return {0.55, c.first, c.second};
    }
    if (bar < kFullA) {
        c = along(1500.0, 3200.0, kBuild, kFullA - kBuild, bar);
        return {0.8, c.first, c.second};
    }
    if (bar < kBreakdown) return {0.45, 2600.0, 2600.0};
    if (bar < kRiser) {
        c = along(700.0, 1700.0, kBreakdown, kRiser - kBreakdown, bar);
        return {0.42, c.first, c.second};
    }
    if (bar < kFullB) {
        c = along(1700.0, 4000.0, kRiser, kFullB - kRiser, bar);
        return {0.75, c.first, c.second};
    }
    if (bar < kOutro) return {0.45, 2600.0, 2600.0};
    return {0.7, 2200.0, 1800.0};
}

void AddPads(Mix& mix) {
    for (int bar = 0; bar < kFinal; ++bar) {
        const Chord& chord = ChordOf(bar);
        const PadSetting s = PadFor(bar);
        std::vector<int> notes(chord.voicing.begin(), chord.voicing.end());
        notes.push_back(chord.root + 12);
        mix.Add(Pad(notes, kBar, s.cutoffFrom, s.cutoffTo), At(bar, 0), 0.32 * s.gain, 0.35);
    }
    const std::vector<int> last{45, 57, 60, 64, 69};
    mix.Add(Pad(last, 3.6, 1800.0, 450.0), At(kFinal, 0), 0.3, 0.45);
}

// --- Bass -------------------------------------------------------------------------------------

struct Hit {
    double step;
    double steps;
    int interval;
};

// The full sections' line: root on the beat, octave and fifth on the off-beats.
const std::vector<Hit> kGroove{{0, 3, 0},  {3, 1, 0},  {6, 2, 12}, {8, 3, 0},
                               {11, 1, 0}, {12, 2, 7}, {14, 2, 12}};

void AddBassNote(Mix& mix, int bar, double step, double steps, int note, double velocity) {
    // Short notes are detached, which gives the line its bounce; long ones nearly join.
    const double held = steps <= 4 ? steps * kStep * 0.85 : steps * kStep - 0.06;
    mix.Add(Bass(note, held, velocity), AtStep(bar, step), 0.5, 0.0, 0.0, 0.0);
}

void AddBass(Mix& mix) {
    for (int bar = kBuild; bar < kFinal; ++bar) {
        const int root = ChordOf(bar).root;
        if (InFull(bar)) {
            for (const Hit& h : kGroove)
                AddBassNote(mix, bar, h.step, h.steps, root + h.interval, h.step == 0 ? 1.0 : 0.85);
        } else if (bar < kBuild + 2) {
            AddBassNote(mix, bar, 0, 16, root, 0.6);
        } else if (bar < kFullA || (bar >= kRiser && bar < kFullB)) {
            const double rise =
                bar < kFullA ? 0.6 + 0.05 * (bar - kBuild) : 0.45 + 0.15 * (bar - kRiser);
            for (int step = 0; step < 16; step += 2)
                AddBassNote(mix, bar, step, 2, root, rise);
        } else if (bar >= kBreakdown + 2 && bar < kRiser) {
            AddBassNote(mix, bar, 0, 16, root, 0.22);
        } else if (bar >= kOutro) {
            AddBassNote(mix, bar, 0, 8, root, 0.8);
            AddBassNote(mix, bar, 8, 8, root, 0.75);
        }
    }
    AddBassNote(mix, kFinal, 0, 24, kAm.root, 0.8);
}

// --- Drums ------------------------------------------------------------------------------------

void AddKick(Mix& mix, int bar, int step, double velocity) {
    mix.Add(Kick(velocity), AtStep(bar, step), 0.95, 0.0, 0.0, 0.0);
}

void AddClap(Mix& mix, int bar, double step, double velocity) {
    mix.Add(Clap(mix.Vary(velocity), mix.feel), AtStep(bar, step) + mix.Nudge(), 0.42, 0.0, 0.0,
            0.22);
}

// Off-beat sixteenths come a little late: the swing that makes the hats walk.
void AddHat(Mix& mix, int bar, int step, double velocity, bool open) {
    const double swing = step % 2 == 1 ? 0.012 : 0.0;
    const double at = AtStep(bar, step) + swing + mix.Nudge();
    if (open)
        mix.Add(Hat(mix.Vary(velocity), true, mix.feel), at, 0.13, 0.38, 0.12, 0.1);
    else
        mix.Add(Hat(mix.Vary(velocity), false, mix.feel), at, 0.17, 0.3, 0.0, 0.05);
}

void AddCrash(Mix& mix, int bar, double velocity) {
    mix.Add(Crash(velocity, mix.feel), At(bar, 0), 0.22, -0.35, 0.0, 0.15);
}

constexpr std::array<double, 4> kHatAccent{0.55, 0.3, 0.85, 0.35};

void AddDrumBar(Mix& mix, int bar) {
    const bool secondHalf = bar >= kFullB;
    for (int step = 0; step < 16; ++step) {
        if (step % 4 == 0) AddKick(mix, bar, step, 1.0);
        if (step == 4 || step == 12) AddClap(mix, bar, step, 0.9);
        const bool offBeat = step % 4 == 2;
        if (secondHalf && offBeat)
            AddHat(mix, bar, step, 0.8, true);
        else
            AddHat(mix, bar, step, kHatAccent[step % 4], false);
    }
    // The last bar before the breakdown ends on a short fill.
    if (bar == kBreakdown - 1) {
        AddClap(mix, bar, 14, 0.6);
        AddClap(mix, bar, 15, 0.75);
    }
}

void AddBuildDrums(Mix& mix, int bar) {
    const int along = bar - kBuild;
    for (int step = 0; step < 16; ++step) {
        if (bar >= kBuild + 2)
            AddHat(mix, bar, step, 0.8 * kHatAccent[step % 4], false);
        else if (step % 4 == 2)
            AddHat(mix, bar, step, 0.6, false);
    }
    if (along < 2) {
        AddKick(mix, bar, 0, 0.55 + 0.1 * along);
        AddKick(mix, bar, 8, 0.55 + 0.1 * along);
        return;
    }
    for (int step : {0, 4, 8})
        AddKick(mix, bar, step, 0.8);
    if (bar == kBuild + 2) {
        AddKick(mix, bar, 12, 0.8);
        AddClap(mix, bar, 4, 0.55);
        AddClap(mix, bar, 12, 0.55);
        return;
    }
    // Bar before the drop: the kick leaves the last beat to a fill.
    AddClap(mix, bar, 4, 0.55);
    const std::array<int, 6> fill{8, 10, 12, 13, 14, 15};
    for (size_t i = 0; i < fill.size(); ++i)
        AddClap(mix, bar, fill[i], 0.4 + 0.1 * i);
}

// The riser's snare roll: eighths, then sixteenths, ever louder.
void AddRoll(Mix& mix) {
    for (int step = 0; step < 16; step += 2)
        AddClap(mix, kRiser, step, 0.2 + 0.25 * step / 16.0);
    for (int step = 0; step < 16; ++step)
        AddClap(mix, kRiser + 1, step, 0.45 + 0.55 * step / 15.0);
}

void AddDrums(Mix& mix) {
    for (int bar = 2; bar < kBuild; ++bar)
        for (int step : {2, 6, 10, 14})
            AddHat(mix, bar, step, 0.4, false);
    for (int bar = kBuild; bar < kFullA; ++bar)
        AddBuildDrums(mix, bar);
    for (int bar = 0; bar < kFinal; ++bar)
        if (InFull(bar)) AddDrumBar(mix, bar);
    AddRoll(mix);
    for (int bar = kOutro; bar < kFinal; ++bar)
        for (int step = 0; step < 16; ++step) {
            if (step % 4 == 0) AddKick(mix, bar, step, 0.9);
            if (step == 4 || step == 12) AddClap(mix, bar, step, 0.7);
            if (step % 2 == 0) AddHat(mix, bar, step, 0.6, false);
        }
    AddKick(mix, kFinal, 0, 1.0);
    AddCrash(mix, kFullA, 1.0);
    AddCrash(mix, kBreakdown, 0.3);
    AddCrash(mix, kFullB, 1.0);
    AddCrash(mix, kFinal, 0.9);
}

// --- Arpeggio ---------------------------------------------------------------------------------

// Chord tones an octave above the pad, climbing and turning; the order repeats every half bar.
constexpr std::array<int, 8> kArpOrder{0, 1, 2, 3, 1, 2, 3, 2};
constexpr std::array<double, 4> kArpAccent{1.0, 0.6, 0.8, 0.6};

int ArpNote(const Chord& chord, int index) {
    const std::array<int, 4> tones{chord.voicing[0] + 12, chord.voicing[1] + 12,
                                   chord.voicing[2] + 12, chord.voicing[0] + 24};
    return tones[static_cast<size_t>(index)];
}

void AddPluck(Mix& mix, int bar, int step, double velocity, double brightness) {
    const int note = ArpNote(ChordOf(bar), kArpOrder[static_cast<size_t>(step % 8)]);
    // Neighbouring notes sit on opposite sides, and the side of the note on the beat changes with
    // every beat, so the kick's peaks fall evenly on both channels.
    const bool left = (step % 2 == 0) == ((step / 4) % 2 == 0);
    const double pan = left ? -0.5 : 0.5;
    mix.Add(Pluck(note, mix.Vary(velocity), brightness), AtStep(bar, step) + mix.Nudge(), 0.18, pan,
            0.18, 0.12);
}

void AddArpeggio(Mix& mix) {
    for (int bar = kBuild; bar < kFinal; ++bar) {
        if (bar < kFullA) {
            const double open = 0.25 + 0.5 * (bar - kBuild) / 3.0;
            for (int step = 0; step < 16; step += 2)
                AddPluck(mix, bar, step, 0.7, open);
        } else if (InFull(bar)) {
            for (int step = 0; step < 16; ++step)
                AddPluck(mix, bar, step, kArpAccent[static_cast<size_t>(step % 4)], 0.75);
        } else if (bar >= kRiser && bar < kFullB) {
            for (int step = 0; step < 16; ++step) {
                const double along = ((bar - kRiser) * 16 + step) / 31.0;
                AddPluck(mix, bar, step, 0.5 + 0.4 * along, 0.15 + 0.85 * along);
            }
        } else if (bar >= kOutro) {
            for (int step = 0; step < 16; step += 2)
                AddPluck(mix, bar, step, 0.65 - 0.2 * (bar - kOutro), 0.6);
        }
    }
}

// --- Melody -----------------------------------------------------------------------------------

enum class Voice { Lead, LeadHigh, Bell };

void AddTune(Mix& mix, const std::vector<Tone>& tune, int firstBar, Voice voice, double velocity) {
    for (const Tone& t : tune) {
        const double at = At(firstBar + t.bar, t.beat);
        const double held = t.beats * kBeat - 0.03;
        switch (voice) {
        case Voice::Lead:
            mix.Add(Lead(t.pitch, held, velocity), at, 0.4, 0.0, 0.28, 0.18);
            break;
        case Voice::LeadHigh:
            mix.Add(Lead(t.pitch + 12, held, velocity), at, 0.14, 0.3, 0.3, 0.2);
            break;
        case Voice::Bell:
            mix.Add(Bell(t.pitch, held, velocity), at, 0.34, 0.2, 0.35, 0.35);
            break;
        }
    }
}

void AddMelody(Mix& mix) {
    AddTune(mix, kTheme, kBuild, Voice::Bell, 0.6);
    AddTune(mix, kTheme, kFullA, Voice::Lead, 0.9);
    AddTune(mix, kAnswer, kFullA + 4, Voice::Lead, 0.9);
    AddTune(mix, kBreakdownTune, kBreakdown, Voice::Bell, 0.22);
    AddTune(mix, kPickup, kRiser + 1, Voice::Lead, 0.8);
    for (Voice v : {Voice::Lead, Voice::LeadHigh}) {
        AddTune(mix, kTheme, kFullB, v, 0.9);
        AddTune(mix, kAnswer, kFullB + 4, v, 0.9);
    }
    AddTune(mix, kCadence, kOutro, Voice::Lead, 0.85);
}

void AddRiser(Mix& mix) {
    mix.Add(Riser(2.0 * kBar, mix.feel), At(kRiser, 0), 0.2, 0.3);
}

// --- Master -----------------------------------------------------------------------------------

double PeakBetween(const Stereo& s, double from, double to) {
    double peak = 0.0;
    const size_t last = std::min(s.Frames(), static_cast<size_t>(FrameAt(to)));
    for (size_t i = static_cast<size_t>(FrameAt(from)); i < last; ++i)
        peak = std::max({peak, std::fabs(s.left[i]), std::fabs(s.right[i])});
    return peak;
}

void Accumulate(Stereo& into, const Stereo& add, double gain) {
    for (size_t i = 0; i < into.Frames(); ++i) {
        into.left[i] += add.left[i] * gain;
        into.right[i] += add.right[i] * gain;
    }
}

// Sets the level from the full sections' loudest peak, so they meet the limiter by kDrive and
// every quieter passage keeps its place below them.
void Master(Stereo& out) {
    RemoveRumble(out);
    FadeEnds(out, 0.02, 2.5);
    const double peak = std::max(PeakBetween(out, At(kFullA, 0), At(kBreakdown, 0)),
                                 PeakBetween(out, At(kFullB, 0), At(kOutro, 0)));
    const double gain = kDrive * kCeiling / peak;
    for (size_t i = 0; i < out.Frames(); ++i) {
        out.left[i] *= gain;
        out.right[i] *= gain;
    }
    Limit(out, kCeiling, 0.0025, 0.09);
}

} // namespace

Stereo RenderSong() {
    Mix mix(static_cast<size_t>(FrameAt(kSongSeconds)));
    AddPads(mix);
    AddBass(mix);
    AddDrums(mix);
    AddArpeggio(mix);
    AddMelody(mix);
    AddRiser(mix);
    Stereo out = std::move(mix.dry);
    Accumulate(out, Echo(mix.echo, 3.0 * kStep, 0.38, 3500.0), 0.7);
    Accumulate(out, Reverb(mix.hall, 0.84, 0.3), 1.0);
    Master(out);
    return out;
}

} // namespace music
