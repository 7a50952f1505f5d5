// The skin's calls on other controls: the look of labels, how controls follow the window's
// resizing, and their stacking.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include "platform/os/controls.h"

#include <algorithm>

namespace {

// Labels are the only other controls the skin dresses; its own keep other state in the slot a
// label keeps its style in, so they are told apart first.
bool MayStyleAsLabel(WindowHandle control) {
    return IsWindow(control) && GetTopLevelWindow(control) != control && !IsSkinClock(control) &&
           !IsSkinPicture(control);
}

LabelStyle SkinLabelStyle(const SkinFile& f) {
    LabelStyle style;
    style.face = f.labelFont;
    style.pixelSize = f.labelSize;
    style.textArgb = f.labelText;
    style.backgroundArgb = f.labelFill;
    style.borderArgb = f.labelBorder;
    return style;
}

} // namespace

int skSkinChildCtrl(WindowHandle control, int /*flags: not used*/) {
    const auto skin = CurrentSkin();
    if (!skin || !MayStyleAsLabel(control)) return 0;
    SetLabelStyle(control, SkinLabelStyle(skin->file));
    return 1;
}

int skSetLabelFont(WindowHandle label, const char* face, int size, uint32_t argb, int flags) {
    const auto skin = CurrentSkin();
    if (!skin || !MayStyleAsLabel(label)) return 0;
    LabelStyle style = SkinLabelStyle(skin->file);
    if (face && *face) style.face = face;
    if (size > 0) style.pixelSize = std::min(size, 200);
    style.textArgb = argb;
    style.bold = (flags & 1) != 0;
    SetLabelStyle(label, style);
    return 1;
}

int skSetAnchorCtrl(WindowHandle control, int mode) {
    if (!CurrentSkin() || !IsWindow(control)) return 0;
    switch (mode) {
    case 0:
    case kAnchorStretch:
        SetChildAnchor(control, mode);
        return 1;
    case 2:
    case kAnchorRight:
        SetChildAnchor(control, kAnchorRight);
        return 1;
    default:
        return 0;
    }
}

int skSetZorder(WindowHandle control, int order) {
    if (!CurrentSkin() || !IsWindow(control) || order != 1) return 0;
    PlaceChildAtBottom(control);
    return 1;
}
