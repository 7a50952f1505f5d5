// The OpenGL state every frame relies on, the scene's eight textures and display list 1, the
// unit square every particle sprite is drawn from.
#pragma once

#include "platform/glview/porvane.h"

// Record 0 the particle sprite, 1 to 6 the pictures, 7 the frame.
inline constexpr int kTextureCount = 8;
extern TextureRecord gTextures[kTextureCount];

// Runs once, with the view's context current, before the first frame.
void SetupOpenGL();
