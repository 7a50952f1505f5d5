// Our skin engine: the window's frame, caption and caption buttons, tool tips, an analogue clock,
// a picture, lines around controls and the look of labels, drawn with cairo and pango into the
// window's chrome. The calls and their arguments are the ones the program makes. Every call but
// skARGB does nothing (and returns 0 or null) until skInitEngine has loaded a skin.
#pragma once

#include "platform/os/window.h"

#include <cstdint>

// Loads the skin file. A name without '/' is looked for beside the executable, then in its
// Resource/ folder; a path is used as it is. key is not used (null). Non-zero on success; on
// failure (missing, unreadable or malformed file) returns 0 after one line on standard error that
// names the file and the line at fault, and the skin loaded before, if any, stays.
int skInitEngine(const char* file, const char* key);

// Draws the top-level window's frame and caption with its title, instead of the desktop's, and
// the caption buttons named in buttons, separated by '|': "Dock" and "Undock" (keep the window
// above the others, or not), "Minimize", "Maximize" and "Restore", "Close" (sends WM_CLOSE, as
// the desktop's close button does). Each pair takes one place and shows the name that applies.
// The client area keeps its size. Buttons light under the pointer and when pressed, act on a
// release over them, and show a tool tip.
int skSkinWindow(WindowHandle window, const char* buttons);

// A line around the control, in its parent's client coordinates (x, y, width, height), that
// follows the control when the window is resized. radius rounds its corners; lineWidth is its
// thickness in pixels (at least 1).
int skBorder(WindowHandle control, int x, int y, int width, int height, int radius, int lineWidth);

// An analogue clock on the picture file, at (x, y) of the parent's client area, width x height
// (0 x 0: the picture's size), showing local time, redrawn every second. Its second hand is drawn
// in secondArgb, its hour and minute hands in handArgb. flags is not used (0). Null when the
// picture cannot be read.
WindowHandle skClockCtrl(WindowHandle parent, const char* image, int x, int y, int width,
                         int height, int id, uint32_t secondArgb, uint32_t handArgb, int flags);

// How a control follows its parent's resizing: 2 and 9 keep its size and its distance to the
// right-hand edge (2 is meant as the top-right corner, which the same rule keeps, since controls
// never move vertically here); 5 stretches it with all four edges; 0 pins it.
int skSetAnchorCtrl(WindowHandle control, int mode);

// The text shown in a tip while the pointer rests on the control.
int skCreateToolTip(WindowHandle control, const char* text);

// Gives a label the skin's look: its font, text colour, fill and border. flags is not used (0).
int skSkinChildCtrl(WindowHandle control, int flags);

// A colour from its alpha, red, green and blue parts, in that order: 0xAARRGGBB.
uint32_t skARGB(int a, int r, int g, int b);

// A label's font and text colour; size is in pixels, flags 1 makes the text bold. The rest of
// its look is the skin's.
int skSetLabelFont(WindowHandle label, const char* face, int size, uint32_t argb, int flags);

// A picture file shown scaled to the rectangle at (x, y) of the parent's client area. Null when
// the picture cannot be read.
WindowHandle skStaticImage(WindowHandle parent, const char* image, int x, int y, int width,
                           int height, int id);

// order 1 puts the control beneath its siblings; other orders leave it where it is.
int skSetZorder(WindowHandle control, int order);
