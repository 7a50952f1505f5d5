// The skinned frame: outline, caption with the window's icon and title, client background, and
// the caption buttons, which light under the pointer and when pressed and act on a release over
// the button that was pressed. Moving, resizing and maximising by a double click are the window
// system's (through the desktop), told where the caption and the edges are.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

namespace {

constexpr int kNoButton = -1;

struct ButtonName {
    std::string_view name;
    ButtonKind kind;
};
constexpr ButtonName kButtonNames[] = {
    {"Dock", ButtonKind::Dock},         {"Undock", ButtonKind::Dock},
    {"Minimize", ButtonKind::Minimize}, {"Maximize", ButtonKind::Maximize},
    {"Restore", ButtonKind::Maximize},  {"Close", ButtonKind::Close},
};

// The kinds named, each once, in the order first named.
std::vector<ButtonKind> ParseButtons(std::string_view names) {
    std::vector<ButtonKind> kinds;
    while (!names.empty()) {
        const size_t bar = names.find('|');
        const std::string_view name = names.substr(0, bar);
        names.remove_prefix(bar == std::string_view::npos ? names.size() : bar + 1);
        for (const ButtonName& b : kButtonNames)
            if (b.name == name && std::find(kinds.begin(), kinds.end(), b.kind) == kinds.end())
                kinds.push_back(b.kind);
    }
    return kinds;
}

// The name a button shows now: the one of its pair that the click would do.
const char* ShownName(WindowHandle top, ButtonKind kind) {
    switch (kind) {
    case ButtonKind::Dock:
        return IsKeptAbove(top) ? "Undock" : "Dock";
    case ButtonKind::Minimize:
        return "Minimize";
    case ButtonKind::Maximize:
        return GetWindowMode(top) == WindowMode::Maximised ? "Restore" : "Maximize";
    case ButtonKind::Close:
        return "Close";
    }
    return "";
}

const char* TipText(std::string_view shown) {
    if (shown == "Dock") return "Keep on top";
    if (shown == "Undock") return "Stop keeping on top";
    if (shown == "Minimize") return "Minimise";
    if (shown == "Maximize") return "Maximise";
    if (shown == "Restore") return "Restore";
    return "Close";
}

void WindowSize(WindowHandle top, int* width, int* height) {
    const FrameInsets in = GetFrameInsets(top);
    GetClientSize(top, width, height);
    *width += in.left + in.right;
    *height += in.top + in.bottom;
}

int ButtonAt(const WindowSkin& ws, WindowHandle top, int x, int y) {
    int width = 0;
    int height = 0;
    WindowSize(top, &width, &height);
    for (size_t i = 0; i < ws.buttons.size(); ++i)
        if (CaptionButtonRect(ws, static_cast<int>(i), width).Contains(x, y))
            return static_cast<int>(i);
    return kNoButton;
}

void InvalidateButton(WindowHandle top, const WindowSkin& ws, int index) {
    if (index == kNoButton) return;
    int width = 0;
    int height = 0;
    WindowSize(top, &width, &height);
    InvalidateChromeRect(top, CaptionButtonRect(ws, index, width));
}

// Each button does what the desktop's own would. Close may destroy the window and its state.
void Act(WindowHandle top, ButtonKind kind) {
    switch (kind) {
    case ButtonKind::Dock:
        SetKeptAbove(top, !IsKeptAbove(top));
        break;
    case ButtonKind::Minimize:
        SetWindowMode(top, WindowMode::Minimised);
        break;
    case ButtonKind::Maximize:
        SetWindowMode(top, GetWindowMode(top) == WindowMode::Maximised ? WindowMode::Normal
                                                                       : WindowMode::Maximised);
        break;
    case ButtonKind::Close:
        SendMessage(top, WM_CLOSE, 0, 0);
        break;
    }
}

void SetHovered(WindowHandle top, WindowSkin* ws, int index) {
    if (ws->hovered == index) return;
    InvalidateButton(top, *ws, ws->hovered);
    ws->hovered = index;
    InvalidateButton(top, *ws, index);
}

intptr_t FrameProc(WindowHandle top, const Message& message) {
    WindowSkin* ws = GetAttachment<WindowSkin>(top);
    if (!ws) return 0;
    const int at = ButtonAt(*ws, top, message.x, message.y);
    switch (message.id) {
    case WM_NCMOUSEMOVE:
        SetHovered(top, ws, at);
        if (at == kNoButton) {
            EndToolTip(top);
        } else {
            int width = 0;
            int height = 0;
            WindowSize(top, &width, &height);
            HoverTool(top, CaptionButtonRect(*ws, at, width),
                      TipText(ShownName(top, ws->buttons[static_cast<size_t>(at)])));
        }
        break;
    case WM_NCLBUTTONDOWN:
        SuppressToolTip(top);
        SetHovered(top, ws, at);
        ws->pressed = at;
        InvalidateButton(top, *ws, at);
        break;
    case WM_NCLBUTTONUP: {
        // The button repaints either way: it is no longer pressed, and what it did may change
        // the name it shows (Dock to Undock).
        const int pressed = std::exchange(ws->pressed, kNoButton);
        InvalidateButton(top, *ws, pressed);
        if (pressed != kNoButton && pressed == at) Act(top, ws->buttons[static_cast<size_t>(at)]);
        break;
    }
    case WM_NCMOUSELEAVE:
        InvalidateButton(top, *ws, std::exchange(ws->pressed, kNoButton));
        SetHovered(top, ws, kNoButton);
        EndToolTip(top);
        break;
    default:
        break;
    }
    return 0;
}

// --- Painting -----------------------------------------------------------------------------------

void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
}

