#include "platform/video/png_frames.h"

#include <cairo.h>

#include <cinttypes>
#include <cstdio>

namespace {

cairo_status_t WriteToFile(void* file, const unsigned char* data, unsigned int length) {
    return static_cast<OutputFile*>(file)->Write(data, length) ? CAIRO_STATUS_SUCCESS
                                                               : CAIRO_STATUS_WRITE_ERROR;
}

} // namespace

PngFrames::~PngFrames() {
    if (surface_) cairo_surface_destroy(surface_);
}

bool PngFrames::Start(const std::string& folder, int width, int height) {
    if (!MakeFolder(folder, &error_)) return false;
    folder_ = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    width_ = width;
    height_ = height;
    // Opaque pixels: what the view's alpha holds is the sum of blended sprites, not coverage.
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        error_ = "no memory for a picture of " + std::to_string(width) + " x " +
                 std::to_string(height) + " pixels";
        return false;
    }
    return true;
}

bool PngFrames::WriteFrame(const uint8_t* rgba, int64_t number) {
    cairo_surface_flush(surface_);
    unsigned char* pixels = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int row = 0; row < height_; ++row) {
        const uint8_t* from = rgba + static_cast<size_t>(width_) * 4 * (height_ - 1 - row);
        auto* to = reinterpret_cast<uint32_t*>(pixels + static_cast<ptrdiff_t>(stride) * row);
        for (int x = 0; x < width_; ++x, from += 4)
            to[x] = uint32_t{from[0]} << 16 | uint32_t{from[1]} << 8 | from[2];
    }
    cairo_surface_mark_dirty(surface_);

    char name[32];
    std::snprintf(name, sizeof name, "%06" PRId64 ".png", number);
    if (!file_.Open(folder_ + name)) {
        error_ = file_.Error();
        return false;
    }
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface_, WriteToFile, &file_);
    if (status != CAIRO_STATUS_SUCCESS || !file_.Finish()) {
        error_ = file_.failed() ? file_.Error()
                                : std::string("cannot write ") + folder_ + name + ": " +
                                      cairo_status_to_string(status);
        file_.Discard();
        return false;
    }
    return true;
}
