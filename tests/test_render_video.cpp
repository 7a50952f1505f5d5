// `vormel --render` as its user runs it, with no display at all (DISPLAY and WAYLAND_DISPLAY are
// taken out of its environment): what it writes frame for frame, that pieces join into the whole,
// that the pictures follow the sound, and how it ends when it cannot go on.
#include "app/command_line.h"
#include "platform/video/render_output.h"
#include "platform/video/y4m.h"
#include "support/sound_fixtures.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 160, kHeight = 90, kFps = 30;
constexpr size_t kFrameBytes = kWidth * kHeight * 3 / 2;
constexpr size_t kSamplesPerFrame = 44100 / kFps; // at 30 fps every frame is 1470 samples long
constexpr size_t kWavHeader = 58;
// The test sound: silence, then a full-scale tone from 1.01 s to its end at 3.39 s. Its end falls
// inside frame 102's stretch of sound, so a render of it once has frames 0 to 101.
constexpr double kToneFrom = 1.01, kSoundSeconds = 3.39;
constexpr int kWholeFrames = 102;

ScratchFolder& Folder() {
    static ScratchFolder folder;
    return folder;
}

std::string Path(const std::string& name) {
    return Folder().Path(name);
}

const std::string& TestSound() {
    static const std::string path = [] {
        Signal signal;
        signal.seconds = kSoundSeconds;
        signal.loudFrom = kToneFrom;
        EXPECT_TRUE(WriteSound(Path("song.wav"), SoundFormat::WavFloat, signal));
        return Path("song.wav");
    }();
    return path;
}

struct Outcome {
    int exitCode = -1;
    std::string errors;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program with args and no display. stdoutFd, when not -1, becomes its standard output
// (else /dev/null); env entries are added to what it inherits.
Outcome Vormel(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
               int stdoutFd = -1) {
    static int runs = 0;
    const std::string errors = Path("stderr-" + std::to_string(++runs));
    std::vector<std::string> entries = env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            entry.rfind("SDL_VIDEODRIVER=", 0) != 0)
            entries.push_back(entry);
    }
    std::vector<std::string> words = {VORMEL_PROGRAM, "--render"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (std::string& w : words)
        argv.push_back(w.data());
    for (std::string& e : entries)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    Outcome run;
    if (posix_spawn(&pid, VORMEL_PROGRAM, &actions, nullptr, argv.data(), envp.data()) == 0) {
        if (stdoutFd >= 0) close(stdoutFd);
        int status = 0;
        waitpid(pid, &status, 0);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.errors = ReadFile(errors);
    return run;
}

std::vector<std::string> Render(const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args = {TestSound(), "--size", "160x90", "--fps", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    const Outcome run = Vormel(args);
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.errors;
    EXPECT_EQ(run.errors, "") << name;
    return args;
}

struct Video {
    std::string header;
    std::vector<std::string> frames; // the planes of each frame
};

// A YUV4MPEG2 stream of 160 x 90 pictures; every frame must be whole.
Video ReadY4m(const std::string& path) {
    const std::string bytes = ReadFile(path);
    Video video;
    const size_t eol = bytes.find('\n');
    if (eol == std::string::npos) return video;
    video.header = bytes.substr(0, eol);
    for (size_t at = eol + 1; at < bytes.size(); at += 6 + kFrameBytes) {
        EXPECT_EQ(bytes.compare(at, 6, "FRAME\n"), 0) << "frame " << video.frames.size();
        EXPECT_LE(at + 6 + kFrameBytes, bytes.size()) << "a frame is cut off";
        video.frames.push_back(bytes.substr(at + 6, kFrameBytes));
    }
    return video;
}

// The samples of a float WAV file, after its header.
std::string WavSamples(const std::string& path) {
    const std::string bytes = ReadFile(path);
    EXPECT_GE(bytes.size(), kWavHeader);
    return bytes.size() < kWavHeader ? "" : bytes.substr(kWavHeader);
}

// The left side of a float WAV file's stereo samples.
std::vector<float> LeftSamples(const std::string& path) {
    const std::string bytes = WavSamples(path);
    std::vector<float> left(bytes.size() / 8);
    for (size_t i = 0; i < left.size(); ++i)
        std::memcpy(&left[i], bytes.data() + i * 8, sizeof(float));
    return left;
}

// A tone's frequency at 44.1 kHz from its rising zero crossings in samples [from, to), each placed
// between its two samples by linear interpolation: the whole periods from the first crossing to
// the last over the time between them. Over two seconds this resolves a millionth of the frequency.
double ToneFrequency(const std::vector<float>& samples, size_t from, size_t to) {
    double first = -1, last = -1;
    int periods = -1;
    for (size_t i = from; i + 1 < to; ++i) {
        const double a = samples[i], b = samples[i + 1];
        if (a >= 0 || b < 0) continue;
        last = static_cast<double>(i) + a / (a - b);
        if (first < 0) first = last;
        ++periods;
    }
    return last > first ? periods * 44100.0 / (last - first) : 0;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The light of a frame: its luma above black (16 at limited range).
int64_t Brightness(const std::string& frame) {
    int64_t sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(kWidth * kHeight); ++i)
        sum += static_cast<uint8_t>(frame[i]) - 16;
    return sum;
}

// Three renders of the test sound, made once: the whole sound (video, pictures and sound), a piece
// of it from 2 s for 1 s, and the sound played on past its end, twice.
class Renders : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        Render("whole",
               {"--y4m", Path("whole.y4m"), "--png", Path("whole"), "--audio", Path("whole.wav")});
        Render("piece", {"--start", "2", "--seconds", "1", "--y4m", Path("piece.y4m"), "--png",
                         Path("piece"), "--audio", Path("piece.wav")});
        for (const char* name : {"again1", "again2"})
            Render(name, {"--seconds", "5", "--y4m", Path(std::string(name) + ".y4m"), "--audio",
                          Path(std::string(name) + ".wav")});
    }
};

} // namespace

