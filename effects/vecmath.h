// Single-precision vectors, quaternions, matrices and colours shared by the effects. Every routine
// works in place on the caller's storage and keeps no state; intermediates are computed in double
// and rounded only where a value is stored.
#pragma once

// A value computed in double, rounded once to the 32-bit float it is stored as.
inline float Stored(double value) {
    return static_cast<float>(value);
}

struct Vec3 {
    float x, y, z;
};

// w is the scalar part; the identity rotation is (0, 0, 0, 1).
struct Quat {
    float x, y, z, w;
};

// Column-major, as OpenGL lays matrices out: element index = column * 4 + row.
struct Mat4 {
    float m[16];
    float& operator[](int i) { return m[i]; }
    float operator[](int i) const { return m[i]; }
};

// Scales v to unit length and returns its length before. A zero vector becomes (0, 1, 0).
float Normalize3(Vec3& v);
void QuatSet(Quat& q, float x, float y, float z, float w);
// Rotation by angle (radians) about axis, which should be of unit length.
void QuatFromAxisAngle(Quat& q, float angle, const Vec3& axis);
// a = a * b.
void QuatMultiply(Quat& a, const Quat& b);
void MatIdentity(Mat4& m);
// The rotation matrix of q, of any non-zero length.
void QuatToMatrix(Mat4& m, const Quat& q);
// Hue in turns (0 to 1), saturation and value to red, green and blue.
void HsvToRgb(float h, float s, float v, float& r, float& g, float& b);
