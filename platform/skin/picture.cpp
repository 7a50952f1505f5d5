// The picture control: a PNG picture scaled to the control's rectangle.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

namespace {

constexpr const char* kPictureClass = "SkinPicture";

struct PictureState final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Control;
    Picture picture;
};

void PaintPictureControl(WindowHandle control, cairo_t* cr, int width, int height) {
    if (const PictureState* state = GetAttachment<PictureState>(control))
        PaintPicture(cr, state->picture.get(), width, height);
}

intptr_t PictureProc(WindowHandle control, const Message& message) {
    if (message.id == WM_CREATE) SetChromePainter(control, PaintPictureControl);
    return DefWindowProc(control, message);
}

} // namespace

WindowHandle skStaticImage(WindowHandle parent, const char* image, int x, int y, int width,
                           int height, int id) {
    if (!CurrentSkin() || !IsWindow(parent) || !image) return nullptr;
    static const bool registered = RegisterChildClass(kPictureClass, PictureProc);
    if (!registered) return nullptr;
    auto state = std::make_unique<PictureState>();
    state->picture = LoadPicture(image);
    if (!state->picture) return nullptr;
    WindowHandle control = CreateChildWindow(kPictureClass, parent, id, x, y, width, height);
    if (control) Attach(control, std::move(state));
    return control;
}

bool IsSkinPicture(WindowHandle window) {
    return dynamic_cast<PictureState*>(GetWindowAttachment(window, AttachmentSlot::Control));
}
