// The skin engine: its file read strictly, and a skinned window laid out as the program lays out
// its own, on a private X server with a real window manager (openbox): frame and caption, caption
// buttons, tool tips, the clock, the picture under the label, the border, moving and resizing.
#include "platform/os/controls.h"
#include "platform/os/window.h"
#include "platform/os/window_internal.h"
#include "platform/skin/kestro.h"
#include "platform/skin/skin_file.h"
#include "platform/skin/skin_internal.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/png_file.h"
#include "support/window_manager.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kResources = fs::path(VORMEL_SOURCE_DIR) / "Resource";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

int CountLines(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines + (!text.empty() && text.back() != '\n');
}

// The skin text with the line that sets key replaced (or, when the key is not set, the line
// added at the end); an empty replacement removes the line. *line is where the change is.
std::string Edited(const std::string& text, const std::string& key, const std::string& newLine,
                   int* line) {
    std::istringstream in(text);
    std::string out;
    std::string current;
    bool done = false;
    *line = 0;
    for (int n = 1; std::getline(in, current); ++n) {
        const bool match = !done && current.rfind(key + " ", 0) == 0;
        if (match) {
            done = true;
            *line = n;
            if (!newLine.empty()) out += newLine + "\n";
        } else {
            out += current + "\n";
        }
    }
    if (!done) {
        out += newLine + "\n";
        *line = CountLines(out);
    }
    return out;
}

} // namespace

// --- The skin file ------------------------------------------------------------------------------

