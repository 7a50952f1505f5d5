// The scene's pictures. The view adds them onto black with (GL_ONE, GL_ONE), so black is
// transparent and overlaps add up: backgrounds stay exactly black, every picture fades to black
// before its edges (it hangs in space as a quad) and brightness is capped below white so that the
// six pictures and the particle stream can overlap without washing out.
#include "tools/art.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace art {

using paint::Field;
using paint::Image;
using paint::Rgb;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kPictureSize = 512;
constexpr double kHalf = kPictureSize / 2.0;
// Highest channel value a picture may reach; see SoftLimit.
constexpr double kCap = 0.85;

// Picture coordinates run from -1 to 1 across the picture, y downwards, 0 at the centre.
double ToUnit(int pixel) {
    return (pixel + 0.5) / kHalf - 1.0;
}
double ToPixel(double unit) {
    return (unit + 1.0) * kHalf;
}
std::pair<double, double> PixelOf(double u, double v) {
    return {ToPixel(u), ToPixel(v)};
}
std::pair<double, double> Polar(double r, double angle) {
    return PixelOf(r * std::cos(angle), r * std::sin(angle));
}

template <class Shade> void Paint(Image& img, Shade shade) {
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            img.Add(x, y, shade(ToUnit(x), ToUnit(y)));
}

// Points of light scattered uniformly over the picture, mostly faint with a few bright ones.
void AddStars(Image& img, uint64_t seed, int count, double brightness, Rgb tint) {
    paint::Random rng(seed);
    Field stars(img.width, img.height);
    for (int i = 0; i < count; ++i) {
        const double x = rng.Range(0.0, img.width);
        const double y = rng.Range(0.0, img.height);
        paint::Deposit(stars, x, y, brightness * (0.12 + 0.88 * std::pow(rng.Uniform(), 6.0)));
    }
    paint::AddGlow(img, stars, tint, {{0.6, 2.0}, {2.0, 0.6}});
}

void Polygon(Field& f, int corners, double radius, double turn, double density) {
    for (int k = 0; k < corners; ++k) {
        const auto [x0, y0] = Polar(radius, turn + 2.0 * kPi * k / corners);
        const auto [x1, y1] = Polar(radius, turn + 2.0 * kPi * (k + 1) / corners);
        paint::Stroke(f, x0, y0, x1, y1, density);
    }
}

void Finish(Image& img, double fadeFrom, double fadeTo) {
    paint::SoftLimit(img, kCap);
    paint::FadeToBorder(img, fadeFrom, fadeTo);
}

} // namespace

Image MakeFlare() {
    constexpr int kSize = 256;
    // The glow reaches exact zero at this fraction of the half-width, so the quad's square edge
    // never shows, whatever the particle's size.
    constexpr double kReach = 0.9;
    Image img(kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const double r =
                std::hypot(x + 0.5 - kSize / 2.0, y + 0.5 - kSize / 2.0) / (kSize / 2.0);
            const double q = r < kReach ? 1.0 - (r / kReach) * (r / kReach) : 0.0;
            const double window = q * q * q;
            const double core = std::exp(-(r / 0.08) * (r / 0.08));
            const double glow = std::exp(-(r / 0.25) * (r / 0.25));
            const double halo = std::exp(-(r / 0.55) * (r / 0.55));
            const double light = (0.6 * core + 0.26 * glow + 0.14 * halo) * window;
            img.Add(x, y, {light, light, light});
        }
    }
    return img;
}

