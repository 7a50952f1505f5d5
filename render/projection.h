// Viewport and perspective of the view, kept in step with its size and the chosen field of view.
#pragma once

#include "platform/os/window.h"

#include <cstdint>

// Vertical field of view in whole degrees; 0 means not yet set, which reads as 45.
extern int32_t gFieldOfView;

// With store non-zero, sets the field of view (below 1 becomes 45, above 180 becomes 180).
// Returns the field of view in force.
int32_t FieldOfView(int32_t value, int32_t store);
void SetFieldOfView(WindowHandle window, int32_t value);
// Multiplies the current matrix by a perspective frustum; fovy in degrees.
void SetPerspective(float fovy, float aspect, float zNear, float zFar);
// Viewport and projection for the view's current client size.
void ResizeView(WindowHandle window);
void ApplyFieldOfView(int32_t value);