// The whole sound, once: one frame per 1/30 s until the sound has ended, a header that video
// tools read, the sound of exactly those frames, and one finished PNG per frame.
TEST_F(Renders, TheWholeSoundOnceInEveryForm) {
    const Video whole = ReadY4m(Path("whole.y4m"));
    EXPECT_EQ(whole.header,
              "YUV4MPEG2 W160 H90 F30:1 Ip A1:1 C420jpeg XYSCSS=420JPEG XCOLORRANGE=LIMITED");
    EXPECT_EQ(whole.frames.size(), static_cast<size_t>(kWholeFrames));

    const std::string wav = ReadFile(Path("whole.wav"));
    ASSERT_GE(wav.size(), kWavHeader);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(wav[20], 3) << "float samples";
    EXPECT_EQ(wav.size() - kWavHeader, kWholeFrames * kSamplesPerFrame * 8);
    // What was mixed is the file itself: the tone's first crest (the 441 Hz sine crests every 100
    // samples from sample 25), at full scale on both sides.
    const size_t crest = 44625;
    float sample[2] = {};
    std::memcpy(sample, wav.data() + kWavHeader + crest * 8, sizeof sample);
    EXPECT_EQ(sample[0], 1.0f);
    EXPECT_EQ(sample[1], 1.0f);

    const std::vector<std::string> pngs = FilesIn(Path("whole"));
    ASSERT_EQ(pngs.size(), static_cast<size_t>(kWholeFrames)) << "no hidden leftovers either";
    EXPECT_EQ(pngs.front(), "000000.png");
    EXPECT_EQ(pngs.back(), "000101.png");
    const std::string png = ReadFile(Path("whole/000050.png"));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\0\xa0\0\0\0\x5a", 8)) << "160 x 90";
}

// A piece rendered on its own is frame for frame, picture for picture and sample for sample the
// same stretch of the whole render: frames 60 to 89 at 30 fps.
TEST_F(Renders, APieceIsTheSameStretchOfTheWhole) {
    const Video whole = ReadY4m(Path("whole.y4m"));
    const Video piece = ReadY4m(Path("piece.y4m"));
    ASSERT_EQ(piece.frames.size(), 30u);
    ASSERT_EQ(whole.frames.size(), static_cast<size_t>(kWholeFrames));
    for (size_t i = 0; i < piece.frames.size(); ++i)
        EXPECT_TRUE(piece.frames[i] == whole.frames[60 + i]) << "frame " << 60 + i;

    const std::vector<std::string> pngs = FilesIn(Path("piece"));
    ASSERT_EQ(pngs.size(), 30u);
    EXPECT_EQ(pngs.front(), "000060.png") << "a piece numbers its frames as the whole does";
    for (const std::string& name : pngs)
        EXPECT_TRUE(ReadFile(Path("piece/" + name)) == ReadFile(Path("whole/" + name))) << name;

    const std::string all = WavSamples(Path("whole.wav"));
    const std::string part = WavSamples(Path("piece.wav"));
    EXPECT_EQ(part.size(), 30 * kSamplesPerFrame * 8);
    EXPECT_TRUE(part == all.substr(60 * kSamplesPerFrame * 8, part.size()));
}

