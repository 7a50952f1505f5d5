// Streams: libsndfile decodes (Ogg Vorbis, Opus, FLAC, WAV, AIFF, MP3, whatever the installed
// library reads); what is not stereo becomes stereo (mono doubled, more channels mixed down), and
// what is not 44.1 kHz is resampled (resampler.h).
//
// A file of n frames at rate r lasts n * 44100 / r frames (rounded half to even), and Frames()
// tells the same from the header: the resampler's flush gives the end of the sound, and the count
// is held to the exact length (the resampler rounds a half frame up, and silence would make up
// anything it fell short).
#include "platform/sound/bass.h"
#include "platform/sound/regular_file.h"
#include "platform/sound/resampler.h"
#include "platform/sound/source.h"

#include <sndfile.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sound {

namespace {

// The layouts below go up to 7.1; more channels have no order anyone agrees on.
constexpr int kMaxFileChannels = 8;
// The highest rate of any recording, four times 192 kHz. A header may claim any rate, and one of
// gigahertz would have the resampler chew through the whole file for each frame it gives.
constexpr int kMaxRate = 768000;
// Frames read from the file at a time when they are mixed down or resampled.
constexpr size_t kReadFrames = 1024;

struct Weights {
    double left, right;
};

// What each channel of a file gives to the left and the right side, by channel count, in the WAV
// order of each layout. The weights of every side sum to one (7.1's to within a thousandth), so a
// file at full scale stays at full scale; the centre and the LFE reach both sides alike.
constexpr Weights kDownMix[kMaxFileChannels + 1][kMaxFileChannels] = {
    {},
    // Mono; stereo.
    {{1, 1}},
    {{1, 0}, {0, 1}},
    // 2.1: front left, front right, LFE.
    {{0.8, 0}, {0, 0.8}, {0.2, 0.2}},
    // Quad: front left, front right, back left, back right.
    {{0.421, 0}, {0, 0.421}, {0.359, 0.22}, {0.22, 0.359}},
    // 4.1: front left, front right, LFE, back left, back right.
    {{0.374222219, 0},
     {0, 0.374222219},
     {0.111111112, 0.111111112},
     {0.319111109, 0.195555553},
     {0.195555553, 0.319111109}},
    // 5.1: front left, front right, centre, LFE, back left, back right.
    {{0.294545442, 0},
     {0, 0.294545442},
     {0.208181813, 0.208181813},
     {0.0909090936, 0.0909090936},
     {0.25181818, 0.154545456},
     {0.154545456, 0.25181818}},
    // 6.1: front left, front right, centre, LFE, back centre, side left, side right.
    {{0.247384623, 0},
     {0, 0.247384623},
     {0.174461529, 0.174461529},
     {0.0769230798, 0.0769230798},
     {0.174461529, 0.174461529},
     {0.226153851, 0.100615382},
     {0.100615382, 0.226153851}},
    // 7.1: front left, front right, centre, LFE, back left, back right, side left, side right.
    {{0.211866662, 0},
     {0, 0.211866662},
     {0.150266662, 0.150266662},
     {0.0666666701, 0.0666666701},
     {0.181066677, 0.111066669},
     {0.111066669, 0.181066677},
     {0.194133341, 0.0858666673},
     {0.0858666673, 0.194133341}},
};

// Why libsndfile could not open a file: plain words first, the library's own after them.
std::string OpenFailure() {
    const char* plain = nullptr;
    switch (sf_error(nullptr)) {
    case SF_ERR_UNRECOGNISED_FORMAT:
        plain = "it is not a sound file of a kind that can be played";
        break;
    case SF_ERR_SYSTEM:
        plain = "it could not be read";
        break;
    case SF_ERR_UNSUPPORTED_ENCODING:
        plain = "its sound is encoded in a way that cannot be played";
        break;
    default: // malformed, and the library's many errors of a header that does not add up
        plain = "it is damaged: its header cannot be read";
        break;
    }
    return std::string(plain) + " (libsndfile: " + sf_strerror(nullptr) + ")";
}

// Makes frames frames of channels interleaved channels into stereo.
void MixToStereo(const float* in, int channels, size_t frames, float* out) {
    const Weights* weights = kDownMix[channels];
    for (size_t frame = 0; frame < frames; ++frame, in += channels) {
        double left = 0, right = 0;
        for (int c = 0; c < channels; ++c) {
            left += weights[c].left * in[c];
            right += weights[c].right * in[c];
        }
        *out++ = static_cast<float>(left);
        *out++ = static_cast<float>(right);
    }
}

class StreamSource final : public Source {
  public:
    ~StreamSource() override {
        if (file_) sf_close(file_);
    }

