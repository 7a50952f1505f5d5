#include "platform/glview/picture_decoder.h"

#include "platform/glview/image_header.h"
#include "platform/os/files.h"

#include <SDL.h>
#include <SDL_image.h>
#include <dirent.h>
#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// The pictures are a few hundred pixels a side; 16 million pixels (64 MB decoded) is far beyond
// any of them and still quick to decode.
constexpr int64_t kPixelBudget = int64_t{1} << 24;
// A file larger than this is no picture the program shows, whatever its header says.
constexpr uint64_t kMaxFileBytes = uint64_t{128} << 20;
// What the prefetch lets through before any GL context tells the real largest texture; every
// OpenGL 3 context takes at least this, and the upload checks the context's own limit again.
constexpr int kPrefetchSide = 16384;

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// The whole file; a FIFO or a device is refused without waiting on it.
std::string ReadPictureFile(const std::string& path, std::vector<uint8_t>* bytes) {
    switch (const int error = ReadWholeFile(path, kMaxFileBytes, bytes)) {
    case 0:
        return std::string();
    case EISDIR:
    case EINVAL:
        return "it is not a regular file";
    case EFBIG:
        return "the file is larger than 128 MB";
    default:
        return std::strerror(error);
    }
}

std::string SizeRefused(int64_t width, int64_t height, int maxSide) {
    char text[160];
    if (width > maxSide || height > maxSide) {
        std::snprintf(
            text, sizeof text, "its %lld x %lld pixels exceed the largest texture, %d x %d",
            static_cast<long long>(width), static_cast<long long>(height), maxSide, maxSide);
        return text;
    }
    if (width * height > kPixelBudget) {
        std::snprintf(text, sizeof text, "its %lld x %lld pixels are more than %lld million",
                      static_cast<long long>(width), static_cast<long long>(height),
                      static_cast<long long>(kPixelBudget >> 20));
        return text;
    }
    return std::string();
}

std::string CheckHeader(const std::vector<uint8_t>& bytes, int maxSide) {
    ImageHeader header;
    switch (ReadImageHeader(bytes.data(), bytes.size(), &header)) {
    case HeaderResult::UnknownFormat:
        return "it is not a PNG, JPEG, GIF or BMP picture";
    case HeaderResult::Malformed:
        return "its header is damaged";
    case HeaderResult::Read:
        break;
    }
    return SizeRefused(header.width, header.height, maxSide);
}

// The surface's rows, bottom row first, as tightly packed RGBA.
std::vector<uint8_t> BottomUp(const SDL_Surface& rgba) {
    const size_t rowBytes = static_cast<size_t>(rgba.w) * 4;
    std::vector<uint8_t> pixels(rowBytes * static_cast<size_t>(rgba.h));
    const uint8_t* source = static_cast<const uint8_t*>(rgba.pixels);
    for (int row = 0; row < rgba.h; ++row)
        std::memcpy(pixels.data() + rowBytes * static_cast<size_t>(rgba.h - 1 - row),
                    source + static_cast<size_t>(rgba.pitch) * static_cast<size_t>(row), rowBytes);
    return pixels;
}

// The next mipmap level: each texel the mean of the two by two (at an odd edge, fewer) below it.
std::vector<uint8_t> HalfLevel(const std::vector<uint8_t>& level, int width, int height) {
    const int w = std::max(1, width / 2);
    const int h = std::max(1, height / 2);
    std::vector<uint8_t> half(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    for (int y = 0; y < h; ++y) {
        const int y0 = std::min(2 * y, height - 1), y1 = std::min(2 * y + 1, height - 1);
        for (int x = 0; x < w; ++x) {
            const int x0 = std::min(2 * x, width - 1), x1 = std::min(2 * x + 1, width - 1);
            for (int c = 0; c < 4; ++c) {
                const auto at = [&](int px, int py) {
                    return level[(static_cast<size_t>(py) * static_cast<size_t>(width) +
                                  static_cast<size_t>(px)) *
                                     4 +
                                 static_cast<size_t>(c)];
                };
                const int sum = at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1);
                half[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) *
                         4 +
                     static_cast<size_t>(c)] = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    return half;
}

struct Prefetch {
    std::mutex mutex;
    std::thread thread;
    std::map<std::string, DecodedPicture> pictures;
};

Prefetch& ThePrefetch() {
    // Never destroyed: a thread still decoding at exit must find it.
    static auto* prefetch = new Prefetch;
    return *prefetch;
}

void DecodeFolder(std::string folder, std::map<std::string, DecodedPicture>* pictures) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".png") != 0) continue;
        const std::string path = folder + name;
        (*pictures)[path] = DecodePicture(path, kPrefetchSide);
    }
    closedir(dir);
    // A picture that failed left SDL's error text in this thread's storage, which SDL frees by
    // itself only for threads it made.
    SDL_TLSCleanup();
}

} // namespace

DecodedPicture DecodePicture(const std::string& path, int maxSide) {
    DecodedPicture picture;
    std::vector<uint8_t> bytes;
    picture.reason = ReadPictureFile(path, &bytes);
    if (picture.reason.empty()) picture.reason = CheckHeader(bytes, maxSide);
    if (!picture.reason.empty()) return picture;
    SurfacePtr image(
        IMG_Load_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1));
    SurfacePtr rgba(image ? SDL_ConvertSurfaceFormat(image.get(), SDL_PIXELFORMAT_RGBA32, 0)
                          : nullptr);
    // The decoder may see a size other than the header's (a GIF's frame); it must fit as well.
    if (!rgba || rgba->w > maxSide || rgba->h > maxSide || SDL_LockSurface(rgba.get()) != 0) {
        picture.reason = std::string("it cannot be decoded: ") + IMG_GetError();
        return picture;
    }
    picture.width = rgba->w;
    picture.height = rgba->h;
    picture.levels.push_back(BottomUp(*rgba));
    SDL_UnlockSurface(rgba.get());
    for (int w = picture.width, h = picture.height; w > 1 || h > 1;
         w = std::max(1, w / 2), h = std::max(1, h / 2))
        picture.levels.push_back(HalfLevel(picture.levels.back(), w, h));
    return picture;
}

void PrefetchPictures(const std::string& folder) {
    Prefetch& prefetch = ThePrefetch();
    std::lock_guard<std::mutex> lock(prefetch.mutex);
    if (prefetch.thread.joinable()) return;
    prefetch.thread = std::thread(DecodeFolder, folder, &prefetch.pictures);
}

DecodedPicture TakeDecodedPicture(const std::string& path, int maxSide) {
    Prefetch& prefetch = ThePrefetch();
    {
        std::lock_guard<std::mutex> lock(prefetch.mutex);
        if (prefetch.thread.joinable()) prefetch.thread.join();
        auto found = prefetch.pictures.find(path);
        if (found != prefetch.pictures.end()) {
            DecodedPicture picture = std::move(found->second);
            prefetch.pictures.erase(found);
            if (picture.reason.empty())
                picture.reason = SizeRefused(picture.width, picture.height, maxSide);
            return picture;
        }
    }
    return DecodePicture(path, maxSide);
}

void ForgetPrefetchedPictures() {
    Prefetch& prefetch = ThePrefetch();
    std::lock_guard<std::mutex> lock(prefetch.mutex);
    if (prefetch.thread.joinable()) prefetch.thread.join();
    prefetch.pictures.clear();
    // The decoded pictures were several megabytes, much of it in the decoding thread's own heap:
    // give back to the system what they held, rather than keep it resident for good.
    malloc_trim(0);
}
