// Texture records: each record's image decoded with SDL2_image into an RGBA 2D texture.
//
// A record's path is the program's own: a name without a folder is found in the Resource folder
// beside the executable, so the records' 260 bytes hold the name whatever the install folder.
// Every picture is checked before it is decoded: a regular file of sane size, a format whose header
// we read (PNG, JPEG, GIF, BMP), and a size that fits the largest texture and a pixel budget. One
// line on stderr says why a picture is not shown.
#include "platform/glview/glview_internal.h"
#include "platform/glview/image_header.h"
#include "platform/glview/porvane.h"

#include <SDL_image.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The pictures are a few hundred pixels a side; 16 million pixels (64 MB decoded) is far beyond
// any of them and still quick to decode.
constexpr int64_t kPixelBudget = int64_t{1} << 24;
// A file larger than this is no picture the program shows, whatever its header says.
constexpr off_t kMaxFileBytes = off_t{128} << 20;

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Why a picture was not loaded, in a few words; empty when it was.
using Reason = std::string;

std::string ResourceFolder() {
    return ExecutableFolder() + "Resource/";
}

// The whole file; a FIFO or a device is refused without waiting on it.
Reason ReadPictureFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) return std::strerror(errno);
    struct stat status {};
    if (fstat(file.get(), &status) != 0) return std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "it is not a regular file";
    if (status.st_size > kMaxFileBytes) return "the file is larger than 128 MB";
    bytes->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = read(file.get(), bytes->data() + done, bytes->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::strerror(errno);
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    bytes->resize(done);
    return Reason();
}

Reason CheckSize(const std::vector<uint8_t>& bytes, GLint maxSide) {
    ImageHeader header;
    switch (ReadImageHeader(bytes.data(), bytes.size(), &header)) {
    case HeaderResult::UnknownFormat:
        return "it is not a PNG, JPEG, GIF or BMP picture";
    case HeaderResult::Malformed:
        return "its header is damaged";
    case HeaderResult::Read:
        break;
    }
    char text[160];
    if (header.width > maxSide || header.height > maxSide) {
        std::snprintf(text, sizeof text,
                      "its %lld x %lld pixels exceed the largest texture, %d x %d",
                      static_cast<long long>(header.width), static_cast<long long>(header.height),
                      maxSide, maxSide);
        return text;
    }
    if (header.width * header.height > kPixelBudget) {
        std::snprintf(text, sizeof text, "its %lld x %lld pixels are more than %lld million",
                      static_cast<long long>(header.width), static_cast<long long>(header.height),
                      static_cast<long long>(kPixelBudget >> 20));
        return text;
    }
    return Reason();
}

void FlipRows(uint8_t* pixels, int rowBytes, int rows) {
    for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(pixels + static_cast<ptrdiff_t>(top) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(top + 1) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(bottom) * rowBytes);
    }
}

// Makes a texture of the decoded picture. OpenGL's first row is the bottom one, so the image is
// stored bottom row first and a quad with t growing upwards shows it upright.
GLuint UploadTexture(SDL_Surface* rgba) {
    uint8_t* pixels = static_cast<uint8_t*>(rgba->pixels);
    FlipRows(pixels, rgba->pitch, rgba->h);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Clamped, so the edges of a picture do not blend in its opposite edge.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rgba->w, rgba->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels);
    return name;
}

// Loads one picture into a new texture; 0 with the reason when it cannot be shown.
GLuint LoadTexture(const std::string& path, GLint maxSide, Reason* reason) {
    std::vector<uint8_t> bytes;
    *reason = ReadPictureFile(path, &bytes);
    if (reason->empty()) *reason = CheckSize(bytes, maxSide);
    if (!reason->empty()) return 0;
    SurfacePtr image(
        IMG_Load_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1));
    SurfacePtr rgba(image ? SDL_ConvertSurfaceFormat(image.get(), SDL_PIXELFORMAT_RGBA32, 0)
                          : nullptr);
    // The decoder may see a size other than the header's (a GIF's frame); it must fit as well.
    if (!rgba || rgba->w > maxSide || rgba->h > maxSide || SDL_LockSurface(rgba.get()) != 0) {
        *reason = std::string("it cannot be decoded: ") + IMG_GetError();
        return 0;
    }
    const GLuint name = UploadTexture(rgba.get());
    SDL_UnlockSurface(rgba.get());
    return name;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Fills one record. A missing resource folder has been told once already, not per picture.
void LoadRecord(TextureRecord* record, GLint maxSide, bool resourcesMissing) {
    record->glName = 0;
    const size_t length = strnlen(record->path, sizeof record->path);
    if (length == 0) return; // no picture asked for
    if (length == sizeof record->path) {
        std::fprintf(stderr, "vormel: picture %d not loaded: its path is not terminated\n",
                     record->number);
        return;
    }
    const bool named = record->path[0] != '/';
    if (named && resourcesMissing) return;
    const std::string path = named ? ResourceFolder() + record->path : std::string(record->path);
    Reason reason;
    record->glName = static_cast<int32_t>(LoadTexture(path, maxSide, &reason));
    if (record->glName == 0)
        std::fprintf(stderr, "vormel: picture %s not loaded: %s\n", path.c_str(), reason.c_str());
}

} // namespace

int QI_MakeMultipleTexture(TextureRecord* first, int count) {
    if (!first || count <= 0 || !SDL_GL_GetCurrentContext()) return 0;
    bool named = false;
    for (int i = 0; i < count; ++i)
        named = named || (first[i].path[0] != '\0' && first[i].path[0] != '/');
    const bool resourcesMissing = named && !IsFolder(ResourceFolder());
    if (resourcesMissing)
        std::fprintf(stderr, "vormel: the folder %s is missing: the pictures cannot be shown\n",
                     ResourceFolder().c_str());
    GLint texture = 0;
    GLint maxSide = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    bool all = true;
    {
        PixelTransferScope pixels;
        for (int i = 0; i < count; ++i) {
            LoadRecord(&first[i], maxSide, resourcesMissing);
            all = all && first[i].glName != 0;
        }
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    return all ? -1 : 0;
}

int QI_DestroyTexture(TextureRecord* first, int count) {
    if (!first || count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
        if (first[i].glName == 0) continue;
        const GLuint name = static_cast<GLuint>(first[i].glName);
        if (SDL_GL_GetCurrentContext()) glDeleteTextures(1, &name);
        first[i].glName = 0;
    }
    return -1;
}
