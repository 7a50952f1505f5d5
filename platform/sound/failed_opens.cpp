#include "platform/sound/failed_opens.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace sound {

namespace {

constexpr FailedOpens::Clock::duration kFirstWait = std::chrono::seconds(1);
constexpr FailedOpens::Clock::duration kLongestWait = std::chrono::minutes(10);

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

} // namespace

FileIdentity IdentityOf(const char* path) {
    FileIdentity identity;
    struct stat status {};
    if (!path || stat(path, &status) != 0) {
        identity.statError = path ? errno : ENOENT;
        return identity;
    }
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = status.st_size;
    identity.modifiedNs = Nanoseconds(status.st_mtim);
    identity.changedNs = Nanoseconds(status.st_ctim);
    return identity;
}

bool FailedOpens::Refuse(const char* path, bool module, const FileIdentity& identity,
                         Clock::time_point now, int* error) const {
    if (!Same(path, module) || !(identity == identity_) || now >= retryAt_) return false;
    *error = error_;
    return true;
}

bool FailedOpens::Failed(const char* path, bool module, const FileIdentity& identity, int error,
                         Clock::time_point now) {
    const bool repeated = Same(path, module) && identity == identity_;
    wait_ = repeated ? std::min(wait_ * 2, kLongestWait) : kFirstWait;
    if (!repeated) {
        remembered_ = true;
        path_ = path;
        module_ = module;
        identity_ = identity;
    }
    error_ = error;
    retryAt_ = now + wait_;
    return !repeated;
}

void FailedOpens::Opened(const char* path, bool module) {
    if (Same(path, module)) remembered_ = false;
}

} // namespace sound