// Clouds of gas from domain-warped noise: the warp vector both bends the clouds into filaments
// and picks their colour, so colour follows the flow of the gas.
Image MakeNebula() {
    const Rgb deep{0.10, 0.16, 0.62};
    const Rgb violet{0.55, 0.18, 0.78};
    const Rgb rose{0.95, 0.30, 0.55};
    const Rgb teal{0.25, 0.75, 0.85};
    const Rgb heart{0.85, 0.8, 1.0};
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        const double px = 1.5 * u;
        const double py = 1.5 * v;
        const double qx = paint::Fractal(px + 3.1, py + 1.7, 4, 21);
        const double qy = paint::Fractal(px - 4.2, py + 8.3, 4, 22);
        const double n = paint::Fractal(px + 3.0 * qx, py + 3.0 * qy, 5, 23);
        const double du = u - 0.06;
        const double dv = v + 0.03;
        const double envelope = std::exp(-(du * du / 0.42 + dv * dv / 0.30));
        const double gas = 2.0 * std::pow(paint::SmoothStep(0.34, 0.72, n), 1.5) * envelope;
        const double ridge = std::pow(paint::SmoothStep(0.60, 0.78, n), 2.0) * envelope;
        const double dust =
            0.3 +
            0.7 * paint::SmoothStep(0.34, 0.60, paint::Fractal(2.6 * u + 9, 2.6 * v - 3, 5, 14));
        Rgb c = paint::Mix(deep, violet, paint::Clamp01(3.0 * (qx - 0.35)));
        c = paint::Mix(c, rose, paint::Clamp01(4.0 * (qy - 0.45)));
        return paint::Scale(paint::Add(paint::Scale(c, gas), paint::Scale(teal, 0.6 * ridge)),
                            dust);
    });
    AddStars(img, 101, 420, 1.0, {0.85, 0.9, 1.0});
    // A young cluster inside the brightest cloud, the light that makes the gas shine.
    paint::Random rng(102);
    Field cluster(kPictureSize, kPictureSize);
    for (int i = 0; i < 40; ++i) {
        const auto [x, y] = PixelOf(-0.05 + 0.07 * rng.Gauss(), -0.3 + 0.06 * rng.Gauss());
        paint::Deposit(cluster, x, y, 0.5 + 1.5 * rng.Uniform());
    }
    paint::AddGlow(img, cluster, heart, {{0.7, 1.5}, {2.5, 0.8}, {12.0, 1.5}});
    Finish(img, 0.68, 0.98);
    return img;
}

// Rose curves r = cos(k angle) and a braided ring, in gold.
Image MakeMandala() {
    const Rgb gold{1.0, 0.80, 0.40};
    const Rgb pale{1.0, 0.90, 0.70};
    const Rgb amber{0.95, 0.45, 0.10};
    Field petals(kPictureSize, kPictureSize);
    Field lace(kPictureSize, kPictureSize);
    paint::StrokeCurve(
        petals, [](double t) { return Polar(0.80 * std::cos(4.0 * t), t); }, 0.0, 2.0 * kPi, 1600,
        1.0);
    paint::StrokeCurve(
        petals, [](double t) { return Polar(0.52 * std::cos(4.0 * t), t + kPi / 8.0); }, 0.0,
        2.0 * kPi, 1200, 0.8);
    paint::StrokeCurve(
        petals, [](double t) { return Polar(0.22 * std::cos(6.0 * t), t); }, 0.0, 2.0 * kPi, 800,
        0.9);
    for (double phase : {0.0, kPi}) {
        paint::StrokeCurve(
            lace, [phase](double t) { return Polar(0.66 + 0.05 * std::cos(16.0 * t + phase), t); },
            0.0, 2.0 * kPi, 1600, 0.8);
    }
    paint::StrokeCurve(
        lace, [](double t) { return Polar(0.88, t); }, 0.0, 2.0 * kPi, 800, 0.7);
    paint::StrokeCurve(
        lace, [](double t) { return Polar(0.12, t); }, 0.0, 2.0 * kPi, 300, 0.7);
    for (int k = 0; k < 32; ++k) {
        const auto [x, y] = Polar(k % 2 == 0 ? 0.93 : 0.915, kPi * k / 16.0);
        paint::Deposit(lace, x, y, k % 2 == 0 ? 10.0 : 4.0);
    }
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        return paint::Scale(amber, 0.1 * std::exp(-(u * u + v * v) / 0.03));
    });
    paint::AddGlow(img, petals, gold, {{0.8, 1.1}, {3.0, 1.2}});
    paint::AddGlow(img, petals, amber, {{12.0, 3.0}});
    paint::AddGlow(img, lace, pale, {{0.7, 1.0}, {2.5, 0.8}});
    paint::AddGlow(img, lace, amber, {{9.0, 2.0}});
    Finish(img, 0.86, 0.99);
    return img;
}

namespace {

constexpr double kMeshReach = 1.3;

// A fish-eye that swells the middle of the flat mesh, so it reads as a net drawn over a globe.
// It grows monotonically up to kMeshReach.
std::pair<double, double> Lens(double x, double y) {
    const double k = 1.15 / (1.0 + 0.55 * (x * x + y * y));
    return PixelOf(k * x, k * y);
}

// Brightness of the mesh at a flat point: fades out towards its rim, with rings of light.
double MeshLight(double x, double y) {
    const double r = std::hypot(x, y);
    const double ring = 0.5 + 0.5 * std::cos(10.0 * r - 0.8);
    return paint::SmoothStep(kMeshReach, 0.5, r) * (0.45 + 0.55 * ring * ring);
}

} // namespace

