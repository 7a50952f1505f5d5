// Sound files made at test time: tones and silence through libsndfile (WAV, FLAC, Ogg Vorbis and
// Opus), a small ProTracker module built byte by byte, and raw bytes. They go into a scratch folder
// that disappears with the test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ScratchFolder {
  public:
    ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Opus takes only 8, 12, 16, 24 and 48 kHz.
enum class SoundFormat { WavFloat, WavPcm16, Flac, OggVorbis, OggOpus };

// A 441 Hz sine per channel: at 44.1 kHz every period holds a sample at exactly +amplitude, so
// the peak of any 20 ms is the amplitude itself. An amplitude of 0 is silence.
struct Signal {
    double seconds = 0.2;
    std::vector<double> amplitudes = {1.0, 1.0};
    int rate = 44100;
    // From this many seconds on, every channel is silent (negative: never).
    double silentFrom = -1.0;
    // The sine's frequency in Hz (at 441 the crest of each period falls on a sample).
    double frequency = 441;
    // Amplitude of white noise added to every channel (the same on every run), so that a lossy
    // encoder has real work to do.
    double noise = 0.0;
    // Before this many seconds, every channel is silent.
    double loudFrom = 0.0;
    // When more than 0: from loudFrom on, the tone sounds for burstLength seconds at the start of
    // every burstEvery seconds, and is silent between.
    double burstEvery = 0.0;
    double burstLength = 0.05;
};

bool WriteSound(const std::string& path, SoundFormat format, const Signal& signal);
// Interleaved stereo float samples at 44.1 kHz, as a float WAV file.
bool WriteSamples(const std::string& path, const std::vector<float>& stereo);

// A 4-channel "M.K." module with one looping square-wave sample: a note on every channel on row 0,
// more notes on later rows, speed `speed` at 125 BPM (a row lasts speed * 20 ms), a pattern of
// `rows` rows played `positions` times. It lasts positions * rows * speed * 20 ms.
struct ModuleShape {
    int rows = 6;
    int speed = 2;
    int positions = 1;
};

bool WriteModule(const std::string& path, const ModuleShape& shape);
// A Scream Tracker 3 module whose order list holds only its end: a module that loads and holds no
// song (libopenmpt gives it a length of 0 and plays a tenth of a second of silence).
bool WriteSonglessModule(const std::string& path);

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Bytes that are no sound at all, the same on every run.
std::vector<uint8_t> NoiseBytes(size_t count, uint32_t seed);

// SDL's silent driver: the real output path, paced like a sound card, with nothing to hear.
void UseDummyAudioDriver();
