#include "platform/sound/regular_file.h"

#include "platform/sound/bass.h"

#include <cerrno>
#include <cstring>

namespace sound {

int RegularFile::Open(const char* path, std::string* reason) {
    auto refuse = [reason](int error, const char* why) {
        if (reason) *reason = why;
        return error;
    };
    if (!path || !*path) return refuse(BASS_ERROR_FILEOPEN, "no file named");
    switch (const int error = OpenRegularFile(path, &file_, &size_)) {
    case 0:
        break;
    case EISDIR:
        return refuse(BASS_ERROR_FILEOPEN, "it is a folder");
    case EINVAL:
        return refuse(BASS_ERROR_FILEOPEN, "it is not a regular file");
    default:
        return refuse(BASS_ERROR_FILEOPEN, std::strerror(error));
    }
    if (size_ == 0) return refuse(BASS_ERROR_FILEFORM, "the file is empty");
    return BASS_OK;
}

} // namespace sound
