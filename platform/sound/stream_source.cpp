// Streams: libsndfile decodes (Ogg Vorbis, Opus, FLAC, WAV, AIFF, MP3, whatever the installed
// library reads) and SDL's audio stream converts what is not already 44.1 kHz stereo: it doubles
// mono, mixes more channels down with its standard matrices and resamples.
//
// SDL's resampler (2.26) keeps back up to about 512 input frames when flushed, and more when fed
// blocks of 2048 frames or larger, so the end of a sound would be cut off. So the file goes in
// in blocks of 1024 frames, silence follows its end, and the output stops at exactly the length
// the file has at 44.1 kHz.
#include "platform/sound/bass.h"
#include "platform/sound/regular_file.h"
#include "platform/sound/source.h"

#include <SDL.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace sound {

namespace {

// SDL's converter handles up to 7.1; more channels have no layout it knows.
constexpr int kMaxChannels = 8;
// Frames read from the file per refill of the converter, and of silence after its end.
constexpr size_t kReadFrames = 1024;
constexpr int kTrailingSilenceBlocks = 2;
constexpr int kBytesPerFrame = static_cast<int>(kSamplesPerFrame * sizeof(float));

class StreamSource final : public Source {
  public:
    ~StreamSource() override {
        if (converter_) SDL_FreeAudioStream(converter_);
        if (file_) sf_close(file_);
    }

    // Returns BASS_OK, or the error code with the cause in *reason.
    int Open(RegularFile input, std::string* reason) {
        input_ = std::move(input);
        SF_INFO info{};
        file_ = sf_open_fd(input_.descriptor(), SFM_READ, &info, SF_FALSE);
        if (!file_) {
            *reason = sf_strerror(nullptr);
            return BASS_ERROR_FILEFORM;
        }
        if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1) {
            *reason = "its channels or rate cannot be played";
            return BASS_ERROR_FILEFORM;
        }
        channels_ = info.channels;
        rate_ = info.samplerate;
        // A file whose length libsndfile cannot tell says SF_COUNT_MAX or less than nothing.
        if (info.frames > 0 && info.frames < SF_COUNT_MAX)
            frames_ = static_cast<uint64_t>(
                std::llround(static_cast<double>(info.frames) * kOutputRate / rate_));
        if (channels_ == 2 && rate_ == kOutputRate) return BASS_OK;
        converter_ = SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(channels_),
                                        info.samplerate, AUDIO_F32SYS, 2, kOutputRate);
        if (!converter_) {
            *reason = SDL_GetError();
            return BASS_ERROR_FILEFORM;
        }
        fileFrames_.resize(kReadFrames * static_cast<size_t>(channels_));
        return BASS_OK;
    }

    size_t Read(float* out, size_t frames) override {
        if (!converter_) return ReadFile(out, frames);
        for (;;) {
            uint64_t allowed = std::min<uint64_t>(frames, OutputLength() - outputFrames_);
            int bytes = 0;
            if (allowed > 0)
                bytes =
                    SDL_AudioStreamGet(converter_, out, static_cast<int>(allowed) * kBytesPerFrame);
            if (bytes > 0) {
                size_t got = static_cast<size_t>(bytes / kBytesPerFrame);
                outputFrames_ += got;
                return got;
            }
            if (bytes < 0 || flushed_) return 0;
            Refill();
        }
    }

    uint64_t Frames() const override { return frames_; }

  private:
    size_t ReadFile(float* out, size_t frames) {
        sf_count_t read = sf_readf_float(file_, out, static_cast<sf_count_t>(frames));
        return read > 0 ? static_cast<size_t>(read) : 0;
    }

    // The length at 44.1 kHz of what has been read from the file so far.
    uint64_t OutputLength() const {
        return static_cast<uint64_t>(
            std::llround(static_cast<double>(inputFrames_) * kOutputRate / rate_));
    }

    // Feeds the converter the next block of the file; at the file's end, pushes the file's last
    // frames through with silence and lets the converter give out what it holds.
    void Refill() {
        size_t read = ReadFile(fileFrames_.data(), kReadFrames);
        if (read > 0) {
            inputFrames_ += read;
            if (SDL_AudioStreamPut(converter_, fileFrames_.data(), BlockBytes(read)) == 0) return;
        }
        std::fill(fileFrames_.begin(), fileFrames_.end(), 0.0f);
        for (int block = 0; block < kTrailingSilenceBlocks; ++block)
            SDL_AudioStreamPut(converter_, fileFrames_.data(), BlockBytes(kReadFrames));
        SDL_AudioStreamFlush(converter_);
        flushed_ = true;
    }

    int BlockBytes(size_t frames) const {
        return static_cast<int>(frames * static_cast<size_t>(channels_) * sizeof(float));
    }

    RegularFile input_;
    SNDFILE* file_ = nullptr;
    SDL_AudioStream* converter_ = nullptr;
    int channels_ = 0;
    int rate_ = 0;
    uint64_t inputFrames_ = 0;
    uint64_t outputFrames_ = 0;
    uint64_t frames_ = 0;
    std::vector<float> fileFrames_;
    bool flushed_ = false;
};

} // namespace

std::unique_ptr<Source> OpenStreamSource(const char* path, int* error, std::string* reason) {
    std::string why;
    // The file first: a path that cannot be opened then costs no allocation.
    RegularFile input;
    *error = input.Open(path, &why);
    std::unique_ptr<StreamSource> source;
    if (*error == BASS_OK) {
        source = std::make_unique<StreamSource>();
        *error = source->Open(std::move(input), &why);
    }
    if (*error == BASS_OK) return source;
    if (reason) *reason = why;
    return nullptr;
}

} // namespace sound