// The glyphs are drawn in a square of side 2s around the button's centre.
void PaintGlyph(cairo_t* cr, std::string_view shown, double cx, double cy, double s) {
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    if (shown == "Dock" || shown == "Undock") {
        // A pin: hollow while the window floats with the others, driven in while it stays on top.
        cairo_arc(cr, cx, cy - 0.35 * s, 0.5 * s, 0, 2 * M_PI);
        if (shown == "Undock") {
            cairo_fill_preserve(cr);
        }
        cairo_stroke(cr);
        Line(cr, cx, cy + 0.15 * s, cx, cy + s);
    } else if (shown == "Minimize") {
        Line(cr, cx - s, cy + 0.6 * s, cx + s, cy + 0.6 * s);
    } else if (shown == "Maximize") {
        cairo_rectangle(cr, cx - s, cy - s, 2 * s, 2 * s);
        cairo_stroke(cr);
        Line(cr, cx - s, cy - s + 1, cx + s, cy - s + 1);
    } else if (shown == "Restore") {
        cairo_rectangle(cr, cx - s, cy - 0.4 * s, 1.4 * s, 1.4 * s);
        cairo_stroke(cr);
        Line(cr, cx - 0.4 * s, cy - 0.4 * s, cx - 0.4 * s, cy - s);
        cairo_line_to(cr, cx + s, cy - s);
        cairo_line_to(cr, cx + s, cy + 0.4 * s);
        cairo_line_to(cr, cx + 0.4 * s, cy + 0.4 * s);
    } else {
        Line(cr, cx - s, cy - s, cx + s, cy + s);
        Line(cr, cx + s, cy - s, cx - s, cy + s);
    }
    cairo_stroke(cr);
}

void RoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void PaintButtons(WindowHandle top, const WindowSkin& ws, cairo_t* cr, int width) {
    const SkinFile& f = ws.skin->file;
    for (size_t i = 0; i < ws.buttons.size(); ++i) {
        const WindowRect r = CaptionButtonRect(ws, static_cast<int>(i), width);
        const bool close = ws.buttons[i] == ButtonKind::Close;
        const int index = static_cast<int>(i);
        if (ws.pressed == index && ws.hovered == index) {
            SetSourceArgb(cr, f.buttonPress);
        } else if (ws.hovered == index || ws.pressed == index) {
            SetSourceArgb(cr, close ? f.closeHover : f.buttonHover);
        } else {
            cairo_set_source_rgba(cr, 0, 0, 0, 0);
        }
        RoundedRectangle(cr, r.x, r.y, r.width, r.height, 3);
        cairo_fill(cr);
        SetSourceArgb(cr, f.buttonGlyph);
        const double s = std::floor(std::min(r.width, r.height) * 0.3) + 0.5;
        PaintGlyph(cr, ShownName(top, ws.buttons[i]), r.x + r.width / 2.0, r.y + r.height / 2.0, s);
    }
}