// The same render twice gives the same bytes, through the end of the sound and its new start; up
// to that end it is the render of the sound once. The sound starts over with the frame after its
// end, and so does the scene.
TEST_F(Renders, AgainGivesTheSameBytesAndTheSoundStartsOverAtTheSameFrame) {
    EXPECT_TRUE(ReadFile(Path("again1.y4m")) == ReadFile(Path("again2.y4m")));
    EXPECT_TRUE(ReadFile(Path("again1.wav")) == ReadFile(Path("again2.wav")));
    const Video again = ReadY4m(Path("again1.y4m"));
    const Video whole = ReadY4m(Path("whole.y4m"));
    ASSERT_EQ(again.frames.size(), 150u);
    ASSERT_EQ(whole.frames.size(), static_cast<size_t>(kWholeFrames));
    for (size_t i = 0; i < whole.frames.size(); ++i)
        EXPECT_TRUE(again.frames[i] == whole.frames[i]) << "frame " << i;

    const std::string sound = WavSamples(Path("again1.wav"));
    const std::string once = WavSamples(Path("whole.wav"));
    ASSERT_EQ(sound.size(), 150 * kSamplesPerFrame * 8);
    const size_t restart = kWholeFrames * kSamplesPerFrame * 8;
    EXPECT_TRUE(sound.substr(0, restart) == once);
    EXPECT_TRUE(sound.substr(restart, 48 * kSamplesPerFrame * 8) ==
                once.substr(0, 48 * kSamplesPerFrame * 8));
}

// In silence the particles are invisible and the pictures rest; the first frame whose last 20 ms
// hold the tone (frame 31, at 1.033 s) shows the particles and the pictures grown.
TEST_F(Renders, ThePicturesGrowAtTheFrameWhereTheToneBegins) {
    const Video whole = ReadY4m(Path("whole.y4m"));
    ASSERT_GT(whole.frames.size(), 40u);
    int grown = -1;
    for (int i = 1; i < 40 && grown < 0; ++i) {
        const double before = static_cast<double>(Brightness(whole.frames[i - 1]));
        if (static_cast<double>(Brightness(whole.frames[i])) > before * 1.05) grown = i;
    }
    EXPECT_NEAR(grown, 31, 1);
}

// A render has no output and so no latency: frame N reads the 20 ms of sound that end at its own
// moment, whatever correction the environment asks for, and its bytes are those of a render
// without it. Frames 0 to 30 end before the tone begins (at 1.01 s); from frame 31 on, the 20 ms
// hold its full-scale crests.
TEST_F(Renders, ReadTheSoundOfTheirOwnMomentWhateverDelayIsAsked) {
    const std::string trace = Path("levels.txt");
    const Outcome run =
        Vormel({TestSound(), "--size", "160x90", "--fps", "30", "--y4m", Path("delayed.y4m")},
               {"VORMEL_DELAY=500", "VORMEL_LEVEL_TRACE=" + trace});
    ASSERT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(ReadFile(Path("delayed.y4m")) == ReadFile(Path("whole.y4m")));
    std::istringstream lines(ReadFile(trace));
    int frame = 0;
    for (std::string line; std::getline(lines, line); ++frame) {
        double read = 0, shown = 0;
        unsigned left = 0, right = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %u %u", &read, &shown, &left, &right), 4);
        const unsigned level = frame <= 30 ? 0 : 32768;
        EXPECT_EQ(left, level) << "frame " << frame;
        EXPECT_EQ(right, level) << "frame " << frame;
    }
    EXPECT_EQ(frame, kWholeFrames);
}