    // Returns BASS_OK, or the error code with the cause in *reason.
    int Open(RegularFile input, std::string* reason) {
        input_ = std::move(input);
        SF_INFO info{};
        file_ = sf_open_fd(input_.descriptor(), SFM_READ, &info, SF_FALSE);
        if (!file_) {
            *reason = OpenFailure();
            return BASS_ERROR_FILEFORM;
        }
        if (info.channels < 1 || info.channels > kMaxFileChannels) {
            *reason = "it has " + std::to_string(info.channels) + " channels; up to " +
                      std::to_string(kMaxFileChannels) + " can be played";
            return BASS_ERROR_FILEFORM;
        }
        if (info.samplerate < 1 || info.samplerate > kMaxRate) {
            *reason = "its rate of " + std::to_string(info.samplerate) +
                      " Hz cannot be played (at most " + std::to_string(kMaxRate) + " Hz can)";
            return BASS_ERROR_FILEFORM;
        }
        channels_ = info.channels;
        rate_ = info.samplerate;
        // A file whose length libsndfile cannot tell says SF_COUNT_MAX or less than nothing.
        if (info.frames > 0 && info.frames < SF_COUNT_MAX)
            frames_ = OutputFrames(static_cast<uint64_t>(info.frames), rate_);
        if (channels_ != 2) fileFrames_.resize(kReadFrames * static_cast<size_t>(channels_));
        if (rate_ == kOutputRate) return BASS_OK;
        if (!resampler_.Open(rate_, reason)) return BASS_ERROR_FILEFORM;
        resampling_ = true;
        held_.resize(kReadFrames * kSamplesPerFrame);
        return BASS_OK;
    }

    size_t Read(float* out, size_t frames) override {
        return resampling_ ? ReadResampled(out, frames) : ReadStereo(out, frames);
    }

    uint64_t Frames() const override { return frames_; }

    std::string Trouble() const override { return trouble_; }

  private:
    // Up to frames stereo frames of the file at its own rate.
    size_t ReadStereo(float* out, size_t frames) {
        if (channels_ == 2) return ReadFile(out, frames);
        const size_t read = ReadFile(fileFrames_.data(), std::min(frames, kReadFrames));
        MixToStereo(fileFrames_.data(), channels_, read, out);
        return read;
    }

    size_t ReadFile(float* out, size_t frames) {
        sf_count_t read = sf_readf_float(file_, out, static_cast<sf_count_t>(frames));
        if (read > 0) return static_cast<size_t>(read);
        if (sf_error(file_) != SF_ERR_NO_ERROR && trouble_.empty())
            trouble_ = std::string("it is damaged: its sound cannot be decoded (libsndfile: ") +
                       sf_strerror(file_) + ")";
        return 0;
    }

    size_t ReadResampled(float* out, size_t frames) {
        size_t written = 0;
        while (written < frames && !finished_) {
            if (heldFrames_ == 0 && !fileEnded_) {
                heldFrames_ = ReadStereo(held_.data(), kReadFrames);
                heldAt_ = 0;
                inputFrames_ += heldFrames_;
                fileEnded_ = heldFrames_ == 0;
            }
            float* target = out + written * kSamplesPerFrame;
            size_t got =
                fileEnded_ ? Flush(target, frames - written) : Convert(target, frames - written);
            written += got;
            outputFrames_ += got;
        }
        return written;
    }

    // Resamples what is held from the file into out.
    size_t Convert(float* out, size_t room) {
        size_t used = 0;
        const size_t got = resampler_.Process(held_.data() + heldAt_ * kSamplesPerFrame,
                                              heldFrames_, &used, out, room);
        heldFrames_ -= used;
        heldAt_ += used;
        // Neither taking nor giving: the resampler has failed, and the sound ends here.
        if (got == 0 && used == 0) finished_ = true;
        return got;
    }

    // After the file's end: what the resampler still holds, up to the exact length.
    size_t Flush(float* out, size_t room) {
        const uint64_t length = OutputFrames(inputFrames_, rate_);
        const auto wanted =
            static_cast<size_t>(std::min<uint64_t>(room, length - std::min(length, outputFrames_)));
        if (wanted == 0) {
            finished_ = true;
            return 0;
        }
        size_t used = 0;
        const size_t got = resampler_.Process(nullptr, 0, &used, out, wanted);
        if (got > 0) return got;
        std::fill_n(out, wanted * kSamplesPerFrame, 0.0f);
        return wanted;
    }

    RegularFile input_;
    SNDFILE* file_ = nullptr;
    int channels_ = 0;
    int rate_ = 0;
    uint64_t frames_ = 0;
    // The file's frames as read, when it is not stereo.
    std::vector<float> fileFrames_;

    bool resampling_ = false;
    Resampler resampler_;
    // Stereo frames read from the file and not yet taken by the resampler.
    std::vector<float> held_;
    size_t heldFrames_ = 0;
    size_t heldAt_ = 0;
    uint64_t inputFrames_ = 0;
    uint64_t outputFrames_ = 0;
    bool fileEnded_ = false;
    bool finished_ = false;
    std::string trouble_; // why decoding stopped before the end, in plain words
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
