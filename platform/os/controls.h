// The common controls, provided by the window system as the desktop's common-controls library
// provides them: the label "STATIC" and the trackbar "MSCTLS_TRACKBAR32". They are drawn into the
// chrome with cairo and pango. Only platform/ includes this header; the program names the classes
// through window.h.
#pragma once

#include "platform/os/window_internal.h"

#include <cstdint>
#include <string>

// The class procedures, which the window system's class table holds from the start.
intptr_t LabelProc(WindowHandle label, const Message& message);
intptr_t TrackbarProc(WindowHandle trackbar, const Message& message);

// Sets a cairo source from an ARGB colour.
void SetSourceArgb(cairo_t* cr, uint32_t argb);

// How a label draws itself. Colours are ARGB; a zero alpha draws nothing.
struct LabelStyle {
    std::string face = "Sans"; // fontconfig picks the nearest installed face
    int pixelSize = 12;
    bool bold = false;
    uint32_t textArgb = 0xFFE8E8E8;
    uint32_t backgroundArgb = 0x00000000; // transparent: what lies beneath shows through
    uint32_t borderArgb = 0xFF707078;
};
void SetLabelStyle(WindowHandle label, const LabelStyle& style);
// A label's text as it is shown: line breaks as '\n', "&&" as "&", lone "&"s dropped.
std::string DisplayedLabelText(const std::string& text);

// How a trackbar draws itself: a sunken channel, a thumb pointing down at the ticks below it.
// Colours are ARGB; a zero alpha draws nothing.
struct TrackbarStyle {
    uint32_t backgroundArgb = 0x00000000; // transparent: what lies beneath shows through
    uint32_t channelArgb = 0xFF060608;
    uint32_t channelEdgeArgb = 0xFF4A4A54; // the lit lower edge of the sunken channel
    uint32_t thumbArgb = 0xFFA8ACB8;
    uint32_t thumbDraggedArgb = 0xFFE4E8F4;
    uint32_t thumbEdgeArgb = 0xFF202028;
    uint32_t focusArgb = 0xFF5E9CFF; // the thumb's outline while the trackbar has the focus
    uint32_t tickArgb = 0xFF70707C;
};
void SetTrackbarStyle(WindowHandle trackbar, const TrackbarStyle& style);
