#include "platform/video/y4m.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kFrameMarker[] = "FRAME\n";
constexpr size_t kFrameMarkerBytes = sizeof kFrameMarker - 1;

// BT.709 at limited range in 16-bit fixed point: luma spans 219 steps, chroma 224, over 255.
constexpr double kR = 0.2126, kG = 0.7152, kB = 0.0722;
constexpr int Fixed(double c) {
    return static_cast<int>(c * 65536.0 + (c < 0 ? -0.5 : 0.5));
}
constexpr int kYR = Fixed(219.0 / 255 * kR), kYG = Fixed(219.0 / 255 * kG),
              kYB = Fixed(219.0 / 255 * kB);
constexpr double kCb = 224.0 / 255 / (2 * (1 - kB)), kCr = 224.0 / 255 / (2 * (1 - kR));
constexpr int kUR = Fixed(-kR * kCb), kUG = Fixed(-kG * kCb), kUB = Fixed((1 - kB) * kCb);
constexpr int kVR = Fixed((1 - kR) * kCr), kVG = Fixed(-kG * kCr), kVB = Fixed(-kB * kCr);

inline uint8_t Luma(const uint8_t* p) {
    return static_cast<uint8_t>((kYR * p[0] + kYG * p[1] + kYB * p[2] + (16 << 16) + (1 << 15)) >>
                                16);
}

// The chroma of a 2 x 2 block from its summed red, green and blue (each 0 to 1020).
inline uint8_t Chroma(int cr, int cg, int cb, int r, int g, int b) {
    return static_cast<uint8_t>((cr * r + cg * g + cb * b + (128 << 18) + (1 << 17)) >> 18);
}

} // namespace

void ConvertToYuv420(const uint8_t* rgba, int width, int height, uint8_t* y, uint8_t* u,
                     uint8_t* v) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; row += 2) {
        // Our picture's top row is the last one OpenGL gave.
        const uint8_t* upper = rgba + stride * static_cast<size_t>(height - 1 - row);
        const uint8_t* lower = upper - stride;
        uint8_t* y0 = y + static_cast<size_t>(row) * static_cast<size_t>(width);
        uint8_t* y1 = y0 + width;
        const size_t c = static_cast<size_t>(row / 2) * static_cast<size_t>(width / 2);
        for (int x = 0; x < width; x += 2) {
            const uint8_t* a = upper + 4 * x;
            const uint8_t* b = lower + 4 * x;
            y0[x] = Luma(a);
            y0[x + 1] = Luma(a + 4);
            y1[x] = Luma(b);
            y1[x + 1] = Luma(b + 4);
            const int r = a[0] + a[4] + b[0] + b[4];
            const int g = a[1] + a[5] + b[1] + b[5];
            const int bl = a[2] + a[6] + b[2] + b[6];
            u[c + static_cast<size_t>(x / 2)] = Chroma(kUR, kUG, kUB, r, g, bl);
            v[c + static_cast<size_t>(x / 2)] = Chroma(kVR, kVG, kVB, r, g, bl);
        }
    }
}

bool Y4mWriter::Start(OutputFile* file, int width, int height, int fps) {
    file_ = file;
    width_ = width;
    height_ = height;
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    frameBytes_ = kFrameMarkerBytes + luma + luma / 2;
    frame_ = std::make_unique<uint8_t[]>(frameBytes_);
    std::memcpy(frame_.get(), kFrameMarker, kFrameMarkerBytes);
    char header[160];
    const int length = std::snprintf(
        header, sizeof header,
        "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED\n", width,
        height, fps);
    return file_->Write(header, static_cast<size_t>(length));
}

bool Y4mWriter::WriteFrame(const uint8_t* rgba) {
    const size_t luma = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    uint8_t* y = frame_.get() + kFrameMarkerBytes;
    ConvertToYuv420(rgba, width_, height_, y, y + luma, y + luma + luma / 4);
    return file_->Write(frame_.get(), frameBytes_);
}
