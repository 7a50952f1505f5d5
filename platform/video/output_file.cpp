#include "platform/video/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Where a regular file is written until it is complete: a hidden name in the same folder (so the
// rename stays on one file system), unique to this process.
std::string TemporaryNameFor(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".vormel-" + std::to_string(getpid()) + ".tmp";
}

std::string Describe(const std::string& path) {
    return path == "-" ? std::string("standard output") : path;
}

} // namespace

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path) {
    Discard();
    path_ = path;
    error_.clear();
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        return true;
    }
    struct stat status {};
    const bool direct = stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
    if (direct && S_ISDIR(status.st_mode)) return Fail(EISDIR);
    if (!direct) temporary_ = TemporaryNameFor(path);
    const std::string& name = direct ? path : temporary_;
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (direct ? 0 : O_CREAT | O_TRUNC);
    owned_.Reset(open(name.c_str(), flags, 0666));
    if (!owned_) {
        temporary_.clear();
        return Fail(errno);
    }
    fd_ = owned_.get();
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (failed() || fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return Fail(errno);
        if (written == 0) return Fail(ENOSPC);
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool OutputFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (failed() || fd_ < 0) return false;
    const ssize_t written = pwrite(fd_, data, size, static_cast<off_t>(offset));
    if (written == static_cast<ssize_t>(size)) return true;
    if (written < 0 && errno == ESPIPE) return false; // a pipe or a terminal: not a failure
    return written < 0 ? Fail(errno) : Fail(ENOSPC);
}

bool OutputFile::Finish() {
    if (failed() || fd_ < 0) return false;
    // A full disk or a lost network file system may show only when the file is closed.
    const int closed = owned_ ? close(owned_.Release()) : 0;
    const int error = closed != 0 ? errno : 0;
    fd_ = -1;
    if (closed != 0) return Fail(error);
    if (!temporary_.empty() && rename(temporary_.c_str(), path_.c_str()) != 0) return Fail(errno);
    temporary_.clear();
    return true;
}

void OutputFile::Discard() {
    owned_.Reset();
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::Fail(int error) {
    if (error == EPIPE)
        error_ = "the reader of " + Describe(path_) + " closed it before the end";
    else
        error_ = "cannot write " + Describe(path_) + ": " + std::strerror(error);
    Discard();
    return false;
}

bool MakeFolder(const std::string& folder, std::string* error) {
    if (mkdir(folder.c_str(), 0777) == 0) return true;
    const int cause = errno;
    struct stat status {};
    if (cause == EEXIST && stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return true;
    *error = "cannot write into the folder " + folder + ": " +
             std::strerror(cause == EEXIST ? ENOTDIR : cause);
    return false;
}
