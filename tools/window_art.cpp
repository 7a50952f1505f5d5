// The pictures of the window around the view: the clock face, the picture behind the help text
// and the program icon. These are drawn by the window with ordinary alpha, not added onto black,
// so they carry real transparency where they are not square.
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

// Colour with straight (not premultiplied) alpha, as PNG stores it.
struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;
};

// Porter-Duff "over": c at opacity alpha laid on below.
Rgba Over(Rgba below, Rgb c, double alpha) {
    const double a = alpha + below.a * (1.0 - alpha);
    if (a <= 0.0) return {};
    auto blend = [&](double top, double bottom) {
        return (top * alpha + bottom * below.a * (1.0 - alpha)) / a;
    };
    return {blend(c.r, below.r), blend(c.g, below.g), blend(c.b, below.b), a};
}

// Anti-aliases hard-edged shapes: shade(x, y) is asked at n x n points inside each pixel (pixel
// coordinates, y downwards) and the answers are averaged with their alpha as weight.
template <class Shade> void Supersample(Image& img, int n, Shade shade) {
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            Rgba sum;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const Rgba s = shade(x + (sx + 0.5) / n, y + (sy + 0.5) / n);
                    sum.r += s.r * s.a;
                    sum.g += s.g * s.a;
                    sum.b += s.b * s.a;
                    sum.a += s.a;
                }
            }
            float* p = img.At(x, y);
            const double k = sum.a > 0.0 ? 1.0 / sum.a : 0.0;
            p[0] = static_cast<float>(sum.r * k);
            p[1] = static_cast<float>(sum.g * k);
            p[2] = static_cast<float>(sum.b * k);
            p[3] = static_cast<float>(sum.a / (n * n));
        }
    }
}

// The clock face is drawn at the size the clock control shows it: it fits the panel right of the
// view, above the help picture. Its geometry is given for a 256-pixel face and scaled down; lines
// keep at least about half a pixel of width so that they survive the scaling.
constexpr int kClockSide = 92;
constexpr double kClockScale = kClockSide / 256.0;
constexpr double kDialRadius = 122.0;
constexpr double kRimRadius = 113.0;
constexpr double kTickOuter = 106.0;
constexpr double kThinnest = 0.55 / kClockScale; // half a line width, in 256-pixel units

Rgba ClockAt(double x, double y) {
    const double dx = x / kClockScale - 128.0;
    const double dy = y / kClockScale - 128.0;
    const double r = std::hypot(dx, dy);
    Rgba p;
    if (r > kDialRadius) return p;
    p = Over(
        p,
        paint::Mix({0.07, 0.09, 0.16}, {0.13, 0.16, 0.28}, (r / kDialRadius) * (r / kDialRadius)),
        1.0);
    if (r >= kRimRadius) {
        // A bevelled rim lit from the upper left.
        const double light = 0.55 + 0.45 * std::cos(std::atan2(dy, dx) + 0.75 * kPi);
        return Over(p, paint::Scale({0.55, 0.62, 0.82}, light), 1.0);
    }
    if (std::abs(r - 110.0) <= kThinnest) p = Over(p, {0.35, 0.40, 0.55}, 1.0);
    // Angle clockwise from twelve o'clock, and the nearest of the 60 minute marks.
    const double turn = std::atan2(dx, -dy);
    const double markStep = 2.0 * kPi / 60.0;
    const long mark = std::lrint(turn / markStep);
    const double off = turn - static_cast<double>(mark) * markStep;
    const double radial = r * std::cos(off);
    const double across = std::abs(r * std::sin(off));
    const bool hour = mark % 5 == 0;
    const bool quarter = mark % 15 == 0;
    const double inner = quarter ? 80.0 : hour ? 86.0 : 98.0;
    const double halfWidth = std::max(quarter ? 2.6 : hour ? 2.0 : 0.7, kThinnest);
    if (radial >= inner && radial <= kTickOuter && across <= halfWidth)
        p = Over(p, hour ? Rgb{0.92, 0.94, 1.0} : Rgb{0.55, 0.60, 0.75}, 1.0);
    return p;
}

} // namespace

