#include "platform/video/wav.h"

#include <bit>
#include <cstring>

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint16_t kChannels = 2;
constexpr uint16_t kBytesPerSample = 4;
constexpr uint16_t kFloatFormat = 3; // WAVE_FORMAT_IEEE_FLOAT
constexpr size_t kHeaderBytes = 58;  // RIFF, fmt with its extension size, fact, data

void Put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, static_cast<uint16_t>(value));
    Put16(at + 2, static_cast<uint16_t>(value >> 16));
}

// The header for frames stereo frames; sizes beyond what the format holds stay at its maximum.
void MakeHeader(uint64_t frames, uint8_t* h) {
    const uint64_t data = frames * kChannels * kBytesPerSample;
    const uint32_t dataSize = data > 0xFFFFFFFFu - kHeaderBytes ? 0xFFFFFFFFu - kHeaderBytes
                                                                : static_cast<uint32_t>(data);
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, static_cast<uint32_t>(kHeaderBytes - 8 + dataSize));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 18);
    Put16(h + 20, kFloatFormat);
    Put16(h + 22, kChannels);
    Put32(h + 24, kRate);
    Put32(h + 28, kRate * kChannels * kBytesPerSample);
    Put16(h + 32, kChannels * kBytesPerSample);
    Put16(h + 34, 8 * kBytesPerSample);
    Put16(h + 36, 0); // no extension
    std::memcpy(h + 38, "fact", 4);
    Put32(h + 42, 4);
    Put32(h + 46, static_cast<uint32_t>(dataSize / (kChannels * kBytesPerSample)));
    std::memcpy(h + 50, "data", 4);
    Put32(h + 54, dataSize);
}

} // namespace

bool WavWriter::Start(OutputFile* file) {
    file_ = file;
    frames_ = 0;
    uint8_t header[kHeaderBytes];
    MakeHeader(~uint64_t{0}, header);
    return file_->Write(header, sizeof header);
}

bool WavWriter::Write(const float* frames, size_t count) {
    // The samples go out as the machine holds them: little-endian floats on every machine this
    // program is built for.
    static_assert(sizeof(float) == kBytesPerSample && std::endian::native == std::endian::little);
    frames_ += count;
    return file_->Write(frames, count * kChannels * sizeof(float));
}

bool WavWriter::Complete() {
    uint8_t header[kHeaderBytes];
    MakeHeader(frames_, header);
    if (file_->WriteAt(0, header, sizeof header)) return true;
    // A pipe: the reader has had the open-ended header already.
    return !file_->failed();
}