TEST(SkinFile, TheCommittedSkinIsTheGeneratorsAndReadsTheSameWithCrLf) {
    const std::string text = ReadFile(kResources / "Podcast.sks");
    const fs::path made = fs::temp_directory_path() / ("vormel-skin-" + std::to_string(getpid()));
    ASSERT_EQ(std::system(("'" VORMEL_MAKE_SKIN "' '" + made.string() + "'").c_str()), 0);
    EXPECT_EQ(ReadFile(made), text) << "remake Resource/Podcast.sks with make_skin";
    fs::remove(made);

    SkinFile lf;
    SkinFile crlf;
    SkinFileError error;
    ASSERT_TRUE(ParseSkinText(text, &lf, &error)) << error.line << ": " << error.message;
    std::string dos;
    for (char c : text)
        dos += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(ParseSkinText(dos, &crlf, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(crlf.captionFont, lf.captionFont); // no CR left at the end of a value
    EXPECT_EQ(crlf.captionIcon, "icon.png");
    // #RRGGBB is opaque; #AARRGGBB keeps its alpha, even a zero one.
    EXPECT_EQ(lf.frameOutline, 0xFF05070Eu);
    EXPECT_EQ(lf.labelFill, 0x00000000u);
}

TEST(SkinFile, EachKindOfFaultNamesItsLineAndChangesNothing) {
    const std::string base = ReadFile(kResources / "Podcast.sks");
    const struct {
        const char* key; // the line replaced; a key the file does not set adds a line
        std::string line;
        std::string message;
    } cases[] = {
        {"foo", "foo 1", "unknown key \"foo\""},
        {"caption.height", "caption.height 2x8", "bad number \"2x8\" for \"caption.height\""},
        {"caption.height", "caption.height 28 px", "bad number \"28 px\" for \"caption.height\""},
        {"caption.height", "caption.height 99999999999",
         "bad number \"99999999999\" for \"caption.height\""},
        {"frame.side", "frame.side 33", "\"frame.side\" must be from 0 to 32, not 33"},
        {"frame.side", "frame.side -1", "\"frame.side\" must be from 0 to 32, not -1"},
        {"button.height", "button.height 40",
         "\"button.height\" 40 is taller than \"caption.height\" 28"},
        {"frame.outline", "frame.outline #GG0000",
         "bad colour \"#GG0000\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline #FFF",
         "bad colour \"#FFF\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline FF05070E",
         "bad colour \"FF05070E\" for \"frame.outline\" (write #RRGGBB or #AARRGGBB)"},
        {"frame.outline", "frame.outline", "missing value for \"frame.outline\""},
        {"frame.outline", "frame.outline   \t ", "missing value for \"frame.outline\""},
        {"caption.icon", "caption.icon ../icon.png",
         "bad picture name \"../icon.png\" for \"caption.icon\" (a file in the skin's folder)"},
        {"caption.icon", "caption.icon /etc/passwd",
         "bad picture name \"/etc/passwd\" for \"caption.icon\" (a file in the skin's folder)"},
        {"caption.font", "caption.font D\xC3\xA9j\xC3\xA0",
         "bad font name \"D??j??\" for \"caption.font\""},
        {"caption.font", std::string("caption.font Deja\0Vu", 20), "control character in the line"},
        {"caption.font", "caption.font \x1b[31mRed", "control character in the line"},
        {"vormel-skin", "vormel-skin 2", "unsupported skin version \"2\""},
        {"vormel-skin", "frame.side 4", "not a skin file: it must begin with \"vormel-skin 1\""},
        {"#", "#" + std::string(300, '-'), "line longer than 256 characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        int line = 0;
        const std::string text = Edited(base, c.key, c.line, &line);
        SkinFile skin;
        skin.frameSide = 77;
        SkinFileError error;
        EXPECT_FALSE(ParseSkinText(text, &skin, &error));
        EXPECT_EQ(error.line, line);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(skin.frameSide, 77) << "half applied";
    }
    // Faults found only at the end name the last line; a key given twice names its first line.
    SkinFileError error;
    SkinFile skin;
    int line = 0;
    const std::string missing = Edited(base, "label.font", "", &line);
    EXPECT_FALSE(ParseSkinText(missing, &skin, &error));
    EXPECT_EQ(error.line, CountLines(missing));
    EXPECT_EQ(error.message, "missing key \"label.font\"");
    const std::string twice = Edited(base, "frame.side", "frame.side 4", &line);
    const int first = line;
    EXPECT_FALSE(ParseSkinText(Edited(twice, "again", "frame.side 4", &line), &skin, &error));
    EXPECT_EQ(error.line, line);
    EXPECT_EQ(error.message,
              "duplicate key \"frame.side\", first given on line " + std::to_string(first));
    for (const std::string& empty : {std::string(), std::string("# only a comment\n\n")}) {
        EXPECT_FALSE(ParseSkinText(empty, &skin, &error));
        EXPECT_EQ(error.message, "not a skin file: no \"vormel-skin 1\" line");
    }
    EXPECT_FALSE(ParseSkinText(base + std::string(64 * 1024, '#'), &skin, &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_EQ(error.message, "larger than 65536 bytes");
}

TEST(SkinEngine, LoadsOrSaysInOneLineWhyNotAndKeepsTheSkinItHad) {
    // The test's own executable has the skin in its Resource/ folder.
    ASSERT_NE(skInitEngine("Podcast.sks", nullptr), 0);
    const auto loaded = CurrentSkin();
    const fs::path dir = fs::temp_directory_path() / ("vormel-skins-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string base = ReadFile(kResources / "Podcast.sks");
    int line = 0;
    WriteFile(dir / "unknown.sks", Edited(base, "foo", "foo 1", &line));
    const int unknownLine = line;
    WriteFile(dir / "noicon.sks", Edited(base, "caption.icon", "caption.icon none.png", &line));
    const int iconLine = line;
    const std::string folder = ExecutableFolder();
    const struct {
        std::string file;
        std::string said;
    } cases[] = {
        {"Absent.sks", "vormel: Absent.sks: not found beside the program (" + folder + ") or in " +
                           folder + "Resource/\n"},
        {(dir / "absent.sks").string(), "vormel: " + (dir / "absent.sks").string() +
                                            ": cannot read it: No such file or directory\n"},
        {dir.string(), "vormel: " + dir.string() + ": cannot read it: Is a directory\n"},
        {(dir / "unknown.sks").string(), "vormel: " + (dir / "unknown.sks").string() + ":" +
                                             std::to_string(unknownLine) +
                                             ": unknown key \"foo\"\n"},
        {(dir / "noicon.sks").string(),
         "vormel: " + (dir / "noicon.sks").string() + ":" + std::to_string(iconLine) +
             ": cannot read the picture " + (dir / "none.png").string() + "\n"},
        {"", "vormel: skin: no skin file named\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(skInitEngine(c.file.c_str(), nullptr), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said);
        EXPECT_EQ(CurrentSkin(), loaded);
    }
    fs::remove_all(dir);
}
