#include "platform/os/hand_over.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLongestRequest = kHandOverHeaderSize + kHandOverMaxPath;

uint32_t ReadWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t ReadShort(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void AppendWord(std::string* bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        *bytes += static_cast<char>((word >> shift) & 0xFF);
}

bool KnownRequest(uint16_t request, uint32_t length) {
    const uint16_t kind = request & kHandOverRequestMask;
    const uint16_t options = request & ~kHandOverRequestMask;
    if (kind == kHandOverQuit) return options == 0 && length == 0; // nothing to go with an end
    return (kind == kHandOverPlay || kind == kHandOverListen) &&
           (options & ~kHandOverFullScreen) == 0;
}

// A header that can only lead to a refusal: another program, another layout, a request this copy
// does not know, or more text than any request has. All four bytes of the magic count: a program
// that happens to share three of them is another program.
bool HeaderRefused(const uint8_t* header) {
    const uint32_t length = ReadWord(header + 8);
    return std::memcmp(header, kHandOverMagic, sizeof kHandOverMagic) != 0 ||
           ReadShort(header + 4) != kHandOverVersion || length > kHandOverMaxPath ||
           !KnownRequest(ReadShort(header + 6), length);
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
    AppendWord(&request, static_cast<uint32_t>(text.size()));
    return request + text;
}

HandOverReader::State HandOverReader::Take(const void* data, size_t size, bool ended) {
    if (state_ != State::Reading) return state_;
    if (size > kLongestRequest - std::min(bytes_.size(), kLongestRequest))
        return state_ = State::Refused; // more than the longest request
    bytes_.append(static_cast<const char*>(data), size);
    return state_ = Check(ended);
}

HandOverReader::State HandOverReader::Check(bool ended) {
    const auto* header = reinterpret_cast<const uint8_t*>(bytes_.data());
    const bool wholeHeader = bytes_.size() >= kHandOverHeaderSize;
    if (wholeHeader && HeaderRefused(header)) return State::Refused;
    const size_t length = wholeHeader ? kHandOverHeaderSize + ReadWord(header + 8) : 0;
    if (wholeHeader && bytes_.size() > length) return State::Refused; // bytes to spare
    if (!ended) return State::Reading;
    if (!wholeHeader || bytes_.size() != length) return State::Refused; // bytes missing
    const char* text = bytes_.data() + kHandOverHeaderSize;
    if (std::memchr(text, '\0', length - kHandOverHeaderSize)) return State::Refused;
    return State::Whole;
}

HandOverReader::State HandOverReader::ReadFrom(int fd) {
    while (state_ == State::Reading) {
        char chunk[4096];
        const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0) return state_ = State::Refused;
        Take(chunk, static_cast<size_t>(n), n == 0);
    }
    return state_;
}

HandOverRequest HandOverReader::Request() const {
    HandOverRequest request;
    if (state_ != State::Whole) return request;
    request.kind = ReadShort(reinterpret_cast<const uint8_t*>(bytes_.data()) + 6);
    request.text = bytes_.substr(kHandOverHeaderSize);
    return request;
}

std::string EncodeHandOverAnswer(int32_t result, const std::string& line) {
    std::string answer(1, static_cast<char>(kHandOverAck));
    const size_t length = std::min(line.size(), kHandOverMaxLine);
    AppendWord(&answer, static_cast<uint32_t>(result));
    AppendWord(&answer, static_cast<uint32_t>(length));
    return answer.append(line, 0, length);
}

bool DecodeHandOverAnswer(const std::string& bytes, HandOverAnswer* answer) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.empty() || p[0] != kHandOverAck) return false;
    *answer = HandOverAnswer{};
    if (bytes.size() == 1) return true;
    if (bytes.size() < kHandOverAnswerHeaderSize) return false;
    const uint32_t length = ReadWord(p + 5);
    if (length > kHandOverMaxLine || bytes.size() != kHandOverAnswerHeaderSize + length)
        return false;
    answer->result = static_cast<int32_t>(ReadWord(p + 1));
    answer->line = bytes.substr(kHandOverAnswerHeaderSize);
    return true;
}

bool SendAll(int fd, const void* data, size_t size, Clock::time_point deadline) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{fd, POLLOUT, 0};
            const int ready = poll(&room, 1, MillisecondsLeft(deadline));
            if (ready == 0 || (ready < 0 && errno != EINTR)) return false;
            continue;
        }
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
