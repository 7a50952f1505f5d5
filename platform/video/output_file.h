// A file that a render writes: whole under its final name, or not at all. A regular file is written
// under a hidden name beside it and renamed when it is complete, so a failed or stopped render
// leaves nothing half-written where a reader looks. Standard output ("-"), devices and pipes are
// written directly: they have no name to keep clean.
#pragma once

#include "platform/os/files.h"

#include <cstddef>
#include <cstdint>
#include <string>

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // A file not finished is removed.
    ~OutputFile();

    // Opens path ("-": standard output) for writing; false with the reason in Error().
    bool Open(const std::string& path);
    // Writes all of data; false, with the reason in Error(), from the first failure on.
    bool Write(const void* data, size_t size);
    // Writes data at a position from the file's start. False where the output cannot seek (which
    // is no failure) and on a failure.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    // Closes the file and gives it its final name; false with the reason in Error().
    bool Finish();
    // Closes and removes what was written, quietly.
    void Discard();

    bool failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    const std::string& path() const { return path_; }

  private:
    bool Fail(int error);

    std::string path_;
    std::string temporary_; // the hidden name while writing; empty when written directly
    int fd_ = -1;           // what is written to: owned_'s, or standard output's
    UniqueFd owned_;
    std::string error_;
};

// Creates folder if it does not exist; false with the reason in *error.
bool MakeFolder(const std::string& folder, std::string* error);
