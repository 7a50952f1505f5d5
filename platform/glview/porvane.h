// Our image and OpenGL-control library: the OpenGL view control "QOPENGLCTRL", its context,
// texture loading, frame presentation and mouse-button queries, with the calls the program makes.
// The view draws into its own framebuffer object the size of its client area, bound whenever the
// program draws, so glViewport(0, 0, w, h) means the whole view. Truth values: -1 true, 0 false.
#pragma once

#include "platform/os/window.h"

#include <cstdint>

// One texture exchanged with the library; the records lie back to back in the caller's array.
struct TextureRecord {
    int32_t number;  // the record's ordinal, set by the caller
    char path[260];  // zero-terminated: a file name in Resource/, or a path from the root
    int32_t glName;  // the OpenGL texture name, written by QI_MakeMultipleTexture (0 = failed)
    int32_t options; // 0
};
static_assert(sizeof(TextureRecord) == 272, "texture records are 272 bytes apart");

// The font record: zero-filled by the caller, who writes the face, height and weight.
struct GLFontRecord {
    char face[64];
    int32_t libraryWords[3];
    int32_t height;
    int32_t weight;
    int32_t libraryWord;
};
static_assert(sizeof(GLFontRecord) == 88, "the font record is 88 bytes");

inline constexpr const char* kGlControlClass = "QOPENGLCTRL";

void* qInstance();
// Registers the "QOPENGLCTRL" class. 0 when there is no display or no OpenGL compatibility context.
int RegisterPorvaneClass();
int QI_LoadDLL(const char* name);
int QI_SetAnchorMode(WindowHandle window, int mode);
void* QI_GetGLDC(WindowHandle glControl);
int QI_BuildGLfont(void* dc, GLFontRecord* font);
int QI_DeleteGLFont(GLFontRecord* font);
// Loads every record's image into an RGBA 2D texture with linear filtering. A path without a
// leading '/' names a file in the Resource folder beside the executable. A picture that cannot be
// shown (missing, unreadable, not a PNG, JPEG, GIF or BMP, or larger than the largest texture or
// 16 million pixels) leaves that record's glName at 0 and says why in one line on stderr.
int QI_MakeMultipleTexture(TextureRecord* first, int count);
int QI_DestroyTexture(TextureRecord* first, int count);
// Composes the window (the view and the window's other parts) and presents it, leaving every GL
// state the program set as it was.
int QI_UpdateGLWindow(WindowHandle glControl);
// -1 while the button is held, else 0.
int QI_IsLButtonDown();
int QI_IsRButtonDown();
