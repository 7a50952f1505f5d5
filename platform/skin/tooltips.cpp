// Tool tips. While the pointer rests on a tool (a caption button, or a control given a tip), an
// empty child of the window watches it on a short timer: once it has rested for the skin's delay
// the tip shows, as a small child drawn in the chrome below the tool, and it goes when the pointer
// leaves the tool or presses a button. Controls tell of the pointer through their procedure, which
// the tip replaces and calls on.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include "platform/os/clock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr const char* kHostClass = "SkinToolTipHost";
constexpr const char* kBubbleClass = "SkinToolTip";
constexpr uint32_t kWatchTimer = 1;
constexpr uint32_t kWatchInterval = 50;
constexpr int kPadding = 4;
constexpr int kGap = 4; // between the tool and its tip

// Where the pointer is in the top-level window's SDL window, and whether a button is held; false
// when it is off the window.
bool PointerInWindow(WindowHandle top, int* x, int* y, bool* buttons) {
    uint32_t held = 0;
    if (!GetPointerPosition(top, x, y, &held)) return false;
    int ox = 0;
    int oy = 0;
    GetClientOriginInSdlWindow(top, &ox, &oy);
    *x += ox;
    *y += oy;
    *buttons = held != 0;
    return true;
}

void HideBubble(ToolTipState* tip) {
    if (tip->bubble) DestroyWindow(std::exchange(tip->bubble, nullptr));
}

void PaintBubble(WindowHandle bubble, cairo_t* cr, int width, int height) {
    const WindowSkin* ws = WindowSkinOf(bubble);
    if (!ws) return;
    const SkinFile& f = ws->skin->file;
    SetSourceArgb(cr, f.tooltipFill);
    cairo_paint(cr);
    SetSourceArgb(cr, f.tooltipBorder);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
    cairo_stroke(cr);
    const TextStyle style{&f.tooltipFont, f.tooltipSize, false, f.tooltipText};
    ShowText(cr, GetWindowText(bubble), style, kPadding, height / 2.0, width - 2 * kPadding);
}

intptr_t BubbleProc(WindowHandle bubble, const Message& message) {
    if (message.id == WM_CREATE) SetChromePainter(bubble, PaintBubble);
    return DefWindowProc(bubble, message);
}

// Below the tool, inside the client area: moved left where it would leave the right edge, above
// the tool where there is no room below it.
void ShowBubble(WindowHandle top, WindowSkin* ws) {
    ToolTipState& tip = ws->tip;
    const SkinFile& f = ws->skin->file;
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    int textWidth = 0;
    int textHeight = 0;
    MeasureText(cr, tip.text, {&f.tooltipFont, f.tooltipSize, false, f.tooltipText}, &textWidth,
                &textHeight);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    const int width = textWidth + 2 * kPadding;
    const int height = textHeight + kPadding;
    int ox = 0;
    int oy = 0;
    int cw = 0;
    int ch = 0;
    GetClientOriginInSdlWindow(top, &ox, &oy);
    GetClientSize(top, &cw, &ch);
    const WindowRect tool{tip.toolRect.x - ox, tip.toolRect.y - oy, tip.toolRect.width,
                          tip.toolRect.height};
    const int x = std::clamp(tool.x, 0, std::max(0, cw - width - 2));
    int y = std::max(0, tool.y + tool.height + kGap);
    if (y + height > ch) y = std::max(0, tool.y - kGap - height);
    tip.bubble = CreateChildWindow(kBubbleClass, top, 0, x, y, width, height);
    SetWindowText(tip.bubble, tip.text.c_str());
}

void StopWatching(WindowSkin* ws) {
    ws->tip.tracking = false;
    HideBubble(&ws->tip);
    StopTimer(ws->tip.host, kWatchTimer);
}

