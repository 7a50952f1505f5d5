// The hand-over's messages on the wire (their layout is in single_instance.h): what a later copy
// sends and how the first copy reads it, whole or not at all, and the first copy's answer.
#pragma once

#include "platform/os/single_instance.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

struct HandOverRequest {
    uint16_t kind = kHandOverPlay; // with kHandOverFullScreen, when it was asked for
    std::string text;              // the path to play, the source to listen to; may be empty
};

std::string EncodeHandOver(uint16_t kind, const std::string& text);

// One request as its bytes arrive, on a connection of its own. Refused as soon as it cannot be a
// request this copy obeys: a header of another program, of another layout, a request it does not
// know, a text too long or with a NUL in it, bytes missing or to spare at the end.
class HandOverReader {
  public:
    enum class State { Reading, Whole, Refused };
    // Takes the next bytes; ended: the client has shut its side down, nothing more comes.
    State Take(const void* data, size_t size, bool ended);
    // Reads what the socket holds now, without waiting.
    State ReadFrom(int fd);
    State state() const { return state_; }
    // Once Whole: the request.
    HandOverRequest Request() const;

  private:
    State Check(bool ended);

    std::string bytes_;
    State state_ = State::Reading;
};

// The first copy's answer once its window has obeyed: what the window answered (for a file,
// whether it plays) and its line about it, cut to kHandOverMaxLine bytes.
std::string EncodeHandOverAnswer(int32_t result, const std::string& line);
// Reads an answer that has ended. False for anything but an answer: then the request was not
// obeyed. The bare acknowledgement an older copy answers with counts as obeyed, with nothing said.
bool DecodeHandOverAnswer(const std::string& bytes, HandOverAnswer* answer);

// Sends all the bytes, however the socket cuts them, waiting for room until the deadline; false
// when the peer has gone or the deadline passed.
bool SendAll(int fd, const void* data, size_t size, std::chrono::steady_clock::time_point deadline);

// Milliseconds from now to deadline, for poll: 0 once it has passed.
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);