// A sound plays at its true speed whatever its rate: a tone keeps its frequency (within 0.001 %),
// and a file of 2.04 s (a whole number of samples at every rate) is 2.04 s of sound to the sample,
// its last sample heard and nothing after it. Mono, stereo and 5.1; lossless and lossy.
TEST(RenderSound, EveryRatePlaysAtItsTrueSpeedToTheSample) {
    constexpr double kTone = 997, kSeconds = 2.04;
    const size_t length = static_cast<size_t>(std::lrint(kSeconds * 44100));
    const struct {
        int rate;
        int channels;
        SoundFormat format;
        const char* extension;
    } cases[] = {
        {8000, 1, SoundFormat::WavFloat, "wav"},   {11025, 2, SoundFormat::Flac, "flac"},
        {16000, 1, SoundFormat::Flac, "flac"},     {22050, 2, SoundFormat::WavPcm16, "wav"},
        {32000, 2, SoundFormat::WavFloat, "wav"},  {44100, 6, SoundFormat::WavFloat, "wav"},
        {48000, 2, SoundFormat::WavFloat, "wav"},  {48000, 2, SoundFormat::OggOpus, "opus"},
        {88200, 2, SoundFormat::Flac, "flac"},     {96000, 6, SoundFormat::WavFloat, "wav"},
        {192000, 2, SoundFormat::WavFloat, "wav"},
    };
    for (const auto& c : cases) {
        const std::string name =
            "tone-" + std::to_string(c.rate) + "-" + std::to_string(c.channels) + "." + c.extension;
        SCOPED_TRACE(name);
        Signal tone;
        tone.seconds = kSeconds;
        tone.rate = c.rate;
        tone.frequency = kTone;
        tone.amplitudes.assign(static_cast<size_t>(c.channels), 0.5);
        ASSERT_TRUE(WriteSound(Path(name), c.format, tone));
        const Outcome run =
            Vormel({Path(name), "--size", "32x18", "--fps", "10", "--audio", Path(name + ".wav")});
        ASSERT_EQ(run.exitCode, 0) << run.errors;
        const std::vector<float> left = LeftSamples(Path(name + ".wav"));
        size_t heard = left.size();
        while (heard > 0 && left[heard - 1] == 0.0f)
            --heard;
        EXPECT_EQ(heard, length) << "samples of sound, of " << left.size() << " written";
        // A tenth of a second off each end, where the filters start and stop.
        ASSERT_GT(left.size(), length);
        EXPECT_NEAR(ToneFrequency(left, 4410, length - 4410), kTone, kTone * 1e-5);
    }
}

// Every way a render can fail ends it with one line on stderr and a non-zero exit code, leaving
// no file under a final name and no hidden file behind.
TEST(RenderFailures, EndWithOneLineAndLeaveNoFile) {
    const std::string out = Path("fail");
    fs::create_directories(out);
    const std::string junk = Path("junk.ogg");
    ASSERT_TRUE(WriteBytes(junk, NoiseBytes(4000, 7)));
    const std::string song = TestSound();
    const std::string video = out + "/out.y4m";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int exitCode;
        std::string told;
    } cases[] = {
        {{Path("missing.ogg"), "--y4m", video}, {}, 1, "vormel: cannot play "},
        {{junk, "--y4m", video}, {}, 1, "vormel: cannot play "},
        {{song, "--y4m", out + "/no-folder/out.y4m"}, {}, 1, "vormel: cannot write "},
        {{song, "--y4m", "/dev/full"}, {}, 1, "vormel: cannot write /dev/full: No space left"},
        {{song, "--y4m", video, "--audio", "/dev/full"}, {}, 1, "vormel: cannot write /dev/full"},
        {{song, "--png", song}, {}, 1, "vormel: cannot write into the folder "},
        {{song, "--start", "9", "--y4m", video}, {}, 1, "vormel: --start is past the end"},
        {{song, "--y4m", video}, {"SDL_VIDEO_EGL_DRIVER=/no/libEGL.so"}, 99, "vormel: no OpenGL"},
        {{song, "--size", "161x90", "--y4m", video}, {}, 2, "vormel: --y4m needs an even"},
    };
    for (const auto& c : cases) {
        // A case's own size comes later and wins.
        std::vector<std::string> args = {"--size", "160x90", "--fps", "30"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.told);
        const Outcome run = Vormel(args, c.env);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors;
        EXPECT_EQ(run.errors.rfind(c.told, 0), 0u) << run.errors;
        if (c.exitCode != 2) {
            EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
        }
        EXPECT_EQ(FilesIn(out), std::vector<std::string>{});
    }
}