// A triangular lattice of glowing wires and nodes seen through a lens.
Image MakeLattice() {
    const Rgb cyan{0.20, 0.75, 1.0};
    const Rgb blue{0.08, 0.25, 0.9};
    const Rgb spark{0.75, 0.95, 1.0};
    const double step = 0.16;
    const double rowStep = step * std::sqrt(3.0) / 2.0;
    const int neighbour[3][2] = {{1, 0}, {0, 1}, {-1, 1}};
    paint::Random rng(303);
    Field wires(kPictureSize, kPictureSize);
    Field nodes(kPictureSize, kPictureSize);
    for (int j = -10; j <= 10; ++j) {
        for (int i = -10; i <= 10; ++i) {
            const double px = (i + 0.5 * j) * step;
            const double py = j * rowStep;
            const bool lit = rng.Uniform() < 0.12;
            if (std::hypot(px, py) > kMeshReach) continue;
            for (const auto& n : neighbour) {
                const double qx = (i + n[0] + 0.5 * (j + n[1])) * step;
                const double qy = (j + n[1]) * rowStep;
                if (std::hypot(qx, qy) > kMeshReach) continue;
                const double light = MeshLight(0.5 * (px + qx), 0.5 * (py + qy));
                paint::StrokeCurve(
                    wires, [&](double t) { return Lens(px + (qx - px) * t, py + (qy - py) * t); },
                    0.0, 1.0, 8, 0.9 * light);
            }
            const auto [nx, ny] = Lens(px, py);
            paint::Deposit(nodes, nx, ny, 6.0 * MeshLight(px, py) * (lit ? 3.0 : 1.0));
        }
    }
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        return paint::Scale(Rgb{0.02, 0.06, 0.18}, std::exp(-(u * u + v * v) / 0.3));
    });
    paint::AddGlow(img, wires, cyan, {{0.7, 1.1}, {2.5, 0.9}});
    paint::AddGlow(img, wires, blue, {{10.0, 2.5}});
    paint::AddGlow(img, nodes, spark, {{1.0, 1.0}, {3.5, 1.5}});
    Finish(img, 0.80, 0.98);
    return img;
}

namespace {

// The galaxy's disc is seen tilted: it is squashed by kTilt along one axis turned by kSpin.
constexpr double kTilt = 0.58;
constexpr double kSpin = 0.45;
// How tightly the logarithmic spiral arms wind.
constexpr double kWind = 2.6;

std::pair<double, double> DiscToPixel(double x, double y) {
    const double ty = y * kTilt;
    return PixelOf(x * std::cos(kSpin) - ty * std::sin(kSpin),
                   x * std::sin(kSpin) + ty * std::cos(kSpin));
}

// Stars strewn along the two arms, thinning outwards.
void ArmStars(Field& f, paint::Random& rng, int count, double amount) {
    for (int i = 0; i < count; ++i) {
        const double r = 0.06 + 0.3 * -std::log(1.0 - rng.Uniform());
        if (r > 1.0) continue;
        const double arm = (rng.Next() & 1u) != 0 ? kPi : 0.0;
        const double angle = kWind * std::log(r + 0.03) + arm + 0.35 * rng.Gauss();
        const auto [x, y] = DiscToPixel(r * std::cos(angle), r * std::sin(angle));
        paint::Deposit(f, x, y, amount * (0.2 + 0.8 * std::pow(rng.Uniform(), 4.0)));
    }
}

} // namespace

