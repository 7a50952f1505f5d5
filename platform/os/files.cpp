#include "platform/os/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

int UniqueFd::Release() {
    return std::exchange(fd_, -1);
}

int OpenRegularFile(const std::string& path, UniqueFd* file, uint64_t* size) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it changes nothing for the
    // regular files kept.
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return errno;
    struct stat status {};
    if (fstat(fd.get(), &status) != 0) return errno;
    if (S_ISDIR(status.st_mode)) return EISDIR;
    if (!S_ISREG(status.st_mode)) return EINVAL;
    *file = std::move(fd);
    *size = static_cast<uint64_t>(status.st_size);
    return 0;
}

int ReadExactly(int fd, uint64_t size, std::vector<uint8_t>* bytes) {
    bytes->resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = read(fd, bytes->data() + done, bytes->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno;
        if (got == 0) return EIO;
        done += static_cast<size_t>(got);
    }
    return 0;
}

int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes) {
    UniqueFd file;
    uint64_t size = 0;
    if (const int error = OpenRegularFile(path, &file, &size)) return error;
    if (size > limit) return EFBIG;
    return ReadExactly(file.get(), size, bytes);
}