// A reader that stops reading the stream (a video tool that quits) ends the render at once, with
// one line and a non-zero exit, not with a silent SIGPIPE or a hang.
TEST(RenderFailures, AReaderThatQuitsEndsTheStream) {
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    std::vector<char> start(1000);
    // The reader takes the header and a little more, then closes the pipe.
    std::thread reader([&] {
        size_t got = 0;
        while (got < start.size()) {
            const ssize_t n = read(pipeFds[0], start.data() + got, start.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        close(pipeFds[0]);
    });
    const Outcome run = Vormel({TestSound(), "--size", "160x90", "--y4m", "-"}, {}, pipeFds[1]);
    reader.join();
    EXPECT_EQ(std::string(start.data(), 10), "YUV4MPEG2 ");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errors, "vormel: the reader of standard output closed it before the end\n");
}

// The stream's colours are BT.709 at limited range, as its header says, and its top row is the
// picture's top: OpenGL hands the rows over bottom first.
TEST(RenderColours, AreBt709AtLimitedRangeTheRightWayUp) {
    const struct {
        uint8_t r, g, b, y, u, v;
    } cases[] = {{255, 255, 255, 235, 128, 128},
                 {0, 0, 0, 16, 128, 128},
                 {255, 0, 0, 63, 102, 240},
                 {0, 255, 0, 173, 42, 26},
                 {0, 0, 255, 32, 240, 118}};
    for (const auto& c : cases) {
        // 2 x 4 pixels: the colour in the upper half, black below (given bottom row first).
        std::vector<uint8_t> rgba(2 * 4 * 4, 0);
        for (size_t i = 16; i < rgba.size(); i += 4)
            std::tie(rgba[i], rgba[i + 1], rgba[i + 2]) = std::make_tuple(c.r, c.g, c.b);
        uint8_t y[8], u[2], v[2];
        ConvertToYuv420(rgba.data(), 2, 4, y, u, v);
        EXPECT_EQ(std::make_tuple(+y[0], +u[0], +v[0]), std::make_tuple(+c.y, +c.u, +c.v));
        EXPECT_EQ(std::make_tuple(+y[7], +u[1], +v[1]), std::make_tuple(16, 128, 128));
    }
}

// What each file holds of what it was given, in its format's order: the stream's Y, U and V planes
// one after the other, top row first; the PNG's red, green and blue where a reader looks for them;
// the WAV header counting the frames written.
TEST(RenderFiles, KeepThePlanesColoursAndLengthTheyWereGiven) {
    RenderTargets targets;
    targets.y4m = Path("colours.y4m");
    targets.pngFolder = Path("colours");
    targets.wav = Path("colours.wav");
    targets.width = 2;
    targets.height = 4;
    targets.fps = 25;
    RenderOutput output;
    ASSERT_TRUE(output.Open(targets)) << output.Error();
    // Red above, blue below, given bottom row first as OpenGL reads it.
    std::vector<uint8_t> rgba(2 * 4 * 4, 255);
    for (size_t i = 0; i < rgba.size(); i += 4)
        std::tie(rgba[i], rgba[i + 1], rgba[i + 2]) =
            i < 16 ? std::make_tuple(0, 0, 255) : std::make_tuple(255, 0, 0);
    output.SetFrameNumber(7);
    output.TakeFrame(rgba.data(), 2, 4);
    std::vector<float> sound(2 * 1000);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<float>(i) / 4096;
    output.TakeSound(sound.data(), 1000);
    ASSERT_TRUE(output.Finish()) << output.Error();

    const std::string y4m = ReadFile(targets.y4m);
    const size_t planes = y4m.find("FRAME\n") + 6;
    ASSERT_EQ(y4m.size(), planes + 8 + 2 + 2);
    const std::string red{63, 63, 63, 63}, blue{32, 32, 32, 32};
    EXPECT_EQ(y4m.substr(planes, 8), red + blue) << "Y, top row first";
    EXPECT_EQ(y4m.substr(planes + 8, 2), "\x66\xf0") << "U: red 102, blue 240";
    EXPECT_EQ(y4m.substr(planes + 10, 2), "\xf0\x76") << "V: red 240, blue 118";

    cairo_surface_t* png =
        cairo_image_surface_create_from_png((targets.pngFolder + "/000007.png").c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    const auto* pixels = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(png));
    const int stride = cairo_image_surface_get_stride(png) / 4;
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0xFF0000u) << "red at the top";
    EXPECT_EQ(pixels[3 * stride + 1] & 0xFFFFFF, 0x0000FFu) << "blue at the bottom";
    cairo_surface_destroy(png);

    const std::string wav = ReadFile(targets.wav);
    ASSERT_EQ(wav.size(), kWavHeader + 8000);
    const auto word = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, wav.data() + at, 4);
        return value;
    };
    EXPECT_EQ(word(4), kWavHeader - 8 + 8000) << "RIFF size";
    EXPECT_EQ(wav.substr(38, 4), "fact");
    EXPECT_EQ(word(46), 1000u) << "frames";
    EXPECT_EQ(wav.substr(50, 4), "data");
    EXPECT_EQ(word(54), 8000u) << "data size";
    EXPECT_EQ(std::memcmp(wav.data() + kWavHeader, sound.data(), 8000), 0);
}