void PaintCaption(WindowHandle top, const WindowSkin& ws, cairo_t* cr, int width) {
    const SkinFile& f = ws.skin->file;
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, 0, 0, f.captionHeight);
    auto stop = [gradient](double at, uint32_t argb) {
        cairo_pattern_add_color_stop_rgba(gradient, at, ((argb >> 16) & 0xFF) / 255.0,
                                          ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                                          (argb >> 24) / 255.0);
    };
    stop(0, f.captionTop);
    stop(1, f.captionBottom);
    cairo_rectangle(cr, 0, 0, width, f.captionHeight);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);

    // The icon at the left, as tall as the buttons; the title after it, up to the buttons.
    const int iconSide = f.buttonHeight;
    const double middle = f.captionHeight / 2.0;
    const int iconX = f.frameSide + 6;
    cairo_save(cr);
    cairo_translate(cr, iconX, std::floor(middle - iconSide / 2.0));
    PaintPicture(cr, ws.skin->icon.get(), iconSide, iconSide);
    cairo_restore(cr);
    const int titleX = iconX + iconSide + 8;
    const int buttonsLeft =
        ws.buttons.empty() ? width - f.frameSide : CaptionButtonRect(ws, 0, width).x;
    const TextStyle style{&f.captionFont, f.captionSize, true, f.captionText};
    ShowText(cr, GetWindowText(top), style, titleX, middle, buttonsLeft - 8 - titleX);
}

} // namespace

WindowRect CaptionButtonRect(const WindowSkin& ws, int index, int windowWidth) {
    const SkinFile& f = ws.skin->file;
    const int count = static_cast<int>(ws.buttons.size());
    const int fromRight = f.frameSide + f.buttonMargin + (count - index) * f.buttonWidth +
                          (count - 1 - index) * f.buttonGap;
    return {windowWidth - fromRight, (f.captionHeight - f.buttonHeight) / 2, f.buttonWidth,
            f.buttonHeight};
}

void PaintWindowSkin(WindowHandle top, cairo_t* cr, int width, int height) {
    const WindowSkin* ws = GetAttachment<WindowSkin>(top);
    if (!ws) return;
    const SkinFile& f = ws->skin->file;
    if (ws->framed && IsOwnFrameShown(top)) {
        SetSourceArgb(cr, f.frameColour);
        cairo_paint(cr);
        PaintCaption(top, *ws, cr, width);
        const FrameInsets in = GetFrameInsets(top);
        SetSourceArgb(cr, f.clientColour);
        cairo_rectangle(cr, in.left, in.top, width - in.left - in.right,
                        height - in.top - in.bottom);
        cairo_fill(cr);
        SetSourceArgb(cr, f.frameOutline);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
        cairo_stroke(cr);
        PaintButtons(top, *ws, cr, width);
    }
    PaintBorders(*ws, cr);
}

int skSkinWindow(WindowHandle window, const char* buttons) {
    if (!window || GetTopLevelWindow(window) != window) return 0;
    WindowSkin* ws = EnsureWindowSkin(window);
    if (!ws) return 0;
    const SkinFile& f = ws->skin->file;
    ws->framed = true;
    ws->buttons = ParseButtons(buttons ? buttons : "");
    ws->hovered = ws->pressed = kNoButton;
    FrameGeometry frame;
    frame.insets = {f.frameSide, f.captionHeight, f.frameSide, f.frameBottom};
    frame.resizeBorder = f.resizeBorder;
    frame.cornerLength = f.cornerLength;
    for (size_t i = 0; i < ws->buttons.size(); ++i) {
        // Counted from the right-hand edge, so that they follow it.
        WindowRect r = CaptionButtonRect(*ws, static_cast<int>(i), 0);
        frame.buttons.push_back(r);
    }
    SetOwnFrame(window, frame, FrameProc);
    InvalidateChrome(window);
    return 1;
}

bool FindCaptionButton(WindowHandle top, const char* name, WindowRect* rect) {
    const WindowSkin* ws = GetAttachment<WindowSkin>(top);
    if (!ws || !ws->framed || !name) return false;
    int width = 0;
    int height = 0;
    WindowSize(top, &width, &height);
    for (size_t i = 0; i < ws->buttons.size(); ++i) {
        if (std::string_view(ShownName(top, ws->buttons[i])) == name) {
            *rect = CaptionButtonRect(*ws, static_cast<int>(i), width);
            return true;
        }
    }
    return false;
}
