#include "tools/paint.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace paint {

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Scale(Rgb c, double k) {
    return {c.r * k, c.g * k, c.b * k};
}

Rgb Add(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}

Image::Image(int w, int h, double alpha)
    : width(w), height(h), rgba(4 * static_cast<size_t>(w) * h, 0.0f) {
    for (size_t i = 3; i < rgba.size(); i += 4)
        rgba[i] = static_cast<float>(alpha);
}

void Image::Add(int x, int y, Rgb c) {
    float* p = At(x, y);
    p[0] = static_cast<float>(p[0] + c.r);
    p[1] = static_cast<float>(p[1] + c.g);
    p[2] = static_cast<float>(p[2] + c.b);
}

Field::Field(int w, int h) : width(w), height(h), v(static_cast<size_t>(w) * h, 0.0f) {}

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double Random::Range(double lo, double hi) {
    return lo + (hi - lo) * Uniform();
}

double Random::Gauss() {
    // Box-Muller; 1 - Uniform() keeps the logarithm away from zero.
    const double u = 1.0 - Uniform();
    const double v = Uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

double SmoothStep(double edge0, double edge1, double x) {
    const double t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

double Clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

namespace {

// Integer hash of a lattice corner, mapped to [0, 1].
double Lattice(int64_t ix, int64_t iy, uint32_t seed) {
    uint64_t h = static_cast<uint64_t>(ix) * 0x8DA6B343ull ^
                 static_cast<uint64_t>(iy) * 0xD8163841ull ^
                 static_cast<uint64_t>(seed) * 0xCB1AB31Full;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<double>(h & 0xFFFFFF) / static_cast<double>(0xFFFFFF);
}

double Fade(double t) {
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

} // namespace

double Noise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const auto ix = static_cast<int64_t>(fx);
    const auto iy = static_cast<int64_t>(fy);
    const double tx = Fade(x - fx);
    const double ty = Fade(y - fy);
    const double a = Lattice(ix, iy, seed);
    const double b = Lattice(ix + 1, iy, seed);
    const double c = Lattice(ix, iy + 1, seed);
    const double d = Lattice(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

double Fractal(double x, double y, int octaves, uint32_t seed) {
    double sum = 0.0;
    double weight = 0.5;
    double total = 0.0;
    for (int i = 0; i < octaves; ++i) {
        sum += weight * Noise(x, y, seed + 977u * static_cast<uint32_t>(i));
        total += weight;
        // Turn each octave a little so the lattices do not line up into a grid.
        const double nx = 1.6 * x + 1.2 * y + 17.3;
        const double ny = -1.2 * x + 1.6 * y + 5.9;
        x = nx;
        y = ny;
        weight *= 0.5;
    }
    return sum / total;
}

void Deposit(Field& f, double x, double y, double amount) {
    // Pixel centres sit at half-integers.
    const double px = x - 0.5;
    const double py = y - 0.5;
    const double fx = std::floor(px);
    const double fy = std::floor(py);
    const int ix = static_cast<int>(fx);
    const int iy = static_cast<int>(fy);
    const double tx = px - fx;
    const double ty = py - fy;
    const double share[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
    for (int k = 0; k < 4; ++k) {
        const int cx = ix + (k & 1);
        const int cy = iy + (k >> 1);
        if (cx < 0 || cy < 0 || cx >= f.width || cy >= f.height) continue;
        f.At(cx, cy) = static_cast<float>(f.At(cx, cy) + amount * share[k]);
    }
}

void Stroke(Field& f, double x0, double y0, double x1, double y1, double density) {
    const double length = std::hypot(x1 - x0, y1 - y0);
    // Four deposits a pixel keep the line free of beads even before it is blurred.
    const int steps = std::max(1, static_cast<int>(std::ceil(length * 4.0)));
    const double each = density * length / steps;
    for (int i = 0; i < steps; ++i) {
        const double t = (i + 0.5) / steps;
        Deposit(f, x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, each);
    }
}

namespace {

std::vector<double> GaussKernel(double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
    std::vector<double> k(2 * static_cast<size_t>(radius) + 1);
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        k[static_cast<size_t>(i + radius)] = std::exp(-0.5 * i * i / (sigma * sigma));
        sum += k[static_cast<size_t>(i + radius)];
    }
    for (double& w : k)
        w /= sum;
    return k;
}

} // namespace

Field Blurred(const Field& f, double sigma) {
    if (sigma <= 0.0) return f;
    const std::vector<double> k = GaussKernel(sigma);
    const int r = static_cast<int>(k.size() / 2);
    Field across(f.width, f.height);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            double s = 0.0;
            for (int i = std::max(-r, -x); i <= std::min(r, f.width - 1 - x); ++i)
                s += k[static_cast<size_t>(i + r)] * f.At(x + i, y);
            across.At(x, y) = static_cast<float>(s);
        }
    }
    Field out(f.width, f.height);
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            double s = 0.0;
            for (int i = std::max(-r, -y); i <= std::min(r, f.height - 1 - y); ++i)
                s += k[static_cast<size_t>(i + r)] * across.At(x, y + i);
            out.At(x, y) = static_cast<float>(s);
        }
    }
    return out;
}

void AddGlow(Image& img, const Field& f, Rgb colour, std::initializer_list<GlowLayer> layers) {
    for (const GlowLayer& layer : layers) {
        const Field b = Blurred(f, layer.sigma);
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                img.Add(x, y, Scale(colour, layer.gain * b.At(x, y)));
    }
}

void FadeToBorder(Image& img, double inner, double outer) {
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const double u = (x + 0.5) / img.width * 2.0 - 1.0;
            const double v = (y + 0.5) / img.height * 2.0 - 1.0;
            const double keep = 1.0 - SmoothStep(inner, outer, std::hypot(u, v));
            float* p = img.At(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<float>(p[c] * keep);
        }
    }
}

void SoftLimit(Image& img, double cap) {
    const double knee = 0.6 * cap;
    const double room = cap - knee;
    for (size_t i = 0; i < img.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        const double c = img.rgba[i];
        if (c > knee)
            img.rgba[i] = static_cast<float>(knee + room * (1.0 - std::exp(-(c - knee) / room)));
    }
}

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};

uint8_t ToByte(float v) {
    return static_cast<uint8_t>(std::lrint(255.0 * Clamp01(static_cast<double>(v))));
}

} // namespace

bool SavePng(const Image& img, const std::string& path, std::string& error) {
    std::unique_ptr<SDL_Surface, SurfaceDeleter> surface(
        SDL_CreateRGBSurfaceWithFormat(0, img.width, img.height, 32, SDL_PIXELFORMAT_RGBA32));
    if (!surface) {
        error = SDL_GetError();
        return false;
    }
    auto* bytes = static_cast<uint8_t*>(surface->pixels);
    for (int y = 0; y < img.height; ++y) {
        uint8_t* row = bytes + static_cast<size_t>(y) * surface->pitch;
        for (int x = 0; x < img.width; ++x)
            for (int c = 0; c < 4; ++c)
                row[4 * x + c] = ToByte(img.At(x, y)[c]);
    }
    if (IMG_SavePNG(surface.get(), path.c_str()) != 0) {
        error = SDL_GetError();
        return false;
    }
    return true;
}

} // namespace paint
