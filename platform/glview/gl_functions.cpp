// The OpenGL entry points beyond version 1.1 and the pixel-transfer state the library uses.
#include "platform/glview/glview_internal.h"

GlFunctions gl;

namespace {

template <typename F> bool Load(F* function, const char* name) {
    *function = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return *function != nullptr;
}

void SetPixelStore() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
}

} // namespace

bool LoadGlFunctions() {
    return Load(&gl.activeTexture, "glActiveTexture") && Load(&gl.useProgram, "glUseProgram") &&
           Load(&gl.bindBuffer, "glBindBuffer") && Load(&gl.genFramebuffers, "glGenFramebuffers") &&
           Load(&gl.deleteFramebuffers, "glDeleteFramebuffers") &&
           Load(&gl.bindFramebuffer, "glBindFramebuffer") &&
           Load(&gl.framebufferTexture2D, "glFramebufferTexture2D") &&
           Load(&gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(&gl.checkFramebufferStatus, "glCheckFramebufferStatus") &&
           Load(&gl.genRenderbuffers, "glGenRenderbuffers") &&
           Load(&gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
           Load(&gl.bindRenderbuffer, "glBindRenderbuffer") &&
           Load(&gl.renderbufferStorage, "glRenderbufferStorage") &&
           Load(&gl.blitFramebuffer, "glBlitFramebuffer") &&
           Load(&gl.generateMipmap, "glGenerateMipmap");
}

PixelTransferScope::PixelTransferScope() {
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpack_);
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    SetPixelStore();
    gl.bindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    gl.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

PixelTransferScope::~PixelTransferScope() {
    glPopClientAttrib();
    gl.bindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpack_));
    gl.bindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_));
}

void SetPixelCopyParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}
