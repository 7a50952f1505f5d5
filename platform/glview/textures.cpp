// Texture records: each record's image decoded with SDL2_image into an RGBA 2D texture.
#include "platform/glview/glview_internal.h"
#include "platform/glview/porvane.h"

#include <SDL_image.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

void FlipRows(uint8_t* pixels, int rowBytes, int rows) {
    for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(pixels + static_cast<ptrdiff_t>(top) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(top + 1) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(bottom) * rowBytes);
    }
}

// Decodes one image into a new texture. OpenGL's first row is the bottom one, so the image is
// stored bottom row first and a quad with t growing upwards shows it upright.
GLuint LoadTexture(const TextureRecord& record) {
    if (strnlen(record.path, sizeof record.path) == sizeof record.path) return 0;
    SurfacePtr image(record.path[0] ? IMG_Load(record.path) : nullptr);
    if (!image) return 0;
    SurfacePtr rgba(SDL_ConvertSurfaceFormat(image.get(), SDL_PIXELFORMAT_RGBA32, 0));
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (!rgba || rgba->w > maxSize || rgba->h > maxSize || SDL_LockSurface(rgba.get()) != 0)
        return 0;
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
    SDL_UnlockSurface(rgba.get());
    return name;
}

} // namespace

int QI_MakeMultipleTexture(TextureRecord* first, int count) {
    if (!first || count <= 0 || !SDL_GL_GetCurrentContext()) return 0;
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    bool all = true;
    {
        PixelTransferScope pixels;
        for (int i = 0; i < count; ++i) {
            first[i].glName = static_cast<int32_t>(LoadTexture(first[i]));
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
