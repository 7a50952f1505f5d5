// Shared by the skin engine's files and by no one else: the loaded skin, the state a skinned
// window keeps, and the drawing helpers every part of the skin paints with.
#pragma once

#include "platform/os/controls.h"
#include "platform/os/window_internal.h"
#include "platform/skin/skin_file.h"

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CairoSurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Picture = std::unique_ptr<cairo_surface_t, CairoSurfaceRelease>;

// A skin file with its pictures loaded. Windows hold on to the skin they were made with, so a
// later skInitEngine never changes a window half-way.
struct Skin {
    SkinFile file;
    Picture icon;
};
// The skin of the last successful skInitEngine; null before one.
std::shared_ptr<const Skin> CurrentSkin();

// --- Caption buttons ----------------------------------------------------------------------------

// Each pair of names shares one place in the caption and shows the one that applies.
enum class ButtonKind { Dock, Minimize, Maximize, Close };

// A line around a control, following it when the window is resized: the control's rectangle
// grown by these amounts.
struct Border {
    WindowHandle control = nullptr;
    int dx = 0;
    int dy = 0;
    int dw = 0;
    int dh = 0;
    int radius = 0;
    int width = 1;
};

// A control with a tool tip; its procedure was replaced to see the pointer on it.
struct Tool {
    WindowHandle control = nullptr;
    WindowProc previous = nullptr;
    std::string text;
};

// What the pointer rests on and the tip shown for it.
struct ToolTipState {
    WindowHandle host = nullptr;   // an empty child whose timer watches the pointer
    WindowHandle bubble = nullptr; // the tip itself, a child made while it shows
    bool tracking = false;
    WindowRect toolRect; // in SDL window pixels
    std::string text;
    uint32_t since = 0;      // when the pointer came to the tool
    bool suppressed = false; // a press hides the tip until the pointer moves to another tool
};

// The skin's state for one top-level window.
struct WindowSkin final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Skin;
    std::shared_ptr<const Skin> skin;
    bool framed = false;
    std::vector<ButtonKind> buttons; // left to right
    int hovered = -1;                // index into buttons, -1 for none
    int pressed = -1;
    std::vector<Border> borders;
    std::vector<Tool> tools;
    ToolTipState tip;
};

// The top-level window's skin state, made (with the current skin and the skin's painter) when
// it has none. Null when there is no skin or no such window.
WindowSkin* EnsureWindowSkin(WindowHandle top);
WindowSkin* WindowSkinOf(WindowHandle window); // of the window's top-level window

// The top-level window's painter (caption.cpp): the frame, if the window has one, and the
// borders around its controls.
void PaintWindowSkin(WindowHandle top, cairo_t* cr, int width, int height);
// The frame painter draws these around controls (border.cpp).
void PaintBorders(const WindowSkin& ws, cairo_t* cr);
// The rectangle of a caption button in SDL window pixels, for a window of that width.
WindowRect CaptionButtonRect(const WindowSkin& ws, int index, int windowWidth);
// Where the caption button that shows this name now ("Dock", "Restore"…) lies, in SDL window
// pixels; false when no button shows it.
bool FindCaptionButton(WindowHandle top, const char* name, WindowRect* rect);

// The skin's own controls (clock.cpp, picture.cpp). The clock repaints on a timer of its own.
inline constexpr uint32_t kClockTickTimer = 1;
bool IsSkinClock(WindowHandle window);
bool IsSkinPicture(WindowHandle window);

// --- Tool tips (tooltips.cpp) -------------------------------------------------------------------

// The pointer is on a tool (toolRect in SDL window pixels); its tip shows after the skin's delay
// while it stays there.
void HoverTool(WindowHandle top, const WindowRect& toolRect, const std::string& text);
// A press: the tip goes and stays away until the pointer moves to another tool.
void SuppressToolTip(WindowHandle top);
// The pointer left every tool.
void EndToolTip(WindowHandle top);

// --- Drawing ------------------------------------------------------------------------------------

// A PNG file as a cairo surface; null when it cannot be read.
Picture LoadPicture(const std::string& path);
// The picture scaled to fill width x height.
void PaintPicture(cairo_t* cr, cairo_surface_t* picture, int width, int height);

struct TextStyle {
    const std::string* face = nullptr;
    int pixelSize = 12;
    bool bold = false;
    uint32_t argb = 0xFFFFFFFF;
};
// Size in pixels of one line of text.
void MeasureText(cairo_t* cr, const std::string& text, const TextStyle& style, int* width,
                 int* height);
// One line of text, cut with an ellipsis at maxWidth, centred vertically on centreY.
void ShowText(cairo_t* cr, const std::string& text, const TextStyle& style, double x,
              double centreY, int maxWidth);
