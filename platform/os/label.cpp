// The label, class "STATIC": its window text, centred line by line, wrapped at word breaks and
// framed by a one-pixel border, drawn with pango into the chrome. As in a static control, "&&"
// shows as one ampersand and a single "&" is the (undrawn) mark of a keyboard shortcut.
#include "platform/os/controls.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>

namespace {

struct LabelState final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Control;
    LabelStyle style;
};

LabelState* StateOf(WindowHandle label) {
    return GetAttachment<LabelState>(label);
}

} // namespace

// The text as shown: CR LF (or a lone CR or LF) ends a line, "&&" is "&", a lone "&" vanishes.
std::string DisplayedLabelText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                shown += '&';
                ++i;
            }
        } else if (c == '\r') {
            shown += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            shown += c;
        }
    }
    return shown;
}

namespace {

void PaintLabel(WindowHandle label, cairo_t* cr, int width, int height) {
    const LabelState* state = StateOf(label);
    if (!state) return;
    const LabelStyle& style = state->style;
    if (style.backgroundArgb >> 24) {
        SetSourceArgb(cr, style.backgroundArgb);
        cairo_paint(cr);
    }
    if (style.borderArgb >> 24) {
        SetSourceArgb(cr, style.borderArgb);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
        cairo_stroke(cr);
    }
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, style.face.c_str());
    pango_font_description_set_absolute_size(font, style.pixelSize * PANGO_SCALE);
    pango_font_description_set_weight(font, style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_width(layout, std::max(1, width - 4) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    const std::string shown = DisplayedLabelText(GetWindowText(label));
    pango_layout_set_text(layout, shown.c_str(), static_cast<int>(shown.size()));
    SetSourceArgb(cr, style.textArgb);
    cairo_move_to(cr, 2, 1);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
}

} // namespace

intptr_t LabelProc(WindowHandle label, const Message& message) {
    switch (message.id) {
    case WM_CREATE:
        Attach(label, std::make_unique<LabelState>());
        SetChromePainter(label, PaintLabel);
        return 0;
    default:
        return DefWindowProc(label, message);
    }
}

void SetLabelStyle(WindowHandle label, const LabelStyle& style) {
    if (LabelState* state = StateOf(label)) {
        state->style = style;
        InvalidateChrome(label);
    }
}
