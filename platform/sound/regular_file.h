// Opening a file to decode without ever blocking: the open does not wait (a FIFO or a device node
// would otherwise hang the caller), and only regular files with content are accepted.
#pragma once

#include <cstdint>
#include <string>

namespace sound {

class RegularFile {
  public:
    RegularFile() = default;
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    ~RegularFile();

    // Returns BASS_OK, or the library error code that says why path cannot be decoded; then, when
    // reason is given, writes the cause in a few words.
    int Open(const char* path, std::string* reason = nullptr);
    int descriptor() const { return descriptor_; }
    uint64_t size() const { return size_; }

  private:
    int descriptor_ = -1;
    uint64_t size_ = 0;
};

} // namespace sound