// What --render takes, and the clear refusals of what it cannot do.
TEST(RenderCommandLine, TakesItsOptionsAndRefusesWhatCannotBeDone) {
    const struct {
        std::vector<const char*> args;
        const char* error; // the start of the refusal; empty when understood
    } cases[] = {
        {{"--render", "a.ogg", "--y4m", "-"}, ""},
        {{"a.ogg", "--render", "--png=frames", "--size", "2x16384", "--fps", "1000"}, ""},
        {{"--render", "a.ogg", "--audio", "a.wav", "--start", "2.5", "--seconds", "0.034"}, ""},
        {{"--render", "a.ogg", "--png", "p", "--size", "161x91"}, ""},
        {{"--y4m", "-", "a.ogg"}, "the render options need --render"},
        {{"--render", "--y4m", "-"}, "--render needs the FILE"},
        {{"--render", "a.ogg"}, "--render writes nothing"},
        {{"--render", "a.ogg", "--y4m"}, "--y4m takes a value"},
        {{"--render", "a.ogg", "--y4m="}, "--y4m takes a value"},
        {{"--render", "a.ogg", "--y4m", "-", "--size", "161x90"}, "--y4m needs an even"},
        {{"--render", "a.ogg", "--y4m", "-", "--size", "160x91"}, "--y4m needs an even"},
        {{"--render", "a.ogg", "--y4m", "-", "--size", "1280"}, "--size takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--size", "1x720"}, "--size takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--size", "16386x2"}, "--size takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--fps", "0"}, "--fps takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--fps", "29.97"}, "--fps takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--start", "-1"}, "--start takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--start", "nan"}, "--start takes"},
        {{"--render", "a.ogg", "--y4m", "-", "--seconds", "0.008"}, "--seconds is shorter"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"vormel"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(std::string(c.args.back()) + " " + c.error);
        const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(line.error.rfind(c.error, 0), 0u) << line.error;
        EXPECT_EQ(line.error.empty(), *c.error == '\0') << line.error;
    }
    const char* full[] = {"vormel",  "--render", "a.ogg",     "--y4m", "-",     "--png=p",
                          "--audio", "a.wav",    "--size",    "64x32", "--fps", "24",
                          "--start", "1.5",      "--seconds", "2"};
    const CommandLine line = ParseCommandLine(static_cast<int>(std::size(full)), full);
    ASSERT_EQ(line.error, "");
    const RenderOptions& r = line.renderOptions;
    EXPECT_TRUE(line.render);
    EXPECT_EQ(line.file, (fs::current_path() / "a.ogg").string());
    EXPECT_EQ(std::tie(r.y4m, r.pngFolder, r.wav), std::make_tuple("-", "p", "a.wav"));
    EXPECT_EQ(std::tie(r.width, r.height, r.fps), std::make_tuple(64, 32, 24));
    EXPECT_EQ(std::tie(r.start, r.seconds), std::make_tuple(1.5, 2.0));
    const char* defaults[] = {"vormel", "--render", "a.ogg", "--y4m", "-"};
    const RenderOptions d = ParseCommandLine(5, defaults).renderOptions;
    EXPECT_EQ(std::tie(d.width, d.height, d.fps, d.start), std::make_tuple(1280, 720, 60, 0.0));
    EXPECT_LT(d.seconds, 0) << "to the end of the sound, once";
}
