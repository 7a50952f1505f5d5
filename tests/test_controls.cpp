// The common controls on a private Xvfb: what they show in the window's chrome and how they
// answer the user and the program.
#include "platform/os/controls.h"
#include "platform/os/window.h"
#include "support/desktop.h"
#include "support/message_log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Pixel {
    int r, g, b;
};

Pixel ChromePixel(const ChromeLayer& layer, int x, int y) {
    const uint32_t v = *reinterpret_cast<const uint32_t*>(
        layer.pixels + static_cast<size_t>(y) * layer.stride + static_cast<size_t>(x) * 4);
    return {static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
            static_cast<int>(v & 0xFF)};
}

bool Lit(const Pixel& p) {
    return p.r + p.g + p.b > 3 * 100;
}

} // namespace

TEST(Label, ShowsItsTextWithLineBreaksAndEscapedAmpersands) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"drag && drop.", "drag & drop."},
        {"&File", "File"},
        {"a&&&b", "a&b"},
        {"trailing &", "trailing "},
        {"one\r\ntwo\rthree\nfour", "one\ntwo\nthree\nfour"},
        {"\r\n\r\n", "\n\n"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DisplayedLabelText(c.text), c.shown) << c.text;
}

TEST(Label, IsCentredAndFramedInTheChrome) {
    WindowHandle main = CreateMainWindow("label", 300, 200, RecordingProc);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(IsChildClassRegistered(kStaticClass));
    WindowHandle label = CreateChildWindow(kStaticClass, main, -102, 50, 40, 120, 60);
    ASSERT_NE(label, nullptr);
    SetWindowText(label, "\r\nI\r\nW&&W");
    LabelStyle style;
    style.pixelSize = 14;
    style.textArgb = 0xFFFFFFFF;
    style.borderArgb = 0xFF00FF00;
    SetLabelStyle(label, style);
    ChromeLayer layer;
    WindowRect changed;
    ASSERT_TRUE(UpdateChrome(main, &layer, &changed));
    // The border: green on every edge, nothing of it outside.
    for (auto [x, y] : {std::pair{50, 40}, {169, 40}, {50, 99}, {169, 99}, {110, 40}, {50, 70}})
        EXPECT_EQ(ChromePixel(layer, x, y).g, 255) << x << ", " << y;
    EXPECT_NE(ChromePixel(layer, 49, 40).g, 255);
    // The first line is empty, the second a narrow "I" in the middle, the third wider.
    auto litIn = [&](int y0, int y1, int x0, int x1) {
        int lit = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                lit += Lit(ChromePixel(layer, x, y));
        return lit;
    };
    const int lineHeight = 17;
    EXPECT_EQ(litIn(42, 41 + lineHeight, 52, 168), 0);
    EXPECT_GT(litIn(41 + lineHeight, 41 + 2 * lineHeight, 105, 115), 0);
    EXPECT_EQ(litIn(41 + lineHeight, 41 + 2 * lineHeight, 52, 100), 0);
    EXPECT_GT(litIn(41 + 2 * lineHeight, 41 + 3 * lineHeight, 80, 100), 0);
    DestroyWindow(main);
}
