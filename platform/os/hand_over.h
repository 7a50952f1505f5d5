// The hand-over's message on the wire (its layout is in single_instance.h): what a later copy
// sends, and the first copy's reading of it, whole or not at all.
#pragma once

#include "platform/os/single_instance.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

struct HandOverRequest {
    uint16_t kind = kHandOverPlay;
    std::string text; // the path to play, the source to listen to; may be empty
};

std::string EncodeHandOver(uint16_t kind, const std::string& text);

// Reads one whole request, or nothing: a header of another program, version or request, a text
// too long, bytes missing or to spare at the end, a NUL inside, or a client still not done at the
// deadline. Never waits past the deadline, however slowly the bytes trickle in, and gives up at
// once when stopFd becomes readable.
bool ReadHandOver(int fd, int stopFd, HandOverRequest* request);

// Sends all the bytes, however the socket cuts them; false when the peer has gone.
bool SendAll(int fd, const void* data, size_t size);

// Milliseconds from now to deadline, for poll: 0 once it has passed.
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);
