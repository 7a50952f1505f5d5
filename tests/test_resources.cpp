// The committed pictures: each one decodes at the size the program expects, the scene's pictures
// stay invisible at their edges and dim enough to overlap, the window's pictures have the
// transparency and the quiet areas their widgets need, and the files match what the generator
// paints today.
#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const std::filesystem::path kResources = VORMEL_RESOURCE_DIR;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    const uint8_t* At(int x, int y) const {
        return &rgba[4 * (static_cast<size_t>(y) * width + x)];
    }
    int Brightest(int x, int y) const {
        const uint8_t* p = At(x, y);
        return std::max({p[0], p[1], p[2]});
    }
    double Luminance(int x, int y) const {
        const uint8_t* p = At(x, y);
        return (0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]) / 255.0;
    }
};

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// Decodes a PNG into RGBA bytes; an empty picture when the file is missing or unreadable.
Picture Load(const std::filesystem::path& path) {
    Surface decoded(IMG_Load(path.c_str()));
    if (!decoded) return {};
    Surface rgba(SDL_ConvertSurfaceFormat(decoded.get(), SDL_PIXELFORMAT_RGBA32, 0));
    if (!rgba) return {};
    Picture p{rgba->w, rgba->h, std::vector<uint8_t>(4 * static_cast<size_t>(rgba->w) * rgba->h)};
    for (int y = 0; y < p.height; ++y) {
        const auto* row =
            static_cast<const uint8_t*>(rgba->pixels) + static_cast<size_t>(y) * rgba->pitch;
        std::copy(row, row + 4 * p.width, p.rgba.begin() + 4 * static_cast<size_t>(y) * p.width);
    }
    return p;
}

enum class Edge {
    Black,       // drawn additively in the view: the outer ring must add nothing
    Transparent, // a widget that is not square: alpha 0 in the corners
    Opaque,      // a square widget: alpha 255 everywhere
};

struct Expected {
    const char* file;
    int width;
    int height;
    Edge edge;
};

constexpr Expected kFiles[] = {
    {"flare0.png", 256, 256, Edge::Black},    {"V1.png", 512, 512, Edge::Black},
    {"V2.png", 512, 512, Edge::Black},        {"V3.png", 512, 512, Edge::Black},
    {"V4.png", 512, 512, Edge::Black},        {"V5.png", 512, 512, Edge::Black},
    {"V6.png", 512, 512, Edge::Black},        {"frame.png", 512, 512, Edge::Black},
    {"Clock.png", 92, 92, Edge::Transparent}, {"assistant.png", 137, 281, Edge::Opaque},
    {"icon.png", 64, 64, Edge::Transparent},
};

bool IsPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// Scene pictures: the six hung at the sinks and the frame over the nearest.
std::array<Picture, 6> LoadSixPictures() {
    std::array<Picture, 6> six;
    for (int i = 0; i < 6; ++i)
        six[i] = Load(kResources / ("V" + std::to_string(i + 1) + ".png"));
    return six;
}

TEST(Resources, EveryFileDecodesAtItsSizeWithTheRightEdge) {
    for (const Expected& e : kFiles) {
        SCOPED_TRACE(e.file);
        const Picture p = Load(kResources / e.file);
        ASSERT_EQ(p.width, e.width);
        ASSERT_EQ(p.height, e.height);
        // Scene pictures become GL textures.
        if (e.edge == Edge::Black) {
            EXPECT_TRUE(IsPowerOfTwo(p.width) && IsPowerOfTwo(p.height));
        }
        int edgeLight = 0;
        int minAlpha = 255;
        int maxAlpha = 0;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                minAlpha = std::min<int>(minAlpha, p.At(x, y)[3]);
                const bool ring = x < 2 || y < 2 || x >= p.width - 2 || y >= p.height - 2;
                if (ring) edgeLight = std::max(edgeLight, p.Brightest(x, y));
            }
        }
        for (int y : {0, p.height - 1})
            for (int x : {0, p.width - 1})
                maxAlpha = std::max<int>(maxAlpha, p.At(x, y)[3]);
        switch (e.edge) {
        case Edge::Black:
            EXPECT_EQ(edgeLight, 0);
            EXPECT_EQ(minAlpha, 255);
            break;
        case Edge::Transparent:
            EXPECT_EQ(maxAlpha, 0) << "corners";
            EXPECT_EQ(p.At(p.width / 2, p.height / 2)[3], 255) << "centre";
            break;
        case Edge::Opaque:
            EXPECT_EQ(minAlpha, 255);
            break;
        }
    }
}

