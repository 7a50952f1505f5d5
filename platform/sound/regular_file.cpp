#include "platform/sound/regular_file.h"

#include "platform/sound/bass.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace sound {

RegularFile::RegularFile(RegularFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), size_(other.size_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    std::swap(descriptor_, other.descriptor_);
    std::swap(size_, other.size_);
    return *this;
}

RegularFile::~RegularFile() {
    if (descriptor_ >= 0) close(descriptor_);
}

int RegularFile::Open(const char* path, std::string* reason) {
    auto refuse = [reason](int error, const char* why) {
        if (reason) *reason = why;
        return error;
    };
    if (!path || !*path) return refuse(BASS_ERROR_FILEOPEN, "no file named");
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. It changes nothing
    // for the regular files we keep.
    descriptor_ = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor_ < 0) return refuse(BASS_ERROR_FILEOPEN, std::strerror(errno));
    struct stat status {};
    if (fstat(descriptor_, &status) != 0) return refuse(BASS_ERROR_FILEOPEN, std::strerror(errno));
    if (S_ISDIR(status.st_mode)) return refuse(BASS_ERROR_FILEOPEN, "it is a folder");
    if (!S_ISREG(status.st_mode)) return refuse(BASS_ERROR_FILEOPEN, "it is not a regular file");
    if (status.st_size <= 0) return refuse(BASS_ERROR_FILEFORM, "the file is empty");
    size_ = static_cast<uint64_t>(status.st_size);
    return BASS_OK;
}

} // namespace sound
