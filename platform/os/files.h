// Files as the platform layer reads them: one owner for a descriptor, and the whole of a regular
// file read without ever waiting on something that is not one (a FIFO would wait for a writer, a
// device for input).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Owns one file descriptor and closes it when it goes; moves, never copies.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    // Closes what it holds and takes fd instead.
    void Reset(int fd = -1);
    // Hands the descriptor over without closing it.
    int Release();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Opens a regular file for reading, without waiting: a folder is refused with EISDIR, any other
// kind of file (a FIFO, a device) with EINVAL. 0, or the errno value that says why not; *size is
// the file's size.
int OpenRegularFile(const std::string& path, UniqueFd* file, uint64_t* size);

// Reads size bytes from fd into *bytes: 0, or the errno value of the failure (EIO when the file
// ends sooner).
int ReadExactly(int fd, uint64_t size, std::vector<uint8_t>* bytes);

// The whole of the regular file at path, opened as OpenRegularFile opens it; one larger than limit
// bytes is refused with EFBIG before it is read. 0, or the errno value that says why not.
int ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes);