// Under additive blending overlaps add up: every scene picture must stay below white with room
// to spare, yet show something.
TEST(Resources, ScenePicturesAreModeratelyBright) {
    for (const char* file :
         {"V1.png", "V2.png", "V3.png", "V4.png", "V5.png", "V6.png", "frame.png"}) {
        SCOPED_TRACE(file);
        const Picture p = Load(kResources / file);
        ASSERT_GT(p.width, 0);
        int brightest = 0;
        size_t bright = 0;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                brightest = std::max(brightest, p.Brightest(x, y));
                if (p.Brightest(x, y) > 204) ++bright;
            }
        }
        EXPECT_LE(brightest, 220);
        EXPECT_GE(brightest, 150);
        EXPECT_LT(bright, p.rgba.size() / 4 / 20) << "more than 5% of the picture above 0.8";
    }
}

// Pictures of the same motif or colour would make the scene monotonous: every pair must differ
// clearly, pixel by pixel and in average colour.
TEST(Resources, SixPicturesAreDistinct) {
    const std::array<Picture, 6> six = LoadSixPictures();
    std::array<std::array<double, 3>, 6> mean{};
    for (int i = 0; i < 6; ++i) {
        ASSERT_GT(six[i].width, 0) << "V" << i + 1;
        double sum[3] = {0, 0, 0};
        for (size_t k = 0; k < six[i].rgba.size(); k += 4)
            for (int c = 0; c < 3; ++c)
                sum[c] += six[i].rgba[k + c];
        const double total = sum[0] + sum[1] + sum[2];
        for (int c = 0; c < 3; ++c)
            mean[i][c] = sum[c] / total;
    }
    for (int i = 0; i < 6; ++i) {
        for (int j = i + 1; j < 6; ++j) {
            SCOPED_TRACE("V" + std::to_string(i + 1) + " and V" + std::to_string(j + 1));
            double difference = 0.0;
            for (size_t k = 0; k < six[i].rgba.size(); ++k)
                if (k % 4 != 3) difference += std::abs(six[i].rgba[k] - six[j].rgba[k]);
            EXPECT_GT(difference / (six[i].rgba.size() * 0.75), 5.0);
            const double hueGap = std::hypot(mean[i][0] - mean[j][0], mean[i][1] - mean[j][1],
                                             mean[i][2] - mean[j][2]);
            EXPECT_GT(hueGap, 0.03);
        }
    }
}

// The sprite is tinted by the particle colour and drawn on a square quad: it must be grey, round,
// hottest in the middle and black well inside the square.
TEST(Resources, FlareIsAGreyRoundGlowThatEndsInsideTheQuad) {
    const Picture p = Load(kResources / "flare0.png");
    ASSERT_EQ(p.width, 256);
    const double half = p.width / 2.0;
    int outsideLight = 0;
    int asymmetry = 0;
    bool grey = true;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* c = p.At(x, y);
            grey = grey && c[0] == c[1] && c[1] == c[2];
            // Mirror images and the transposed pixel must match: four-fold and diagonal symmetry.
            for (const uint8_t* m :
                 {p.At(p.width - 1 - x, y), p.At(x, p.height - 1 - y), p.At(y, x)})
                asymmetry = std::max(asymmetry, std::abs(m[0] - c[0]));
            if (std::hypot(x + 0.5 - half, y + 0.5 - half) >= 0.95 * half)
                outsideLight = std::max<int>(outsideLight, c[0]);
        }
    }
    EXPECT_TRUE(grey);
    EXPECT_LE(asymmetry, 1);
    EXPECT_EQ(outsideLight, 0);
    const int centre = p.At(128, 128)[0];
    EXPECT_GE(centre, 240);
    // Falls off steadily along a radius.
    for (int x = 129; x < 250; ++x)
        EXPECT_LE(p.At(x, 128)[0], p.At(x - 1, 128)[0]) << x;
}

