// Writes the window skin, Podcast.sks: the frame, caption, caption buttons, tool tips, borders and
// labels in the steel blue of the clock's rim and the help picture's edge, over the near-black of
// the window. The format is described where the program parses it (platform/skin/skin_file.cpp).
//
// To remake the committed file after changing it here:
//     cmake --build build --target make_skin && build/tools/make_skin Resource/Podcast.sks
#include <cstdio>
#include <string>

namespace {

struct Setting {
    const char* key;
    const char* value;
    const char* comment; // a line of its own above the setting, or null
};

constexpr Setting kSettings[] = {
    {"frame.side", "4", "Metrics, in pixels: the frame around the client area, caption included"},
    {"frame.bottom", "4", nullptr},
    {"caption.height", "28", nullptr},
    {"frame.resize", "4", "How far in from the outer edge a press resizes, and how far along"},
    {"frame.corner", "16", nullptr},
    {"button.width", "24", "Caption buttons, right-aligned in the caption"},
    {"button.height", "18", nullptr},
    {"button.gap", "2", nullptr},
    {"button.margin", "4", nullptr},
    {"caption.size", "13", "Font sizes in pixels, and how long the pointer rests before a tip"},
    {"tooltip.size", "11", nullptr},
    {"label.size", "12", nullptr},
    {"tooltip.delay", "500", nullptr},
    {"frame.outline", "#05070E", "Colours: #RRGGBB, or #AARRGGBB where they let through"},
    {"frame.colour", "#1A2036", nullptr},
    {"caption.top", "#2E3A60", nullptr},
    {"caption.bottom", "#1A2036", nullptr},
    {"caption.text", "#DCE4FF", nullptr},
    {"client.colour", "#0E1018", nullptr},
    {"button.glyph", "#C8D2F0", nullptr},
    {"button.hover", "#3A4670", nullptr},
    {"button.press", "#5A6AA0", nullptr},
    {"button.close", "#B03040", nullptr},
    {"tooltip.fill", "#F0202840", nullptr},
    {"tooltip.border", "#6070A0", nullptr},
    {"tooltip.text", "#E8ECFF", nullptr},
    {"border.colour", "#34406A", nullptr},
    {"label.fill", "#00000000", nullptr},
    {"label.border", "#80405080", nullptr},
    {"label.text", "#E8E8E8", nullptr},
    {"caption.font", "DejaVu Sans", "Font faces; the nearest installed face is used"},
    {"tooltip.font", "DejaVu Sans", nullptr},
    {"label.font", "DejaVu Sans", nullptr},
    {"caption.icon", "icon.png", "The picture in the caption, from this file's folder"},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FILE\n", argc > 0 ? argv[0] : "make_skin");
        return 2;
    }
    std::string text = "# Vormel's window skin. Written by tools/make_skin: change it there.\n"
                       "vormel-skin 1\n";
    for (const Setting& s : kSettings) {
        if (s.comment) text += std::string("\n# ") + s.comment + "\n";
        std::string key = s.key;
        key.resize(16, ' ');
        text += key + s.value + "\n";
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "make_skin: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
