// The skin file format.
//
// Plain text, one setting a line:
//
//     # a comment: a line whose first non-blank character is '#'
//     vormel-skin 1                 the first line that is not blank or a comment
//     caption.height  28            key, blanks, value
//     caption.top     #FF2B3352     colours: #RRGGBB (opaque) or #AARRGGBB
//     caption.font    DejaVu Sans   font faces: the rest of the line
//     caption.icon    icon.png      pictures: a file name in the skin file's own folder
//
// Every key of the table below must be given exactly once, in any order. Blanks are spaces and
// tabs; a line may end in CR LF. The parser is strict: anything else (an unknown key, a bad or
// out-of-range number, a bad colour, a missing value, a key given twice, a missing key, a picture
// named outside the folder, control characters, an over-long line or file) is an error that names
// its line, and the skin is not used at all.
#include "platform/skin/skin_file.h"

#include <array>
#include <cstddef>
#include <variant>

namespace {

constexpr std::string_view kMagic = "vormel-skin";
constexpr std::string_view kVersion = "1";
constexpr size_t kMaxFileSize = 64 * 1024;
constexpr size_t kMaxLineLength = 256;
constexpr size_t kMaxFontName = 63;
constexpr size_t kMaxPictureName = 64;

struct IntRange {
    int SkinFile::*field;
    int min;
    int max;
};
struct Colour {
    uint32_t SkinFile::*field;
};
struct FontFace {
    std::string SkinFile::*field;
};
struct Picture {
    std::string SkinFile::*field;
};

struct Key {
    std::string_view name;
    std::variant<IntRange, Colour, FontFace, Picture> value;
};

const std::array kKeys = {
    Key{"frame.side", IntRange{&SkinFile::frameSide, 0, 32}},
    Key{"frame.bottom", IntRange{&SkinFile::frameBottom, 0, 32}},
    Key{"caption.height", IntRange{&SkinFile::captionHeight, 0, 96}},
    Key{"frame.resize", IntRange{&SkinFile::resizeBorder, 0, 32}},
    Key{"frame.corner", IntRange{&SkinFile::cornerLength, 0, 64}},
    Key{"button.width", IntRange{&SkinFile::buttonWidth, 4, 96}},
    Key{"button.height", IntRange{&SkinFile::buttonHeight, 4, 96}},
    Key{"button.gap", IntRange{&SkinFile::buttonGap, 0, 32}},
    Key{"button.margin", IntRange{&SkinFile::buttonMargin, 0, 64}},
    Key{"caption.size", IntRange{&SkinFile::captionSize, 4, 72}},
    Key{"tooltip.size", IntRange{&SkinFile::tooltipSize, 4, 72}},
    Key{"label.size", IntRange{&SkinFile::labelSize, 4, 72}},
    Key{"tooltip.delay", IntRange{&SkinFile::tooltipDelay, 0, 10000}},
    Key{"frame.outline", Colour{&SkinFile::frameOutline}},
    Key{"frame.colour", Colour{&SkinFile::frameColour}},
    Key{"caption.top", Colour{&SkinFile::captionTop}},
    Key{"caption.bottom", Colour{&SkinFile::captionBottom}},
    Key{"caption.text", Colour{&SkinFile::captionText}},
    Key{"client.colour", Colour{&SkinFile::clientColour}},
    Key{"button.glyph", Colour{&SkinFile::buttonGlyph}},
    Key{"button.hover", Colour{&SkinFile::buttonHover}},
    Key{"button.press", Colour{&SkinFile::buttonPress}},
    Key{"button.close", Colour{&SkinFile::closeHover}},
    Key{"tooltip.fill", Colour{&SkinFile::tooltipFill}},
    Key{"tooltip.border", Colour{&SkinFile::tooltipBorder}},
    Key{"tooltip.text", Colour{&SkinFile::tooltipText}},
    Key{"border.colour", Colour{&SkinFile::borderColour}},
    Key{"label.fill", Colour{&SkinFile::labelFill}},
    Key{"label.border", Colour{&SkinFile::labelBorder}},
    Key{"label.text", Colour{&SkinFile::labelText}},
    Key{"caption.font", FontFace{&SkinFile::captionFont}},
    Key{"tooltip.font", FontFace{&SkinFile::tooltipFont}},
    Key{"label.font", FontFace{&SkinFile::labelFont}},
    Key{"caption.icon", Picture{&SkinFile::captionIcon}},
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A piece of the file quoted in a message: short, and without bytes a terminal would act on.
std::string Quoted(std::string_view s) {
    constexpr size_t kShown = 40;
    std::string q = "\"";
    for (size_t i = 0; i < s.size() && i < kShown; ++i)
        q += (s[i] >= 0x20 && s[i] < 0x7F) ? s[i] : '?';
    if (s.size() > kShown) q += "...";
    return q + "\"";
}

bool ParseInt(std::string_view s, int* value) {
    bool negative = false;
    if (!s.empty() && s.front() == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = negative ? -v : v;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseColour(std::string_view s, uint32_t* argb) {
    if (s.size() != 7 && s.size() != 9) return false;
    if (s.front() != '#') return false;
    uint32_t v = 0;
    for (char c : s.substr(1)) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *argb = s.size() == 7 ? 0xFF000000u | v : v;
    return true;
}

bool IsFontName(std::string_view s) {
    if (s.size() > kMaxFontName) return false;
    for (char c : s)
        if (c < 0x20 || c >= 0x7F) return false;
    return true;
}

// A plain file name: it cannot leave the skin's folder, name a hidden file or need quoting.
bool IsPictureName(std::string_view s) {
    if (s.empty() || s.size() > kMaxPictureName || s.front() == '.') return false;
    for (char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

class Parser {
  public:
    explicit Parser(SkinFileError* error) : error_(error) {}

    bool Run(std::string_view text, SkinFile* out, SkinFileLines* lines);

  private:
    bool Fail(int line, std::string message) {
        error_->line = line;
        error_->message = std::move(message);
        return false;
    }
    bool Line(int number, std::string_view line);
    bool Setting(int number, std::string_view key, std::string_view value);
    bool Consistent();

    SkinFileError* error_;
    SkinFile skin_;
    bool sawHeader_ = false;
    std::array<int, kKeys.size()> givenOn_{}; // the line of each key, 0 while not given
};

bool Parser::Run(std::string_view text, SkinFile* out, SkinFileLines* lines) {
    if (text.size() > kMaxFileSize)
        return Fail(0, "larger than " + std::to_string(kMaxFileSize) + " bytes");
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!Line(number, line)) return false;
    }
    const int last = number == 0 ? 1 : number;
    if (!sawHeader_) return Fail(last, "not a skin file: no \"vormel-skin 1\" line");
    for (size_t i = 0; i < kKeys.size(); ++i)
        if (givenOn_[i] == 0) return Fail(last, "missing key " + Quoted(kKeys[i].name));
    if (!Consistent()) return false;
    *out = std::move(skin_);
    if (lines) {
        for (size_t i = 0; i < kKeys.size(); ++i)
            if (kKeys[i].name == "caption.icon") lines->captionIcon = givenOn_[i];
    }
    return true;
}

bool Parser::Line(int number, std::string_view line) {
    if (line.size() > kMaxLineLength)
        return Fail(number, "line longer than " + std::to_string(kMaxLineLength) + " characters");
    for (char c : line)
        if ((c >= 0 && c < 0x20 && c != '\t') || c == 0x7F)
            return Fail(number, "control character in the line");
    line = Trim(line);
    if (line.empty() || line.front() == '#') return true;
    size_t split = 0;
    while (split < line.size() && !IsBlank(line[split]))
        ++split;
    const std::string_view key = line.substr(0, split);
    const std::string_view value = Trim(line.substr(split));
    if (!sawHeader_) {
        if (key != kMagic)
            return Fail(number, "not a skin file: it must begin with \"vormel-skin 1\"");
        if (value != kVersion) return Fail(number, "unsupported skin version " + Quoted(value));
        sawHeader_ = true;
        return true;
    }
    return Setting(number, key, value);
}

bool Parser::Setting(int number, std::string_view key, std::string_view value) {
    size_t index = 0;
    while (index < kKeys.size() && kKeys[index].name != key)
        ++index;
    if (index == kKeys.size()) return Fail(number, "unknown key " + Quoted(key));
    if (givenOn_[index] != 0)
        return Fail(number, "duplicate key " + Quoted(key) + ", first given on line " +
                                std::to_string(givenOn_[index]));
    if (value.empty()) return Fail(number, "missing value for " + Quoted(key));
    givenOn_[index] = number;
    const std::string name = Quoted(key);
    return std::visit(
        [&](const auto& kind) {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, IntRange>) {
                int v = 0;
                if (!ParseInt(value, &v))
                    return Fail(number, "bad number " + Quoted(value) + " for " + name);
                if (v < kind.min || v > kind.max)
                    return Fail(number, name + " must be from " + std::to_string(kind.min) +
                                            " to " + std::to_string(kind.max) + ", not " +
                                            std::to_string(v));
                skin_.*kind.field = v;
            } else if constexpr (std::is_same_v<Kind, Colour>) {
                if (!ParseColour(value, &(skin_.*kind.field)))
                    return Fail(number, "bad colour " + Quoted(value) + " for " + name +
                                            " (write #RRGGBB or #AARRGGBB)");
            } else if constexpr (std::is_same_v<Kind, FontFace>) {
                if (!IsFontName(value))
                    return Fail(number, "bad font name " + Quoted(value) + " for " + name);
                skin_.*kind.field = std::string(value);
            } else {
                if (!IsPictureName(value))
                    return Fail(number, "bad picture name " + Quoted(value) + " for " + name +
                                            " (a file in the skin's folder)");
                skin_.*kind.field = std::string(value);
            }
            return true;
        },
        kKeys[index].value);
}

// What single values cannot say: the caption buttons stand inside the caption.
bool Parser::Consistent() {
    if (skin_.buttonHeight <= skin_.captionHeight) return true;
    for (size_t i = 0; i < kKeys.size(); ++i) {
        if (kKeys[i].name == "button.height")
            return Fail(givenOn_[i], "\"button.height\" " + std::to_string(skin_.buttonHeight) +
                                         " is taller than \"caption.height\" " +
                                         std::to_string(skin_.captionHeight));
    }
    return false;
}

} // namespace

bool ParseSkinText(std::string_view text, SkinFile* skin, SkinFileError* error,
                   SkinFileLines* lines) {
    Parser parser(error);
    return parser.Run(text, skin, lines);
}
