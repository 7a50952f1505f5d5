#include "platform/os/hand_over.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

uint32_t ReadLength(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t ReadShort(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A header that can only lead to a refusal: another program, another version, a request this
// copy does not know, or more text than any request has.
bool HeaderRefused(const uint8_t* header) {
    const uint16_t kind = ReadShort(header + 6);
    return std::memcmp(header, kHandOverMagic, sizeof kHandOverMagic) != 0 ||
           ReadShort(header + 4) != kHandOverVersion ||
           (kind != kHandOverPlay && kind != kHandOverListen) ||
           ReadLength(header + 8) > kHandOverMaxPath;
}

} // namespace

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

std::string EncodeHandOver(uint16_t kind, const std::string& text) {
    std::string request(kHandOverMagic, sizeof kHandOverMagic);
    for (const uint16_t field : {kHandOverVersion, kind})
        request += {static_cast<char>(field & 0xFF), static_cast<char>(field >> 8)};
    const auto length = static_cast<uint32_t>(text.size());
    for (int shift = 0; shift < 32; shift += 8)
        request += static_cast<char>((length >> shift) & 0xFF);
    return request + text;
}

bool ReadHandOver(int fd, int stopFd, HandOverRequest* request) {
    uint8_t buffer[kHandOverHeaderSize + kHandOverMaxPath + 1];
    size_t have = 0;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kHandOverReadTimeoutMs);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || fds[1].revents) return false;
        const ssize_t n = recv(fd, buffer + have, sizeof buffer - have, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return false;
        if (n == 0) break;
        have += static_cast<size_t>(n);
        if (have == sizeof buffer) return false; // more than the longest request
        if (have >= kHandOverHeaderSize && HeaderRefused(buffer)) return false;
    }
    if (have < kHandOverHeaderSize || HeaderRefused(buffer)) return false;
    const uint32_t length = ReadLength(buffer + 8);
    if (have != kHandOverHeaderSize + length) return false;
    const char* text = reinterpret_cast<const char*>(buffer + kHandOverHeaderSize);
    if (std::memchr(text, '\0', length)) return false;
    request->kind = ReadShort(buffer + 6);
    request->text.assign(text, length);
    return true;
}

bool SendAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
