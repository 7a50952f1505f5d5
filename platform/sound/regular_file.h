// Opening a file to decode without ever blocking: the open does not wait (a FIFO or a device node
// would otherwise hang the caller), and only regular files with content are accepted.
#pragma once

#include "platform/os/files.h"

#include <cstdint>
#include <string>

namespace sound {

class RegularFile {
  public:
    RegularFile() = default;
    RegularFile(RegularFile&& other) noexcept = default;
    RegularFile& operator=(RegularFile&& other) noexcept = default;

    // Returns BASS_OK, or the library error code that says why path cannot be decoded; then, when
    // reason is given, writes the cause in a few words.
    int Open(const char* path, std::string* reason = nullptr);
    int descriptor() const { return file_.get(); }
    uint64_t size() const { return size_; }

  private:
    UniqueFd file_;
    uint64_t size_ = 0;
};

} // namespace sound
