// Drawing primitives for the asset generator: float images, scalar fields that collect light,
// Gaussian blur for glows, value noise, a seeded random generator and PNG output.
//
// Light is painted as in the program's scene: additively, in linear 0..1 values, on black.
// Lines and dots are deposited into a Field as a density, then blurred at a few widths and added
// to an Image in a colour; that gives a sharp core inside a soft halo, like a glowing wire.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace paint {

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t);
Rgb Scale(Rgb c, double k);
Rgb Add(Rgb a, Rgb b);

// RGBA, four floats a pixel, rows from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;

    Image(int w, int h, double alpha = 1.0);
    float* At(int x, int y) { return &rgba[4 * (static_cast<size_t>(y) * width + x)]; }
    const float* At(int x, int y) const { return &rgba[4 * (static_cast<size_t>(y) * width + x)]; }
    void Add(int x, int y, Rgb c);
};

// One float a pixel: a density of light before it gets its colour.
struct Field {
    int width = 0;
    int height = 0;
    std::vector<float> v;

    Field(int w, int h);
    float& At(int x, int y) { return v[static_cast<size_t>(y) * width + x]; }
    float At(int x, int y) const { return v[static_cast<size_t>(y) * width + x]; }
};

// splitmix64: small, fast and the same on every machine, so the files come out identical.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    double Uniform();                   // [0, 1)
    double Range(double lo, double hi); // [lo, hi)
    double Gauss();                     // mean 0, deviation 1

  private:
    uint64_t state_;
};

double SmoothStep(double edge0, double edge1, double x);
double Clamp01(double x);

// Smooth value noise in about [0, 1]; one lattice cell per unit.
double Noise(double x, double y, uint32_t seed);
// Sum of octaves of Noise, each twice as fine and half as strong; normalised to about [0, 1].
double Fractal(double x, double y, int octaves, uint32_t seed);

// Adds amount of light at a sub-pixel point, shared bilinearly among four pixels.
void Deposit(Field& f, double x, double y, double amount);
// Deposits a straight line with `density` light per pixel of length.
void Stroke(Field& f, double x0, double y0, double x1, double y1, double density);
// Deposits the curve point(t), t from t0 to t1, as `segments` straight pieces.
template <class PointAt>
void StrokeCurve(Field& f, PointAt point, double t0, double t1, int segments, double density) {
    auto [x0, y0] = point(t0);
    for (int i = 1; i <= segments; ++i) {
        const auto [x1, y1] = point(t0 + (t1 - t0) * i / segments);
        Stroke(f, x0, y0, x1, y1, density);
        x0 = x1;
        y0 = y1;
    }
}
// A Gaussian blur with zero outside the field.
Field Blurred(const Field& f, double sigma);

// Layer of a glow: blur width and how much of it to add.
struct GlowLayer {
    double sigma;
    double gain;
};
// Adds the field to the image in `colour`, once for each blur layer.
void AddGlow(Image& img, const Field& f, Rgb colour, std::initializer_list<GlowLayer> layers);

// Darkens everything outside the centred ellipse of relative radius `inner` smoothly to black at
// relative radius `outer` (1 = the middle of each edge), so a picture has no visible edge.
void FadeToBorder(Image& img, double inner, double outer);
// Compresses each colour channel towards `cap` so that nothing exceeds it; values well below the
// cap pass almost unchanged, bright parts turn white rather than clipping to a flat colour.
void SoftLimit(Image& img, double cap);

// Writes the image as an 8-bit RGBA PNG; returns false (with SDL's message in `error`) on failure.
bool SavePng(const Image& img, const std::string& path, std::string& error);

} // namespace paint
