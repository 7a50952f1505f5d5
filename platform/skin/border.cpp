// Lines around controls: kept as the control's rectangle grown by fixed amounts, so they follow a
// control that moves or grows with the window, and drawn by the window's frame painter.
#include "platform/skin/kestro.h"
#include "platform/skin/skin_internal.h"

#include <algorithm>
#include <cmath>

void PaintBorders(const WindowSkin& ws, cairo_t* cr) {
    SetSourceArgb(cr, ws.skin->file.borderColour);
    for (const Border& b : ws.borders) {
        if (!IsWindow(b.control)) continue;
        int x = 0;
        int y = 0;
        int w = 0;
        int h = 0;
        GetClientOriginInSdlWindow(b.control, &x, &y);
        GetClientSize(b.control, &w, &h);
        // The stroke runs along the inside of the rectangle, on whole pixels.
        const double half = b.width / 2.0;
        const double left = x + b.dx + half;
        const double top = y + b.dy + half;
        const double width = std::max(0.0, w + b.dw - 2 * half);
        const double height = std::max(0.0, h + b.dh - 2 * half);
        const double r = std::min({static_cast<double>(b.radius), width / 2, height / 2});
        cairo_new_path(cr);
        if (r > 0) {
            cairo_arc(cr, left + width - r, top + r, r, -M_PI / 2, 0);
            cairo_arc(cr, left + width - r, top + height - r, r, 0, M_PI / 2);
            cairo_arc(cr, left + r, top + height - r, r, M_PI / 2, M_PI);
            cairo_arc(cr, left + r, top + r, r, M_PI, 3 * M_PI / 2);
            cairo_close_path(cr);
        } else {
            cairo_rectangle(cr, left, top, width, height);
        }
        cairo_set_line_width(cr, b.width);
        cairo_stroke(cr);
    }
}

int skBorder(WindowHandle control, int x, int y, int width, int height, int radius, int lineWidth) {
    WindowHandle top = GetTopLevelWindow(control);
    if (!top || top == control) return 0;
    WindowSkin* ws = EnsureWindowSkin(top);
    if (!ws) return 0;
    int cx = 0;
    int cy = 0;
    int cw = 0;
    int ch = 0;
    GetChildPosition(control, &cx, &cy);
    GetClientSize(control, &cw, &ch);
    Border b;
    b.control = control;
    b.dx = x - cx;
    b.dy = y - cy;
    b.dw = width - cw;
    b.dh = height - ch;
    b.radius = std::max(0, radius);
    b.width = std::max(1, lineWidth);
    ws->borders.push_back(b);
    // The line lies in the parent's client area, painted by the top-level window's painter.
    int ox = 0;
    int oy = 0;
    GetClientOriginInSdlWindow(control, &ox, &oy);
    InvalidateChromeRect(top, {ox + b.dx, oy + b.dy, cw + b.dw, ch + b.dh});
    return 1;
}