// A dark dial with a bevelled rim, twelve hour marks (longer at the quarters) and sixty minute
// ticks. The middle stays empty: the clock widget draws its two hands there.
Image MakeClockFace() {
    Image img(kClockSide, kClockSide);
    Supersample(img, 8, ClockAt);
    return img;
}

// A dark panel with faint field lines from a glowing source at the bottom to a sink at the top,
// with particles on them. The help text lies over the middle, so the middle stays dim and the
// bright source sits below the text.
Image MakeAssistant() {
    constexpr int kWidth = 137;
    constexpr int kHeight = 281;
    constexpr double kMiddle = kWidth / 2.0;
    constexpr double kSourceY = 252.0;
    constexpr double kSinkY = 14.0;
    const Rgb warm{1.0, 0.55, 0.22};
    const Rgb cool{0.35, 0.55, 1.0};
    Image img(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool edge = x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1;
            img.Add(x, y,
                    edge ? Rgb{0.14, 0.17, 0.30}
                         : paint::Mix({0.05, 0.05, 0.13}, {0.02, 0.05, 0.11}, y / (kHeight - 1.0)));
        }
    }
    Field warmLight(kWidth, kHeight);
    Field coolLight(kWidth, kHeight);
    auto linePoint = [&](int line, double t) {
        return std::pair{kMiddle + line * 15.0 * std::sin(kPi * t),
                         kSourceY - t * (kSourceY - kSinkY)};
    };
    for (int line = -3; line <= 3; ++line) {
        constexpr int kPieces = 120;
        for (int i = 0; i < kPieces; ++i) {
            const double t0 = static_cast<double>(i) / kPieces;
            const double t1 = static_cast<double>(i + 1) / kPieces;
            const auto [x0, y0] = linePoint(line, t0);
            const auto [x1, y1] = linePoint(line, t1);
            paint::Stroke(warmLight, x0, y0, x1, y1, 0.25 * (1.0 - t0));
            paint::Stroke(coolLight, x0, y0, x1, y1, 0.25 * t0);
        }
        for (int k = 0; k < 5; ++k) {
            const double t = std::fmod(0.13 * (line + 3) + k / 5.0, 1.0);
            // Particles are brighter near the ends, where no text lies over them.
            const double amount = 0.8 + 2.0 * std::pow(std::abs(2.0 * t - 1.0), 4.0);
            const auto [x, y] = linePoint(line, t);
            paint::Deposit(warmLight, x, y, amount * (1.0 - t));
            paint::Deposit(coolLight, x, y, amount * t);
        }
    }
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double source = std::hypot(x + 0.5 - kMiddle, y + 0.5 - kSourceY);
            const double sink = std::hypot(x + 0.5 - kMiddle, y + 0.5 - kSinkY);
            img.Add(x, y,
                    paint::Scale(warm, 0.9 * std::exp(-(source / 4.0) * (source / 4.0)) +
                                           0.3 * std::exp(-(source / 14.0) * (source / 14.0))));
            img.Add(x, y,
                    paint::Scale(cool, 0.6 * std::exp(-(sink / 3.0) * (sink / 3.0)) +
                                           0.15 * std::exp(-(sink / 9.0) * (sink / 9.0))));
        }
    }
    paint::AddGlow(img, warmLight, warm, {{0.8, 1.0}, {3.0, 1.0}, {12.0, 2.0}});
    paint::AddGlow(img, coolLight, cool, {{0.8, 1.0}, {3.0, 1.0}, {12.0, 2.0}});
    paint::SoftLimit(img, 0.9);
    return img;
}

