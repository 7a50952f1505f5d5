// libFuzzer target for the hand-over's reading: any bytes, cut anywhere, are either one whole
// request that encodes back to exactly those bytes, or refused; an answer likewise. Never a crash,
// an overread, or a request read from bytes that say something else.
#include "platform/os/hand_over.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The first byte says where the bytes are cut in two, as a socket may deliver them.
    const size_t cut = data[0] % size;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    HandOverReader reader;
    reader.Take(bytes.data(), cut, false);
    const auto state = reader.Take(bytes.data() + cut, bytes.size() - cut, true);
    if (state == HandOverReader::State::Reading) __builtin_trap(); // an ended client is decided
    if (state == HandOverReader::State::Whole) {
        const HandOverRequest request = reader.Request();
        if (EncodeHandOver(request.kind, request.text) != bytes) __builtin_trap();
    }
    HandOverAnswer answer;
    if (DecodeHandOverAnswer(bytes, &answer) && bytes.size() > 1 &&
        EncodeHandOverAnswer(answer.result, answer.line) != bytes)
        __builtin_trap();
    return 0;
}
