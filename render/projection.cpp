#include "render/projection.h"

#include "app/startup.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>

int32_t gFieldOfView;

int32_t FieldOfView(int32_t value, int32_t store) {
    if (store != 0) {
        if (value < 1) value = 45;
        gFieldOfView = std::min(180, value);
    }
    if (gFieldOfView == 0) gFieldOfView = 45;
    return gFieldOfView;
}

void SetFieldOfView(WindowHandle, int32_t value) {
    FieldOfView(value, 1);
}

void SetPerspective(float fovy, float aspect, float zNear, float zFar) {
    // Degrees to the half angle in radians, with the factor given to eleven digits.
    const float top = static_cast<float>(zNear * std::tan(fovy * 0.00872664626));
    const float bottom = -top;
    const float left = static_cast<float>(static_cast<double>(aspect) * bottom);
    const float right = static_cast<float>(static_cast<double>(aspect) * top);
    glFrustum(left, right, bottom, top, zNear, zFar);
}

void ResizeView(WindowHandle window) {
    int width = 0, height = 0;
    GetClientSize(window, &width, &height);
    glViewport(0, 0, width, height);
    // A view squeezed to no height (a minimised window) has no aspect: keep the last projection.
    if (height == 0) return;
    const float aspect = static_cast<float>(static_cast<double>(width) / height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const float fovy = static_cast<float>(FieldOfView(0, 0));
    SetPerspective(fovy, aspect, 0.1f, 10000);
}

void ApplyFieldOfView(int32_t value) {
    SetFieldOfView(gGlCtrl, value);
    ResizeView(gGlCtrl);
}
