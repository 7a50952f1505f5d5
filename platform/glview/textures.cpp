// Texture records: each record's picture made a mipmapped RGBA 2D texture.
//
// A record's path is the program's own: a name without a folder is found in the Resource folder
// beside the executable, so the records' 260 bytes hold the name whatever the install folder.
// Every picture is checked before it is decoded (picture_decoder.h), and the largest texture the
// context takes is checked again before upload. One line on stderr says why a picture is not
// shown. The pictures of the Resource folder are decoded while the GL driver starts.
#include "platform/glview/glview_internal.h"
#include "platform/glview/picture_decoder.h"
#include "platform/glview/porvane.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Makes a texture of the decoded picture with all its levels. OpenGL's first row is the bottom
// one, as the picture's rows are stored, so a quad with t growing upwards shows it upright. The
// pictures are shown far smaller than they are stored (512 pixels at about 200): sampled from the
// nearest level of the mipmap they stay smooth at any size of the window, and the sampler reads
// no texels that the small picture skips.
GLuint UploadTexture(const DecodedPicture& picture) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Clamped, so the edges of a picture do not blend in its opposite edge.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    int w = picture.width;
    int h = picture.height;
    for (size_t level = 0; level < picture.levels.size(); ++level) {
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_RGBA8, w, h, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, picture.levels[level].data());
        w = std::max(1, w / 2);
        h = std::max(1, h / 2);
    }
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
    const DecodedPicture picture = TakeDecodedPicture(path, maxSide);
    if (picture.reason.empty())
        record->glName = static_cast<int32_t>(UploadTexture(picture));
    else
        std::fprintf(stderr, "vormel: picture %s not loaded: %s\n", path.c_str(),
                     picture.reason.c_str());
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
    ForgetPrefetchedPictures();
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