// A two-armed spiral galaxy: warm bulge, blue arms with dust lanes, stars and pink knots.
Image MakeGalaxy() {
    const Rgb cream{1.0, 0.82, 0.55};
    const Rgb blue{0.45, 0.60, 1.0};
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        const double x = u * std::cos(kSpin) + v * std::sin(kSpin);
        const double y = (-u * std::sin(kSpin) + v * std::cos(kSpin)) / kTilt;
        const double r = std::hypot(x, y);
        const double phase = std::atan2(y, x) - kWind * std::log(r + 0.03);
        const double arm = std::pow(0.5 + 0.5 * std::cos(2.0 * phase), 3.0);
        const double lane = std::pow(0.5 + 0.5 * std::cos(2.0 * phase - 0.7), 10.0);
        const double n = paint::Fractal(6.0 * x + 2.0, 6.0 * y - 1.0, 5, 41);
        const double disc = std::exp(-r / 0.32);
        const double arms = arm * disc * (0.35 + 0.9 * n) * paint::SmoothStep(0.04, 0.18, r);
        const double bulge =
            0.85 * std::exp(-(r / 0.07) * (r / 0.07)) + 0.25 * std::exp(-(r / 0.2) * (r / 0.2));
        const double dust = 1.0 - 0.55 * lane * paint::SmoothStep(0.08, 0.25, r);
        const double sky = 1.8 * arms + 0.12 * disc;
        return paint::Scale(paint::Add(paint::Scale(cream, bulge), paint::Scale(blue, sky)), dust);
    });
    paint::Random rng(404);
    Field stars(kPictureSize, kPictureSize);
    Field knots(kPictureSize, kPictureSize);
    ArmStars(stars, rng, 4000, 1.0);
    ArmStars(knots, rng, 14, 3.0);
    paint::AddGlow(img, stars, {0.75, 0.85, 1.0}, {{0.6, 1.5}, {1.8, 0.4}});
    paint::AddGlow(img, knots, {1.0, 0.45, 0.65}, {{1.2, 1.0}, {4.0, 0.6}});
    AddStars(img, 405, 150, 0.6, {0.9, 0.9, 1.0});
    Finish(img, 0.75, 0.98);
    return img;
}

// Two curtains of an aurora over a starry sky: fine rays of light hang above a bright lower rim,
// green near the rim and violet higher up; the second curtain, further off, is smaller and dimmer.
Image MakeAurora() {
    const Rgb green{0.25, 0.95, 0.45};
    const Rgb violet{0.55, 0.22, 0.75};
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        const double wave = 0.15 * std::sin(1.6 * u + 0.5) + 0.06 * std::sin(4.1 * u + 2.0) +
                            0.02 * std::sin(9.3 * u + 0.7);
        // Rays follow the folds of the curtain a little, as they would in a hanging sheet.
        const double across = 26.0 * u + 1.5 * std::sin(2.2 * u + 2.5 * v);
        auto curtain = [&](double rim, double height, double strength, uint32_t seed) {
            const double d = v - rim; // above the rim d < 0
            const double rays =
                paint::SmoothStep(0.30, 0.75, paint::Fractal(across, 1.1 * v, 4, seed));
            const double hang = d < 0.0 ? std::exp(d / height) : std::exp(-(d / 0.02) * (d / 0.02));
            const double edge = std::exp(-(d / 0.035) * (d / 0.035));
            const double light = strength * ((0.35 + 0.65 * rays) * 0.7 * hang + 0.3 * edge * rays);
            return paint::Scale(
                paint::Mix(green, violet, paint::SmoothStep(0.02, 1.2 * height, -d)), light);
        };
        const double ends = paint::SmoothStep(0.92, 0.40, std::abs(u));
        const Rgb front = curtain(0.22 + wave, 0.30, 1.0, 51);
        const Rgb back =
            curtain(-0.22 + 0.6 * wave + 0.06 * std::sin(2.7 * u + 1.3), 0.18, 0.4, 52);
        return paint::Scale(paint::Add(front, back), ends);
    });
    AddStars(img, 505, 250, 0.7, {0.9, 0.92, 1.0});
    Finish(img, 0.75, 0.98);
    return img;
}

namespace {

// One arm of the crystal: a straight spine with pairs of side branches at 60 degrees, each a
// smaller copy of the arm.
void Branch(Field& f, double x, double y, double angle, double length, int depth) {
    const double ex = x + length * std::cos(angle);
    const double ey = y + length * std::sin(angle);
    const auto [px, py] = PixelOf(x, y);
    const auto [qx, qy] = PixelOf(ex, ey);
    paint::Stroke(f, px, py, qx, qy, 0.5 + 0.25 * depth);
    if (depth == 0) return;
    for (double t : {0.3, 0.55, 0.78}) {
        const double bx = x + (ex - x) * t;
        const double by = y + (ey - y) * t;
        const double side = length * (1.0 - t) * 0.62;
        Branch(f, bx, by, angle + kPi / 3.0, side, depth - 1);
        Branch(f, bx, by, angle - kPi / 3.0, side, depth - 1);
    }
}

} // namespace

