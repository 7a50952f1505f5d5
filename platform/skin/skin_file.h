// The skin file: what the skin engine draws with (metrics, colours, fonts, pictures), read from
// plain text. Parsing is pure (text in, skin or error out) so that it can be tested and fuzzed
// without a window; skin_file.cpp documents the format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct SkinFile {
    // Metrics, in pixels.
    int frameSide = 0;     // width of the frame left and right of the client area
    int frameBottom = 0;   // height of the frame below it
    int captionHeight = 0; // the frame above it, caption included
    int resizeBorder = 0;  // how far in from the outer edge a press resizes
    int cornerLength = 0;  // along each edge from a corner, a press resizes diagonally
    int buttonWidth = 0;
    int buttonHeight = 0;
    int buttonGap = 0;    // between two caption buttons
    int buttonMargin = 0; // between the last button and the frame's right side
    int captionSize = 0;  // pixel sizes of the fonts
    int tooltipSize = 0;
    int labelSize = 0;
    int tooltipDelay = 0; // milliseconds the pointer rests on a tool before its tip shows

    // Colours, ARGB.
    uint32_t frameOutline = 0;
    uint32_t frameColour = 0;
    uint32_t captionTop = 0; // the caption's gradient
    uint32_t captionBottom = 0;
    uint32_t captionText = 0;
    uint32_t clientColour = 0;
    uint32_t buttonGlyph = 0;
    uint32_t buttonHover = 0;
    uint32_t buttonPress = 0;
    uint32_t closeHover = 0;
    uint32_t tooltipFill = 0;
    uint32_t tooltipBorder = 0;
    uint32_t tooltipText = 0;
    uint32_t borderColour = 0; // the line drawn around a control
    uint32_t labelFill = 0;
    uint32_t labelBorder = 0;
    uint32_t labelText = 0;

    // Font faces; fontconfig finds the nearest installed one.
    std::string captionFont;
    std::string tooltipFont;
    std::string labelFont;

    // The picture at the left of the caption: a file in the skin file's folder.
    std::string captionIcon;
};

struct SkinFileError {
    int line = 0; // 1-based; 0 when the fault is the file as a whole
    std::string message;
};

// Line numbers of the values that name other files, for reporting a file that cannot be read.
struct SkinFileLines {
    int captionIcon = 0;
};

// Parses the whole text. On failure returns false, leaves *skin untouched and says in *error
// which line is at fault and why.
bool ParseSkinText(std::string_view text, SkinFile* skin, SkinFileError* error,
                   SkinFileLines* lines = nullptr);