namespace {

// Icon geometry, in pixels: a source on the left and a sink on the right of the 64 x 64 icon,
// kPole from its centre, joined by circular field lines whose middles stand kBulge off the axis.
constexpr double kPole = 14.5;
constexpr double kBulge[] = {-13.0, -7.0, 0.0, 7.0, 13.0};
// Where along each line (0 at the source, 1 at the sink) its particle is.
constexpr double kParticleAt[] = {0.62, 0.30, 0.50, 0.72, 0.38};
const Rgb kSourceColour{1.0, 0.60, 0.20};
const Rgb kSinkColour{0.35, 0.65, 1.0};

// The circle through both poles and (0, h): its centre's height and radius (h != 0).
std::pair<double, double> ArcCircle(double h) {
    const double k = (h * h - kPole * kPole) / (2.0 * h);
    return {k, std::abs(h - k)};
}

// Height of field line h above the axis at x (y upwards), for |x| <= kPole.
double ArcHeight(double h, double x) {
    if (h == 0.0) return 0.0;
    const auto [k, radius] = ArcCircle(h);
    return k + std::copysign(std::sqrt(radius * radius - x * x), h);
}

// Distance from (x, y) (y upwards) to field line h.
double ArcDistance(double h, double x, double y) {
    const double toEnds = std::min(std::hypot(x + kPole, y), std::hypot(x - kPole, y));
    if (h == 0.0) return std::abs(x) <= kPole ? std::abs(y) : toEnds;
    const auto [k, radius] = ArcCircle(h);
    const double d = std::hypot(x, y - k);
    // Only the part of the circle on the bulge's side of the axis belongs to the line.
    const double nearestY = k + (d > 0.0 ? (y - k) * radius / d : radius);
    return nearestY * h >= 0.0 ? std::abs(d - radius) : toEnds;
}

Rgb LineColour(double x) {
    return paint::Mix(kSourceColour, kSinkColour, paint::Clamp01((x + kPole) / (2.0 * kPole)));
}

Rgba IconAt(double px, double py) {
    const double x = px - 32.0;
    const double y = 32.0 - py;
    const double r = std::hypot(x, y);
    Rgba p;
    if (r <= 30.5) {
        p = Over(p, paint::Mix({0.10, 0.11, 0.22}, {0.04, 0.05, 0.11}, r / 30.5), 1.0);
        if (r >= 29.2) p = Over(p, {0.32, 0.38, 0.60}, 1.0);
    }
    int line = 0;
    for (double h : kBulge) {
        if (ArcDistance(h, x, y) <= 1.0) p = Over(p, LineColour(x), 0.75);
        // One particle on every line, at staggered places so that together they read as a flow.
        const double dotX = -kPole + 2.0 * kPole * kParticleAt[line];
        const double dot = std::hypot(x - dotX, y - ArcHeight(h, dotX));
        if (dot <= 2.6) p = Over(p, LineColour(dotX), 1.0);
        if (dot <= 1.2) p = Over(p, {1.0, 1.0, 0.95}, 0.8);
        ++line;
    }
    // The source: a bright disc with a halo.
    const double rs = std::hypot(x + kPole, y);
    if (rs <= 5.5)
        p = Over(p, paint::Mix({1.0, 0.95, 0.75}, kSourceColour, rs / 5.5), 1.0);
    else if (rs <= 8.5)
        p = Over(p, kSourceColour, 0.45 * (8.5 - rs) / 3.0);
    // The sink: a ring around a dark hole.
    const double rk = std::hypot(x - kPole, y);
    if (rk <= 3.0)
        p = Over(p, {0.02, 0.03, 0.08}, 1.0);
    else if (rk <= 5.6)
        p = Over(p, paint::Mix(kSinkColour, {1.0, 1.0, 1.0}, 0.3), 1.0);
    else if (rk <= 8.0)
        p = Over(p, kSinkColour, 0.4 * (8.0 - rk) / 2.4);
    return p;
}

} // namespace

// Field lines carrying particles from a glowing source (left) into a dark-cored sink (right), on
// a round dark badge; transparent outside the badge.
Image MakeIcon() {
    Image img(64, 64);
    Supersample(img, 6, IconAt);
    return img;
}

} // namespace art
