// The last sound file that could not be opened. The program asks for its sound again on every
// frame while none plays; reopening a file that cannot play 100 times a second costs the disk and,
// with some decoders, a little memory that is never given back. So an unchanged file that failed
// is refused from memory until a wait has passed: one second, doubling up to ten minutes. A file
// that changed (written, replaced, created, removed) is tried at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace sound {

// What stat tells of a path: enough to see that the file changed, appeared or went away.
struct FileIdentity {
    int statError = 0; // errno of a failed stat; 0 when it succeeded
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const char* path);

class FailedOpens {
  public:
    using Clock = std::chrono::steady_clock;

    // True when this path, opened as the same kind, failed last time, is unchanged, and its wait
    // has not passed; *error is then the error it failed with.
    bool Refuse(const char* path, bool module, const FileIdentity& identity, Clock::time_point now,
                int* error) const;
    // Remembers a failed open. True when the failure is news (another path or kind, or the file
    // changed) and worth telling; false when it repeats the one remembered.
    bool Failed(const char* path, bool module, const FileIdentity& identity, int error,
                Clock::time_point now);
    // Forgets the failure of a path that has now opened.
    void Opened(const char* path, bool module);

  private:
    bool Same(const char* path, bool module) const {
        return remembered_ && module == module_ && path_ == path;
    }

    bool remembered_ = false;
    std::string path_;
    bool module_ = false;
    FileIdentity identity_;
    int error_ = 0;
    Clock::duration wait_{};
    Clock::time_point retryAt_;
};

} // namespace sound
