// The yardstick for the program's frames: the scene's own primitives (150 additive sprites and
// the seven textured quads of the pictures and their frame) drawn straight into a window of the
// view's size, with the scene's state and the program's drawing procedures, and nothing else: no
// view framebuffer, no chrome, no skin, no state kept for anyone.
#pragma once

#include <string>

// Opens its own SDL window and OpenGL context (current afterwards) and loads the eight pictures
// from folder with SDL2_image, as mipmapped textures; vsync: swaps wait for the display. False when
// that cannot be done.
bool OpenMinimalRenderer(int width, int height, const std::string& folder, bool vsync);
void MakeMinimalRendererCurrent();
// One frame of the scene as it stands (particles, sinks, orientation, level factor f), swapped.
void DrawMinimalFrame(float f);
// A clear and a swap.
void PresentBareMinimalFrame();
