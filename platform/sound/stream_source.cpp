// Streams: libsndfile decodes (Ogg Vorbis, Opus, FLAC, WAV, AIFF, MP3, whatever the installed
// library reads) and SDL's audio stream converts what is not already 44.1 kHz stereo: it doubles
// mono, mixes more channels down with its standard matrices and resamples.
#include "platform/sound/bass.h"
#include "platform/sound/regular_file.h"
#include "platform/sound/source.h"

#include <SDL.h>
#include <sndfile.h>

#include <vector>

namespace sound {

namespace {

// SDL's converter handles up to 7.1; more channels have no layout it knows.
constexpr int kMaxChannels = 8;
// Frames read from the file per refill of the converter.
constexpr size_t kReadFrames = 2048;
constexpr int kBytesPerFrame = static_cast<int>(kSamplesPerFrame * sizeof(float));

class StreamSource final : public Source {
  public:
    ~StreamSource() override {
        if (converter_) SDL_FreeAudioStream(converter_);
        if (file_) sf_close(file_);
    }

    int Open(const char* path) {
        int error = input_.Open(path);
        if (error != BASS_OK) return error;
        SF_INFO info{};
        file_ = sf_open_fd(input_.descriptor(), SFM_READ, &info, SF_FALSE);
        if (!file_) return BASS_ERROR_FILEFORM;
        if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1)
            return BASS_ERROR_FILEFORM;
        channels_ = info.channels;
        if (channels_ == 2 && info.samplerate == kOutputRate) return BASS_OK;
        converter_ = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(channels_),
                                        info.samplerate, AUDIO_F32SYS, 2, kOutputRate);
        if (!converter_) return BASS_ERROR_FILEFORM;
        fileFrames_.resize(kReadFrames * static_cast<size_t>(channels_));
        return BASS_OK;
    }

    size_t Read(float* out, size_t frames) override {
        if (!converter_) return ReadFile(out, frames);
        for (;;) {
            int bytes =
                SDL_AudioStreamGet(converter_, out, static_cast<int>(frames) * kBytesPerFrame);
            if (bytes > 0) return static_cast<size_t>(bytes / kBytesPerFrame);
            if (bytes < 0 || flushed_) return 0;
            Refill();
        }
    }

  private:
    size_t ReadFile(float* out, size_t frames) {
        sf_count_t read = sf_readf_float(file_, out, static_cast<sf_count_t>(frames));
        return read > 0 ? static_cast<size_t>(read) : 0;
    }

    // Feeds the converter the next block of the file; at the file's end, lets it give out what it
    // still holds.
    void Refill() {
        size_t read = ReadFile(fileFrames_.data(), kReadFrames);
        int bytes = static_cast<int>(read * static_cast<size_t>(channels_) * sizeof(float));
        if (read == 0 || SDL_AudioStreamPut(converter_, fileFrames_.data(), bytes) != 0) {
            SDL_AudioStreamFlush(converter_);
            flushed_ = true;
        }
    }

    RegularFile input_;
    SNDFILE* file_ = nullptr;
    SDL_AudioStream* converter_ = nullptr;
    int channels_ = 0;
    std::vector<float> fileFrames_;
    bool flushed_ = false;
};

} // namespace

std::unique_ptr<Source> OpenStreamSource(const char* path, int* error) {
    auto source = std::make_unique<StreamSource>();
    *error = source->Open(path);
    if (*error != BASS_OK) return nullptr;
    return source;
}

} // namespace sound
