// Decoders: what turns a file into 44.1 kHz stereo float frames. Streams decode through
// libsndfile, modules render through libopenmpt; neither library's types leave their file.
// A source is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sound {

// Every source delivers this: interleaved left and right float samples at 44.1 kHz.
inline constexpr int kOutputRate = 44100;
inline constexpr size_t kSamplesPerFrame = 2;

class Source {
  public:
    virtual ~Source() = default;
    // Writes up to frames stereo frames into out and returns how many it wrote; 0 means the sound
    // has ended (a decoding error ends it too).
    virtual size_t Read(float* out, size_t frames) = 0;
    // How many frames Read will give in all, as far as the file tells before it is decoded; 0 when
    // it does not tell.
    virtual uint64_t Frames() const = 0;
    // Why Read gave out before the end of the sound (a damaged file), in plain words with the
    // library's own after them; empty when it did not.
    virtual std::string Trouble() const { return std::string(); }
};

// Opens path as a stream of any format the installed libsndfile reads. On failure returns null,
// writes the library error code into *error and, when reason is given, the cause in a few words.
std::unique_ptr<Source> OpenStreamSource(const char* path, int* error,
                                         std::string* reason = nullptr);
// Loads path as a tracker module, played once from its start. Fails as OpenStreamSource does.
std::unique_ptr<Source> OpenModuleSource(const char* path, int* error,
                                         std::string* reason = nullptr);

} // namespace sound