intptr_t HostProc(WindowHandle host, const Message& message) {
    if (message.id != WM_TIMER || message.timerId != kWatchTimer)
        return DefWindowProc(host, message);
    WindowHandle top = GetTopLevelWindow(host);
    WindowSkin* ws = WindowSkinOf(host);
    if (!ws || !ws->tip.tracking) {
        StopTimer(host, kWatchTimer);
        return 0;
    }
    int x = 0;
    int y = 0;
    bool buttons = false;
    const bool onWindow = PointerInWindow(top, &x, &y, &buttons);
    ToolTipState& tip = ws->tip;
    if (!onWindow || !tip.toolRect.Contains(x, y)) {
        StopWatching(ws);
    } else if (buttons) {
        tip.suppressed = true;
        HideBubble(&tip);
    } else if (!tip.bubble && !tip.suppressed &&
               MillisecondTicks() - tip.since >=
                   static_cast<uint32_t>(ws->skin->file.tooltipDelay)) {
        ShowBubble(top, ws);
    }
    return 0;
}

bool RegisterClasses() {
    static const bool registered =
        RegisterChildClass(kHostClass, HostProc) && RegisterChildClass(kBubbleClass, BubbleProc);
    return registered;
}

Tool* FindTool(WindowSkin* ws, WindowHandle control) {
    if (!ws) return nullptr;
    for (Tool& t : ws->tools)
        if (t.control == control) return &t;
    return nullptr;
}

intptr_t ToolProc(WindowHandle control, const Message& message) {
    WindowSkin* ws = WindowSkinOf(control);
    Tool* tool = FindTool(ws, control);
    if (!tool) return DefWindowProc(control, message);
    const WindowProc previous = tool->previous;
    switch (message.id) {
    case WM_MOUSEMOVE: {
        WindowRect r;
        GetClientOriginInSdlWindow(control, &r.x, &r.y);
        GetClientSize(control, &r.width, &r.height);
        HoverTool(GetTopLevelWindow(control), r, tool->text);
        break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        SuppressToolTip(GetTopLevelWindow(control));
        break;
    case WM_DESTROY:
        std::erase_if(ws->tools, [control](const Tool& t) { return t.control == control; });
        break;
    default:
        break;
    }
    return CallWindowProc(previous, control, message);
}

} // namespace

void HoverTool(WindowHandle top, const WindowRect& toolRect, const std::string& text) {
    WindowSkin* ws = GetAttachment<WindowSkin>(top);
    if (!ws || !RegisterClasses()) return;
    ToolTipState& tip = ws->tip;
    const bool same = tip.tracking && tip.text == text && tip.toolRect.x == toolRect.x &&
                      tip.toolRect.y == toolRect.y && tip.toolRect.width == toolRect.width &&
                      tip.toolRect.height == toolRect.height;
    if (same) return;
    if (!IsWindow(tip.host)) tip.host = CreateChildWindow(kHostClass, top, 0, 0, 0, 0, 0);
    if (!tip.host) return;
    HideBubble(&tip);
    tip.tracking = true;
    tip.toolRect = toolRect;
    tip.text = text;
    tip.since = MillisecondTicks();
    tip.suppressed = false;
    StartTimer(tip.host, kWatchTimer, kWatchInterval);
}

void SuppressToolTip(WindowHandle top) {
    if (WindowSkin* ws = GetAttachment<WindowSkin>(top)) {
        ws->tip.suppressed = true;
        HideBubble(&ws->tip);
    }
}

void EndToolTip(WindowHandle top) {
    if (WindowSkin* ws = GetAttachment<WindowSkin>(top))
        if (ws->tip.tracking) StopWatching(ws);
}

int skCreateToolTip(WindowHandle control, const char* text) {
    WindowHandle top = GetTopLevelWindow(control);
    if (!top || top == control) return 0;
    WindowSkin* ws = EnsureWindowSkin(top);
    if (!ws) return 0;
    if (Tool* existing = FindTool(ws, control)) {
        existing->text = text ? text : "";
        return 1;
    }
    Tool tool;
    tool.control = control;
    tool.text = text ? text : "";
    tool.previous = SubclassWindow(control, ToolProc);
    if (!tool.previous) return 0;
    ws->tools.push_back(std::move(tool));
    return 1;
}
