// The six pictures hung at the sinks, always facing the viewer; the nearest one carries the frame.
#pragma once

#include <cstdint>

// A quad of half-width w (its bottom edge 1.063 times wider) and half-height h in the plane z.
void DrawTexturedQuad(float w, float h, float z, int32_t texture);
// Draws picture i at sink i; pictures 1 to 5 grow 5 units per step of pulse. A picture (or the
// frame) whose texture failed to load is not drawn.
void DrawPictures(int32_t pulse);
