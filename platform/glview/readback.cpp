// Reading back what the view drew and what the window showed, for tests and diagnostics.
#include "platform/glview/glview_internal.h"

#include <algorithm>

void CopyFlipped(const uint8_t* bottomUp, int width, int height, PixelImage* image) {
    image->width = width;
    image->height = height;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    image->rgba.resize(rowBytes * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        const uint8_t* from = bottomUp + rowBytes * static_cast<size_t>(height - 1 - row);
        std::copy(from, from + rowBytes, image->rgba.begin() + rowBytes * static_cast<size_t>(row));
    }
}

void ViewPictureSize(WindowHandle view, const ViewFramebuffer& fb, int* width, int* height) {
    GetClientSize(view, width, height);
    *width = std::min(*width, fb.width);
    *height = std::min(*height, fb.height);
}

void ReadViewPicture(const ViewFramebuffer& fb, int width, int height, uint8_t* pixels) {
    if (width <= 0 || height <= 0) return;
    GLint read = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, fb.direct ? 0 : fb.framebuffer);
    {
        PixelTransferScope transfer;
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    }
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
}

bool ReadViewPixels(WindowHandle glControl, PixelImage* image) {
    ViewFramebuffer* fb = ViewOf(glControl);
    if (!fb || !image || !fb->context->MakeCurrent()) return false;
    int width = 0;
    int height = 0;
    ViewPictureSize(glControl, *fb, &width, &height);
    std::vector<uint8_t> bottomUp(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    ReadViewPicture(*fb, width, height, bottomUp.data());
    CopyFlipped(bottomUp.data(), width, height, image);
    return true;
}

void KeepPresentedFrames(WindowHandle window, bool keep) {
    if (GlContext* context = ContextOf(window)) context->keepFrames = keep;
}

bool ReadPresentedPixels(WindowHandle window, PixelImage* image) {
    GlContext* context = ContextOf(window);
    if (!context || !image || context->frame.rgba.empty()) return false;
    CopyFlipped(context->frame.rgba.data(), context->frame.width, context->frame.height, image);
    return true;
}