// The clock widget draws its hands over the middle of the face: no marks may lie there, and the
// dial must be opaque where the hands sweep.
TEST(Resources, ClockFaceLeavesTheHandsRoomAndHasTwelveHourMarks) {
    const Picture p = Load(kResources / "Clock.png");
    ASSERT_EQ(p.width, 92);
    // Radii below are those of a 256-pixel face, scaled to the picture.
    const double k = p.width / 256.0;
    const double centre = p.width / 2.0;
    double brightestInside = 0.0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (std::hypot(x + 0.5 - centre, y + 0.5 - centre) > 75 * k) continue;
            EXPECT_EQ(p.At(x, y)[3], 255);
            brightestInside = std::max(brightestInside, p.Luminance(x, y));
        }
    }
    EXPECT_LT(brightestInside, 0.25);
    // Walk round the circle through the hour marks and count the bright runs, starting halfway
    // between twelve and one so that no run is cut in two.
    int marks = 0;
    bool inMark = false;
    for (int step = 0; step < 3600; ++step) {
        const double angle = (step + 150) * 2.0 * std::numbers::pi / 3600;
        const int x = static_cast<int>(centre + 92 * k * std::sin(angle));
        const int y = static_cast<int>(centre - 92 * k * std::cos(angle));
        const bool lit = p.Luminance(x, y) > 0.6;
        if (lit && !inMark) ++marks;
        inMark = lit;
    }
    EXPECT_EQ(marks, 12);
}

// Light text lies over the middle of the help picture (the label's rectangle within it): that area
// must stay dark enough to read it.
TEST(Resources, AssistantIsDarkBehindTheHelpText) {
    const Picture p = Load(kResources / "assistant.png");
    ASSERT_EQ(p.width, 137);
    double sum = 0.0;
    std::vector<double> lum;
    for (int y = 30; y < 220; ++y) {
        for (int x = 4; x < 133; ++x) {
            lum.push_back(p.Luminance(x, y));
            sum += lum.back();
        }
    }
    std::sort(lum.begin(), lum.end());
    EXPECT_LT(sum / lum.size(), 0.12);
    EXPECT_LT(lum[lum.size() * 99 / 100], 0.3);
}

// The committed files must be what the generator paints now; otherwise someone changed the
// painting code and forgot to remake them (or edited a file by hand).
TEST(Resources, CommittedFilesMatchTheGenerator) {
    const std::filesystem::path out =
        std::filesystem::temp_directory_path() / ("vormel_textures_" + std::to_string(getpid()));
    const std::string command =
        std::string("'") + VORMEL_MAKE_TEXTURES + "' '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const Expected& e : kFiles) {
        SCOPED_TRACE(e.file);
        const Picture committed = Load(kResources / e.file);
        const Picture painted = Load(out / e.file);
        ASSERT_EQ(committed.width, painted.width);
        ASSERT_EQ(committed.height, painted.height);
        int worst = 0;
        for (size_t k = 0; k < committed.rgba.size(); ++k)
            worst = std::max(worst, std::abs(committed.rgba[k] - painted.rgba[k]));
        // One step of rounding is allowed for a different compiler's floating point.
        EXPECT_LE(worst, 1);
    }
    std::filesystem::remove_all(out);
}

} // namespace
