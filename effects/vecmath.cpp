#include "effects/vecmath.h"

#include <cmath>

float Normalize3(Vec3& v) {
    const double x = v.x, y = v.y, z = v.z;
    const float len = static_cast<float>(std::sqrt(x * x + y * y + z * z));
    if (len == 0) {
        v.y = 1; // a direction is always needed downstream; x and z are zero already
        return 0;
    }
    const double inv = 1.0 / len;
    v.x = static_cast<float>(x * inv);
    v.y = static_cast<float>(y * inv);
    v.z = static_cast<float>(z * inv);
    return len;
}

void QuatSet(Quat& q, float x, float y, float z, float w) {
    q = {x, y, z, w};
}

void QuatFromAxisAngle(Quat& q, float angle, const Vec3& axis) {
    if (angle > -0.000001 && angle < 0.000001) {
        QuatSet(q, 0, 0, 0, 1);
        return;
    }
    const double half = 0.5 * angle;
    const double s = std::sin(half);
    QuatSet(q, static_cast<float>(axis.x * s), static_cast<float>(axis.y * s),
            static_cast<float>(axis.z * s), static_cast<float>(std::cos(half)));
}

void QuatMultiply(Quat& a, const Quat& b) {
    const double x1 = a.x, y1 = a.y, z1 = a.z, w1 = a.w;
    const double x2 = b.x, y2 = b.y, z2 = b.z, w2 = b.w;
    a.x = static_cast<float>(w1 * x2 + x1 * w2 + y1 * z2 - z1 * y2);
    a.y = static_cast<float>(w1 * y2 + y1 * w2 + z1 * x2 - x1 * z2);
    a.z = static_cast<float>(w1 * z2 + z1 * w2 + x1 * y2 - y1 * x2);
    a.w = static_cast<float>(w1 * w2 - x1 * x2 - y1 * y2 - z1 * z2);
}

void MatIdentity(Mat4& m) {
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void QuatToMatrix(Mat4& m, const Quat& q) {
    if (q.x == 0 && q.y == 0 && q.z == 0) {
        MatIdentity(m);
        return;
    }
    const double x = q.x, y = q.y, z = q.z, w = q.w;
    // Dividing by the squared length makes any non-zero quaternion a pure rotation.
    const double s = 2.0 / (x * x + y * y + z * z + w * w);
    const double xs = s * x, ys = s * y, zs = s * z;
    const double wx = xs * w, wy = ys * w, wz = zs * w;
    const double xx = xs * x, xy = ys * x, xz = zs * x;
    const double yy = ys * y, yz = zs * y, zz = zs * z;
    const double e[16] = {1 - yy - zz, xy + wz,     xz - wy,     0, //
                          xy - wz,     1 - xx - zz, yz + wx,     0, //
                          xz + wy,     yz - wx,     1 - xx - yy, 0, //
                          0,           0,           0,           1};
    for (int i = 0; i < 16; ++i)
        m[i] = static_cast<float>(e[i]);
}

void HsvToRgb(float h, float s, float v, float& r, float& g, float& b) {
    // The sector bounds are the decimal constants, not exact sixths; the offsets taken off inside
    // a sector are the same constants as stored floats.
    const double sixth = 0.166667f, third = 0.333333f, twoThirds = 0.666667f,
                 fiveSixths = 0.833333f;
    const double hue = std::fmod(static_cast<double>(h), 1.0);
    double cr, cg, cb;
    if (hue < 0.166667) {
        cr = 1, cg = 6 * hue, cb = 0;
    } else if (hue < 0.5) {
        cg = 1;
        if (hue < 0.333333)
            cr = 1 - 6 * (hue - sixth), cb = 0;
        else
            cb = 6 * (hue - third), cr = 0;
    } else if (hue < 0.833333) {
        cb = 1;
        if (hue < 0.666667)
            cg = 1 - 6 * (hue - 0.5), cr = 0;
        else
            cr = 6 * (hue - twoThirds), cg = 0;
    } else {
        cr = 1, cb = 1 - 6 * (hue - fiveSixths), cg = 0;
    }
    r = static_cast<float>((1 - (1 - cr) * s) * v);
    g = static_cast<float>((1 - (1 - cg) * s) * v);
    b = static_cast<float>((1 - (1 - cb) * s) * v);
}
