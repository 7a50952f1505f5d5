// Modules: the whole file is read into memory and libopenmpt renders it at 44.1 kHz stereo float,
// once through, without looping. Loading computes the length (what a prescan is for), so a file
// that holds no playable song is refused at once instead of ending on its first frame.
#include "platform/sound/bass.h"
#include "platform/sound/regular_file.h"
#include "platform/sound/source.h"

#include <libopenmpt/libopenmpt.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace sound {

namespace {

// Larger files are not modules anyone plays; refusing them keeps a stray drop from eating memory.
constexpr uint64_t kMaxModuleBytes = 256u << 20;

// A text that libopenmpt made, which only it may free.
struct FreeOpenmptText {
    void operator()(const char* text) const { openmpt_free_string(text); }
};
using OpenmptText = std::unique_ptr<const char, FreeOpenmptText>;

class ModuleSource final : public Source {
  public:
    ~ModuleSource() override {
        if (module_) openmpt_module_destroy(module_);
    }

    // Returns BASS_OK, or the error code with the cause in *reason.
    int Open(const RegularFile& file, std::string* reason) {
        if (file.size() > kMaxModuleBytes) {
            *reason = "it is larger than any module (256 MB)";
            return BASS_ERROR_FILEFORM;
        }
        std::vector<unsigned char> bytes;
        if (ReadExactly(file.descriptor(), file.size(), &bytes) != 0) {
            *reason = "it could not be read";
            return BASS_ERROR_FILEOPEN;
        }
        // Quiet: the one line that says why a sound cannot play is the library's caller's, and it
        // carries libopenmpt's own words.
        int error = OPENMPT_ERROR_OK;
        const char* message = nullptr;
        module_ = openmpt_module_create_from_memory2(
            bytes.data(), bytes.size(), openmpt_log_func_silent, nullptr, openmpt_error_func_store,
            nullptr, &error, &message, nullptr);
        const OpenmptText stored(message);
        if (!module_) {
            const OpenmptText general(openmpt_error_string(error));
            const char* words = message ? message : general ? general.get() : "no reason given";
            *reason = std::string("it is not a tracker module (libopenmpt: ") + words + ")";
            return BASS_ERROR_FILEFORM;
        }
        openmpt_module_set_repeat_count(module_, 0);
        if (!(openmpt_module_get_duration_seconds(module_) > 0.0)) {
            *reason = "the module holds no song";
            return BASS_ERROR_FILEFORM;
        }
        return BASS_OK;
    }

    size_t Read(float* out, size_t frames) override {
        return openmpt_module_read_interleaved_float_stereo(module_, kOutputRate, frames, out);
    }

    uint64_t Frames() const override {
        return static_cast<uint64_t>(
            std::llround(openmpt_module_get_duration_seconds(module_) * kOutputRate));
    }

  private:
    openmpt_module* module_ = nullptr;
};

} // namespace

std::unique_ptr<Source> OpenModuleSource(const char* path, int* error, std::string* reason) {
    std::string why;
    RegularFile file;
    *error = file.Open(path, &why);
    std::unique_ptr<ModuleSource> source;
    if (*error == BASS_OK) {
        source = std::make_unique<ModuleSource>();
        *error = source->Open(file, &why);
    }
    if (*error == BASS_OK) return source;
    if (reason) *reason = why;
    return nullptr;
}

} // namespace sound