// A six-fold crystal flower in rose and crimson.
Image MakeCrystal() {
    const Rgb white{1.0, 0.78, 0.82};
    const Rgb rose{0.95, 0.25, 0.40};
    const Rgb wine{0.55, 0.05, 0.25};
    Field lines(kPictureSize, kPictureSize);
    for (int k = 0; k < 6; ++k)
        Branch(lines, 0.0, 0.0, k * kPi / 3.0 + kPi / 6.0, 0.84, 2);
    Polygon(lines, 6, 0.14, kPi / 6.0, 1.0);
    Polygon(lines, 6, 0.23, 0.0, 0.7);
    Image img(kPictureSize, kPictureSize);
    Paint(img, [&](double u, double v) {
        // A soft six-petalled bloom behind the arms, brightest along them.
        const double r2 = u * u + v * v;
        const double petals = 0.5 + 0.5 * std::cos(6.0 * (std::atan2(v, u) - kPi / 6.0));
        return paint::Add(paint::Scale(rose, 0.3 * std::exp(-r2 / 0.03)),
                          paint::Scale(wine, 0.35 * petals * petals * std::exp(-r2 / 0.15)));
    });
    paint::AddGlow(img, lines, white, {{0.7, 1.4}});
    paint::AddGlow(img, lines, rose, {{2.5, 1.8}});
    paint::AddGlow(img, lines, wine, {{11.0, 3.5}});
    Finish(img, 0.86, 0.99);
    return img;
}

namespace {

void Rectangle(Field& f, double inset, double density) {
    const double far = kPictureSize - inset;
    paint::Stroke(f, inset, inset, far, inset, density);
    paint::Stroke(f, far, inset, far, far, density);
    paint::Stroke(f, far, far, inset, far, density);
    paint::Stroke(f, inset, far, inset, inset, density);
}

void Diamond(Field& f, double x, double y, double reach, double density) {
    paint::Stroke(f, x - reach, y, x, y - reach, density);
    paint::Stroke(f, x, y - reach, x + reach, y, density);
    paint::Stroke(f, x + reach, y, x, y + reach, density);
    paint::Stroke(f, x, y + reach, x - reach, y, density);
}

} // namespace

// A double line of light a few percent inside the edges, with arcs and diamonds at the corners
// and a small diamond in the middle of each side.
Image MakeFrame() {
    constexpr double kOuter = 14.0;
    constexpr double kInner = 24.0;
    constexpr double kFar = kPictureSize - kOuter;
    const Rgb core{0.80, 0.88, 1.0};
    const Rgb glow{0.35, 0.55, 1.0};
    const Rgb wide{0.15, 0.25, 0.8};
    Field line(kPictureSize, kPictureSize);
    Field fine(kPictureSize, kPictureSize);
    Rectangle(line, kOuter, 1.0);
    Rectangle(fine, kInner, 0.5);
    for (int corner = 0; corner < 4; ++corner) {
        const double sx = corner % 2 == 0 ? 1.0 : -1.0;
        const double sy = corner < 2 ? 1.0 : -1.0;
        const double cx = sx > 0 ? kOuter : kFar;
        const double cy = sy > 0 ? kOuter : kFar;
        paint::StrokeCurve(
            fine,
            [&](double a) {
                return std::pair{cx + sx * 34.0 * std::cos(a), cy + sy * 34.0 * std::sin(a)};
            },
            0.0, kPi / 2.0, 40, 0.6);
        Diamond(line, cx, cy, 6.0, 0.8);
        Diamond(fine, cx + sx * 20.0, cy + sy * 20.0, 4.0, 0.7);
    }
    for (int side = 0; side < 4; ++side) {
        const double along = kHalf;
        const double across = side % 2 == 0 ? kOuter : kFar;
        if (side < 2)
            Diamond(line, along, across, 5.0, 0.8);
        else
            Diamond(line, across, along, 5.0, 0.8);
    }
    Image img(kPictureSize, kPictureSize);
    paint::AddGlow(img, line, core, {{0.8, 1.1}});
    paint::AddGlow(img, line, glow, {{3.0, 1.4}});
    paint::AddGlow(img, line, wide, {{8.0, 2.0}});
    paint::AddGlow(img, fine, core, {{0.7, 1.0}});
    paint::AddGlow(img, fine, glow, {{2.5, 0.8}});
    paint::SoftLimit(img, kCap);
    // The outermost pixels stay black so that the picture under the frame sets the edge.
    for (int y = 0; y < kPictureSize; ++y) {
        for (int x = 0; x < kPictureSize; ++x) {
            const double edge =
                std::min({x + 0.5, y + 0.5, kPictureSize - x - 0.5, kPictureSize - y - 0.5});
            const double keep = paint::SmoothStep(1.0, 7.0, edge);
            float* p = img.At(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<float>(p[c] * keep);
        }
    }
    return img;
}

} // namespace art
