// The OpenGL view control on a private Xvfb with Mesa's software renderer: its framebuffer,
// texture loading, composition of the window and the state the program's scene relies on.
#define GL_GLEXT_PROTOTYPES
#include "platform/glview/image_header.h"
#include "platform/glview/picture_decoder.h"
#include "platform/glview/porvane.h"
#include "platform/glview/readback.h"
#include "platform/os/window.h"
#include "platform/os/window_internal.h"
#include "support/desktop.h"
#include "support/message_log.h"
#include "support/picture_headers.h"
#include "support/png_file.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <SDL.h>
#include <gtest/gtest.h>
// After GoogleTest: Xlib's macros (None, Bool) would clash with its names.
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

Rgba PixelAt(const PixelImage& image, int x, int y) {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(image.width) + x) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2], image.rgba[i + 3]};
}

const Rgba kChrome{16, 16, 20, 255};

// What the scene's framebuffer looks like from the program's side.
struct BoundFramebuffer {
    GLint name = 0;
    GLint width = 0;
    GLint height = 0;
    GLint depthKind = 0; // what is attached for depth: GL_NONE when nothing
    GLenum status = 0;
};

BoundFramebuffer InspectBoundFramebuffer() {
    BoundFramebuffer fb;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fb.name);
    fb.status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    GLint colour = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &colour);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &fb.depthKind);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(colour));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &fb.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &fb.height);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return fb;
}

std::array<GLint, 4> Viewport() {
    std::array<GLint, 4> v{};
    glGetIntegerv(GL_VIEWPORT, v.data());
    return v;
}

WindowProc gGlControlProc = nullptr;

// Logs what reaches the view, then hands it to the control's own procedure.
intptr_t RecordingViewProc(WindowHandle window, const Message& message) {
    gMessageLog.push_back({window, message.id, message.x, message.y, message.timerId});
    return CallWindowProc(gGlControlProc, window, message);
}

class GlViewTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { registered_ = RegisterPorvaneClass() != 0; }
    void SetUp() override {
        ASSERT_TRUE(registered_);
        ASSERT_TRUE(desktop_.connected());
        gMessageLog.clear();
        main_ = CreateMainWindow("glview", 320, 240, RecordingProc);
        ASSERT_NE(main_, nullptr);
        view_ = CreateChildWindow(kGlControlClass, main_, -100, 10, 20, 200, 100);
        ASSERT_NE(view_, nullptr);
        gGlControlProc = SubclassWindow(view_, RecordingViewProc);
        EXPECT_EQ(QI_SetAnchorMode(view_, 5), -1);
    }
    void TearDown() override { DestroyWindow(main_); }
    void Resize(int width, int height) {
        gMessageLog.clear();
        ASSERT_TRUE(desktop_.ResizeWindow("glview", width, height));
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_SIZE) > 0; }));
    }

    static bool registered_;
    FakeDesktop desktop_;
    WindowHandle main_ = nullptr;
    WindowHandle view_ = nullptr;
};

bool GlViewTest::registered_ = false;

} // namespace

// --- Registration -------------------------------------------------------------------------------

TEST(GlViewRegistration, WithoutADisplayThereIsNoViewClass) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("VORMEL_TEST_SCREEN", "none", 1);
    auto registerWithoutDisplay = [] {
        const bool refused =
            RegisterPorvaneClass() == 0 && !IsChildClassRegistered(kGlControlClass);
        std::exit(refused ? 0 : 1);
    };
    EXPECT_EXIT(registerWithoutDisplay(), testing::ExitedWithCode(0), "");
    unsetenv("VORMEL_TEST_SCREEN");
}

// --- The view's framebuffer ---------------------------------------------------------------------

TEST_F(GlViewTest, TheViewsFramebufferIsBoundAtItsSizeAfterCreationAndResizing) {
    const BoundFramebuffer created = InspectBoundFramebuffer();
    EXPECT_NE(created.name, 0);
    EXPECT_EQ(created.status, static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    EXPECT_EQ(std::tie(created.width, created.height), std::make_tuple(200, 100));
    EXPECT_EQ(created.depthKind, GL_NONE); // nothing draws with a depth test
    // As a fresh context on a window of the view's size would have it.
    EXPECT_EQ(Viewport(), (std::array<GLint, 4>{0, 0, 200, 100}));
    ShowMainWindow(main_);

    struct Case {
        int width, height;    // the window's client area
        int viewW, viewH;     // the view's client area (anchored to all four edges)
        int storedW, storedH; // the framebuffer's size: never below 1 x 1
    };
    const Case cases[] = {
        {420, 300, 300, 160, 300, 160},
        {100, 100, 0, 0, 1, 1},
        {125, 141, 5, 1, 5, 1},
        {320, 240, 200, 100, 200, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        Resize(c.width, c.height);
        int w = -1;
        int h = -1;
        GetClientSize(view_, &w, &h);
        EXPECT_EQ(std::tie(w, h), std::tie(c.viewW, c.viewH));
        const BoundFramebuffer fb = InspectBoundFramebuffer();
        EXPECT_EQ(fb.name, created.name);
        EXPECT_EQ(fb.status, static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        EXPECT_EQ(std::tie(fb.width, fb.height), std::tie(c.storedW, c.storedH));
        // Presenting and reading back an empty view is harmless too.
        EXPECT_EQ(QI_UpdateGLWindow(view_), -1);
        PixelImage image;
        ASSERT_TRUE(ReadViewPixels(view_, &image));
        EXPECT_EQ(std::tie(image.width, image.height), std::tie(c.viewW, c.viewH));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(GlViewTest, MinimisingAndRestoringAnnounceTheSizeAndKeepTheView) {
    ShowMainWindow(main_);
    const BoundFramebuffer before = InspectBoundFramebuffer();
    for (bool minimise : {true, false}) {
        SCOPED_TRACE(minimise ? "minimised" : "restored");
        gMessageLog.clear();
        ASSERT_TRUE(minimise ? desktop_.Minimise("glview") : desktop_.Restore("glview"));
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(main_, WM_SIZE) > 0; }));
        EXPECT_EQ(QI_UpdateGLWindow(view_), -1);
        const BoundFramebuffer now = InspectBoundFramebuffer();
        EXPECT_EQ(std::tie(now.name, now.width, now.height),
                  std::tie(before.name, before.width, before.height));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

// --- Textures -----------------------------------------------------------------------------------

class TextureTest : public GlViewTest {
  protected:
    void SetUp() override {
        GlViewTest::SetUp();
        folder_ = fs::temp_directory_path() / ("vormel-textures-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        // Top row red and green, bottom row blue and a half-transparent white.
        const std::vector<uint8_t> pixels = {255, 0, 0,   255, 0,   255, 0,   255,
                                             0,   0, 255, 255, 255, 255, 255, 128};
        ASSERT_TRUE(WritePng(Path("picture.png"), 2, 2, pixels));
        std::ofstream(Path("words.png")) << "not a picture";
    }
    void TearDown() override {
        fs::remove_all(folder_);
        GlViewTest::TearDown();
    }
    std::string Path(const char* name) const { return (folder_ / name).string(); }
    static void Fill(TextureRecord* record, int number, const std::string& path) {
        *record = TextureRecord{};
        record->number = number;
        std::strncpy(record->path, path.c_str(), sizeof record->path - 1);
    }

    fs::path folder_;
};

TEST_F(TextureTest, ImagesBecomeUprightMipmappedRgbaTextures) {
    TextureRecord records[5];
    Fill(&records[0], 1, Path("picture.png"));
    Fill(&records[1], 2, Path("missing.png"));
    Fill(&records[2], 3, Path("picture.png"));
    Fill(&records[3], 4, Path("words.png"));
    Fill(&records[4], 5, "");
    std::memset(records[4].path, 'x', sizeof records[4].path); // no terminator at all

    GLuint programs = 0;
    glGenTextures(1, &programs);
    glBindTexture(GL_TEXTURE_2D, programs);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    QI_MakeMultipleTexture(records, 5);

    GLint bound = 0;
    GLint alignment = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(bound, static_cast<GLint>(programs));
    EXPECT_EQ(alignment, 1);

    EXPECT_NE(records[0].glName, 0);
    EXPECT_NE(records[2].glName, 0);
    EXPECT_NE(records[2].glName, records[0].glName);
    for (int failed : {1, 3, 4}) {
        EXPECT_EQ(records[failed].glName, 0) << "record " << failed;
        EXPECT_EQ(records[failed].number, failed + 1);
    }
    EXPECT_EQ(std::string(records[1].path), Path("missing.png"));

    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(records[0].glName));
    GLint minFilter = 0;
    GLint magFilter = 0;
    GLint alphaBits = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
    // Mipmapped, and sampled from the nearest level when shown smaller than stored.
    GLint smallest = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &smallest);
    EXPECT_EQ(smallest, 1);
    std::array<uint8_t, 4> mean{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 1, GL_RGBA, GL_UNSIGNED_BYTE, mean.data());
    EXPECT_EQ(mean, (std::array<uint8_t, 4>{128, 128, 128, 223})); // the four texels below
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_EQ(magFilter, GL_LINEAR);
    EXPECT_GE(alphaBits, 8);
    // OpenGL's first row is the bottom one: the picture's bottom row, so it shows upright.
    std::array<uint8_t, 16> texels{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    const std::array<uint8_t, 16> expected = {0,   0, 255, 255, 255, 255, 255, 128,
                                              255, 0, 0,   255, 0,   255, 0,   255};
    EXPECT_EQ(texels, expected);
    glBindTexture(GL_TEXTURE_2D, programs);

    const GLuint first = static_cast<GLuint>(records[0].glName);
    EXPECT_EQ(QI_DestroyTexture(records, 5), -1);
    for (const TextureRecord& r : records)
        EXPECT_EQ(r.glName, 0);
    EXPECT_FALSE(glIsTexture(first));
    glDeleteTextures(1, &programs);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Each picture that cannot be shown is refused from its header, before a decoder allocates what
// the header claims, with one line naming it and the cause. A name alone is found in Resource/
// beside the executable.
TEST_F(TextureTest, PicturesThatCannotBeShownAreRefusedBeforeDecodingWithOneLineEach) {
    using namespace picture_headers;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"bomb.png", Png(70000, 70000), "70000 x 70000 pixels exceed the largest texture"},
        {"wide.png", Png(5000, 5000), "5000 x 5000 pixels are more than 16 million"},
        {"big.jpg", Jpeg(4100, 4100), "4100 x 4100 pixels are more than 16 million"},
        {"tall.gif", Gif(65535, 65535), "65535 x 65535 pixels"},
        {"deep.bmp", Bmp(40000, -40000), "40000 x 40000 pixels"},
        {"cut.png", {}, "its header is damaged"},
        {"empty.png", {}, "not a PNG, JPEG, GIF or BMP picture"},
        {"words.png", {}, "not a PNG, JPEG, GIF or BMP picture"},
        {"missing.png", {}, "No such file or directory"},
        {"folder.png", {}, "not a regular file"},
        {"pipe.png", {}, "not a regular file"},
        {"over.png", Png(4097, 4096), "4097 x 4096 pixels are more than 16 million"},
    };
    const std::vector<uint8_t> good = [&] {
        std::ifstream in(Path("picture.png"), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    cases[5].bytes.assign(good.begin(), good.begin() + 20);
    constexpr int kCount = static_cast<int>(std::size(cases));
    TextureRecord records[kCount + 1];
    for (int i = 0; i < kCount; ++i) {
        const std::string path = Path(cases[i].name);
        if (!cases[i].bytes.empty() || std::strcmp(cases[i].name, "empty.png") == 0)
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(cases[i].bytes.data()),
                       static_cast<std::streamsize>(cases[i].bytes.size()));
        Fill(&records[i], i + 1, path);
    }
    fs::create_directory(Path("folder.png"));
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    Fill(&records[kCount], kCount + 1, "flare0.png");

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    testing::internal::CaptureStderr();
    EXPECT_EQ(QI_MakeMultipleTexture(records, kCount + 1), 0);
    const std::string told = testing::internal::GetCapturedStderr();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);

    for (int i = 0; i < kCount; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(records[i].glName, 0);
        const std::string line = "vormel: picture " + Path(cases[i].name) + " not loaded: ";
        const size_t at = told.find(line);
        ASSERT_NE(at, std::string::npos) << told;
        EXPECT_EQ(told.find(line, at + 1), std::string::npos) << "told once";
        const std::string rest =
            told.substr(at + line.size(), told.find('\n', at) - at - line.size());
        EXPECT_NE(rest.find(cases[i].reason), std::string::npos) << rest;
    }
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), kCount) << told;
    EXPECT_NE(records[kCount].glName, 0) << "flare0.png from Resource/ beside the test";
    // ru_maxrss is in kilobytes; decoding the bomb would have asked for 19 GB.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024);
    QI_DestroyTexture(records, kCount + 1);
}

// The limits hold exactly, and for pictures of the prefetch too, which were decoded before any
// context told the largest texture: a picture of exactly the pixel budget goes on to the decoder,
// and one larger than the context's textures is refused whoever decoded it.
TEST_F(TextureTest, TheLimitsHoldExactlyAndForPrefetchedPicturesToo) {
    const std::vector<uint8_t> budget = picture_headers::Png(4096, 4096); // a header alone
    std::ofstream(Path("budget.png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(budget.data()),
               static_cast<std::streamsize>(budget.size()));
    ForgetPrefetchedPictures(); // the control's own, of Resource/
    PrefetchPictures(folder_.string() + "/");
    const struct {
        const char* what;
        const char* name;
        int maxSide;
        const char* reason; // the start of it; empty when shown
    } cases[] = {
        {"prefetched", "picture.png", 1, "its 2 x 2 pixels exceed the largest texture, 1 x 1"},
        {"decoded when asked for", "picture.png", 1,
         "its 2 x 2 pixels exceed the largest texture, 1 x 1"},
        {"as large as the textures", "picture.png", 2, ""},
        {"exactly the budget", "budget.png", 16384, "it cannot be decoded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DecodedPicture picture = TakeDecodedPicture(Path(c.name), c.maxSide);
        EXPECT_EQ(picture.reason.substr(0, std::strlen(c.reason)), c.reason) << picture.reason;
        EXPECT_EQ(picture.reason.empty(), *c.reason == '\0') << picture.reason;
    }
    ForgetPrefetchedPictures();
}

// The size comes from the header alone; a header cut short or out of range is damaged.
TEST(PictureHeader, SizesAreReadFromTheHeaderAloneAndDamageIsTold) {
    using namespace picture_headers;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        HeaderResult result;
        int64_t width, height;
        size_t headerEnd; // the bytes a reader needs; any shorter prefix cannot be read
    } cases[] = {
        {"png", Png(30000, 20000), HeaderResult::Read, 30000, 20000, 24},
        {"jpeg after an APP0 segment", Jpeg(640, 480), HeaderResult::Read, 640, 480, 29},
        {"gif image larger than its screen", Gif(20000, 3), HeaderResult::Read, 20000, 3, 35},
        {"bmp stored top down", Bmp(7, -9), HeaderResult::Read, 7, 9, 26},
        {"png of width 0", Png(0, 5), HeaderResult::Malformed, 0, 0, 0},
        {"png side of 2^31", Png(0x80000000u, 1), HeaderResult::Malformed, 0, 0, 0},
        {"bmp of negative width", Bmp(-7, 9), HeaderResult::Malformed, 0, 0, 0},
        {"bmp of height -2^31", Bmp(1, INT32_MIN), HeaderResult::Malformed, 0, 0, 0},
        {"jpeg height left to a DNL", Jpeg(5, 0), HeaderResult::Malformed, 0, 0, 0},
        {"words", {'t', 'e', 'x', 't'}, HeaderResult::UnknownFormat, 0, 0, 0},
        {"nothing", {}, HeaderResult::UnknownFormat, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImageHeader header;
        EXPECT_EQ(ReadImageHeader(c.bytes.data(), c.bytes.size(), &header), c.result);
        if (c.result == HeaderResult::Read) {
            EXPECT_EQ(header.width, c.width);
            EXPECT_EQ(header.height, c.height);
        }
        for (size_t n = 0; n < c.headerEnd; ++n)
            EXPECT_NE(ReadImageHeader(c.bytes.data(), n, &header), HeaderResult::Read) << n;
    }
}

namespace {

TextureRecord gReleasedAtDestroy[1];
bool gTextureAliveAtDestroy = false;

// As the program does it: the textures go in the main window's WM_DESTROY, after the view.
intptr_t ReleasingProc(WindowHandle window, const Message& message) {
    if (message.id == WM_DESTROY) {
        gTextureAliveAtDestroy = glIsTexture(static_cast<GLuint>(gReleasedAtDestroy[0].glName));
        QI_DestroyTexture(gReleasedAtDestroy, 1);
    }
    return RecordingProc(window, message);
}

} // namespace

TEST_F(TextureTest, TexturesCanStillBeReleasedWhenTheMainWindowIsDestroyed) {
    Fill(&gReleasedAtDestroy[0], 1, Path("picture.png"));
    QI_MakeMultipleTexture(gReleasedAtDestroy, 1);
    ASSERT_NE(gReleasedAtDestroy[0].glName, 0);
    SubclassWindow(main_, ReleasingProc);
    DestroyWindow(main_);
    EXPECT_TRUE(gTextureAliveAtDestroy);
    EXPECT_EQ(gReleasedAtDestroy[0].glName, 0);
}

// --- Presentation -------------------------------------------------------------------------------

namespace {

// The states a scene sets and relies on between frames.
struct SceneState {
    std::vector<GLint> integers;
    std::vector<GLfloat> floats;
    bool operator==(const SceneState&) const = default;
};

const GLenum kCapabilities[] = {GL_BLEND,    GL_DEPTH_TEST,   GL_TEXTURE_2D, GL_CULL_FACE,
                                GL_LIGHTING, GL_SCISSOR_TEST, GL_NORMALIZE,  GL_ALPHA_TEST};

SceneState CaptureSceneState() {
    SceneState s;
    // Each state with the number of values it has.
    const std::pair<GLenum, int> integerStates[] = {{GL_MATRIX_MODE, 1},
                                                    {GL_TEXTURE_BINDING_2D, 1},
                                                    {GL_ACTIVE_TEXTURE, 1},
                                                    {GL_BLEND_SRC, 1},
                                                    {GL_BLEND_DST, 1},
                                                    {GL_DEPTH_FUNC, 1},
                                                    {GL_SHADE_MODEL, 1},
                                                    {GL_CULL_FACE_MODE, 1},
                                                    {GL_UNPACK_ALIGNMENT, 1},
                                                    {GL_PACK_ALIGNMENT, 1},
                                                    {GL_DRAW_BUFFER, 1},
                                                    {GL_READ_BUFFER, 1},
                                                    {GL_VIEWPORT, 4},
                                                    {GL_SCISSOR_BOX, 4},
                                                    {GL_COLOR_WRITEMASK, 4},
                                                    {GL_POLYGON_MODE, 2},
                                                    {GL_DRAW_FRAMEBUFFER_BINDING, 1},
                                                    {GL_READ_FRAMEBUFFER_BINDING, 1}};
    GLint i[4] = {};
    for (auto [state, count] : integerStates) {
        glGetIntegerv(state, i);
        s.integers.insert(s.integers.end(), i, i + count);
    }
    for (GLenum cap : kCapabilities)
        s.integers.push_back(glIsEnabled(cap));
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, i);
    s.integers.push_back(i[0]);
    const std::pair<GLenum, int> floatStates[] = {
        {GL_MODELVIEW_MATRIX, 16}, {GL_PROJECTION_MATRIX, 16}, {GL_TEXTURE_MATRIX, 16},
        {GL_CURRENT_COLOR, 4},     {GL_COLOR_CLEAR_VALUE, 4},  {GL_CURRENT_TEXTURE_COORDS, 4}};
    GLfloat f[16] = {};
    for (auto [state, count] : floatStates) {
        glGetFloatv(state, f);
        s.floats.insert(s.floats.end(), f, f + count);
    }
    return s;
}

void SetUnusualSceneState(GLuint texture) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.0576016, 0.0576016, -0.0414214, 0.0414214, 0.1, 10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1, 2, -3);
    glRotatef(5, 1, 0, 0);
    glMatrixMode(GL_TEXTURE);
    glScalef(2, 3, 1);
    glBindTexture(GL_TEXTURE_2D, texture);
    for (GLenum cap : kCapabilities)
        glEnable(cap);
    glBlendFunc(GL_ONE, GL_ONE);
    glDepthFunc(GL_LEQUAL);
    glCullFace(GL_FRONT);
    glShadeModel(GL_FLAT);
    glColor4f(0.2f, 0.4f, 0.6f, 0.8f);
    glTexCoord2f(0.25f, 0.75f);
    glClearColor(0.1f, 0.2f, 0.3f, 0.4f);
    glViewport(3, 4, 50, 60);
    glScissor(1, 2, 3, 4);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_FALSE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 2);
}

} // namespace

TEST_F(GlViewTest, PresentingLeavesEveryStateTheSceneSet) {
    ShowMainWindow(main_);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    SetUnusualSceneState(texture);
    const SceneState before = CaptureSceneState();
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(QI_UpdateGLWindow(view_), -1);
    EXPECT_EQ(QI_UpdateGLWindow(view_), -1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(CaptureSceneState(), before);
    glDeleteTextures(1, &texture);
}

TEST_F(GlViewTest, ThePresentedWindowShowsTheViewPixelForPixelOverTheChrome) {
    ShowMainWindow(main_);
    KeepPresentedFrames(main_, true);
    // The view's picture: blue, a red block in its lower-left corner, one green pixel at the
    // upper right (OpenGL counts rows from the bottom).
    glEnable(GL_SCISSOR_TEST);
    const struct {
        GLint x, y, w, h;
        GLfloat r, g, b;
    } fills[] = {{0, 0, 200, 100, 0, 0, 1}, {0, 0, 20, 10, 1, 0, 0}, {199, 99, 1, 1, 0, 1, 0}};
    for (const auto& f : fills) {
        glScissor(f.x, f.y, f.w, f.h);
        glClearColor(f.r, f.g, f.b, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
    ASSERT_EQ(QI_UpdateGLWindow(view_), -1);

    PixelImage window;
    ASSERT_TRUE(ReadPresentedPixels(main_, &window));
    ASSERT_EQ(std::tie(window.width, window.height), std::make_tuple(320, 240));
    const Rgba red{255, 0, 0, 255};
    const Rgba green{0, 255, 0, 255};
    const Rgba blue{0, 0, 255, 255};
    // The view lies at (10, 20), 200 x 100 pixels.
    const struct {
        int x, y;
        Rgba colour;
    } expected[] = {
        {209, 20, green}, {208, 20, blue},     {209, 21, blue},   {10, 119, red},
        {29, 110, red},   {30, 110, blue},     {29, 109, blue},   {10, 20, blue},
        {9, 20, kChrome}, {210, 20, kChrome},  {10, 19, kChrome}, {10, 120, kChrome},
        {0, 0, kChrome},  {319, 239, kChrome},
    };
    for (const auto& e : expected)
        EXPECT_EQ(PixelAt(window, e.x, e.y), e.colour) << "at " << e.x << ", " << e.y;

    PixelImage view;
    ASSERT_TRUE(ReadViewPixels(view_, &view));
    ASSERT_EQ(std::tie(view.width, view.height), std::make_tuple(200, 100));
    EXPECT_EQ(PixelAt(view, 199, 0), green);
    EXPECT_EQ(PixelAt(view, 0, 99), red);
    EXPECT_EQ(PixelAt(view, 0, 89), blue);
}

namespace {

int gChildPaints = 0;
bool gChildBlue = false;

// The frame green, the child's rectangle red (or blue) with a yellow corner pixel.
void PaintGreenFrame(WindowHandle, cairo_t* cr, int width, int height) {
    cairo_set_source_rgb(cr, 0, 1, 0);
    cairo_rectangle(cr, 0, 0, width, 8);
    cairo_fill(cr);
    cairo_rectangle(cr, 0, height - 8, width, 8);
    cairo_fill(cr);
}
void PaintRedChild(WindowHandle, cairo_t* cr, int width, int height) {
    ++gChildPaints;
    cairo_set_source_rgb(cr, gChildBlue ? 0 : 1, 0, gChildBlue ? 1 : 0);
    cairo_paint(cr); // clipped to the child
    cairo_set_source_rgb(cr, 1, 1, 0);
    cairo_rectangle(cr, width - 1, height - 1, 1, 1);
    cairo_fill(cr);
}

} // namespace

TEST_F(GlViewTest, TheChromeCoversTheFrameAndRepaintsOnlyWhatChanged) {
    FrameGeometry frame;
    frame.insets = {8, 8, 8, 8};
    SetOwnFrame(main_, frame, RecordingProc);
    SetChromePainter(main_, PaintGreenFrame);
    RegisterChildClass("painted", RecordingProc);
    WindowHandle child = CreateChildWindow("painted", main_, 1, 250, 10, 30, 40);
    SetChromePainter(child, PaintRedChild);
    ShowMainWindow(main_);
    // The server takes the new size of the window in its own time.
    ASSERT_TRUE(RunLoopUntil(main_, [&] {
        int w = 0, h = 0;
        std::vector<uint8_t> ignored;
        return desktop_.Capture("glview", &w, &h, &ignored) && w == 336 && h == 256;
    }));
    // The driver sizes its buffers for the new window at the first frame drawn after the change.
    gChildPaints = 0;
    ASSERT_EQ(QI_UpdateGLWindow(view_), -1);
    EXPECT_EQ(gChildPaints, 1);
    KeepPresentedFrames(main_, true);
    ASSERT_EQ(QI_UpdateGLWindow(view_), -1);
    EXPECT_EQ(gChildPaints, 1);

    PixelImage window;
    ASSERT_TRUE(ReadPresentedPixels(main_, &window));
    ASSERT_EQ(std::tie(window.width, window.height), std::make_tuple(336, 256));
    const Rgba green{0, 255, 0, 255};
    const Rgba red{255, 0, 0, 255};
    const Rgba yellow{255, 255, 0, 255};
    // The client area starts at (8, 8): the child at (258, 18), the view at (18, 28).
    const struct {
        int x, y;
        Rgba colour;
    } expected[] = {{0, 0, green},     {335, 255, green}, {7, 7, green},      {8, 8, kChrome},
                    {258, 18, red},    {287, 57, yellow}, {288, 57, kChrome}, {257, 18, kChrome},
                    {17, 28, kChrome}, {18, 27, kChrome}};
    for (const auto& e : expected)
        EXPECT_EQ(PixelAt(window, e.x, e.y), e.colour) << "at " << e.x << ", " << e.y;

    // Nothing changed, so nothing was repainted for the second frame. The child invalidated:
    // only its rectangle is.
    InvalidateChrome(child);
    ChromeLayer layer;
    WindowRect changed;
    ASSERT_TRUE(UpdateChrome(main_, &layer, &changed));
    EXPECT_EQ(gChildPaints, 2);
    EXPECT_EQ(std::tie(changed.x, changed.y, changed.width, changed.height),
              std::make_tuple(258, 18, 30, 40));
    ASSERT_TRUE(UpdateChrome(main_, &layer, &changed));
    EXPECT_EQ(changed.width * changed.height, 0);

    // Uploaded alone, the changed rectangle shows where it lies, taken from there in the picture.
    gChildBlue = true;
    InvalidateChrome(child);
    ASSERT_EQ(QI_UpdateGLWindow(view_), -1);
    EXPECT_EQ(gChildPaints, 3);
    ASSERT_TRUE(ReadPresentedPixels(main_, &window));
    const Rgba blue{0, 0, 255, 255};
    for (const auto& e : expected) {
        const Rgba now = e.colour == red ? blue : e.colour;
        EXPECT_EQ(PixelAt(window, e.x, e.y), now) << "at " << e.x << ", " << e.y;
    }
    gChildBlue = false;
}

// --- A window destroyed by another client ------------------------------------------------------

// However the program first meets a window that another client destroyed, with a core request or
// with a GLX one (the frame's swap can be first), it closes that window as its close button would,
// and a request about some other window that has gone fails quietly: neither ends the program
// through the X library's default handler.
TEST_F(GlViewTest, AWindowDestroyedByAnotherClientIsClosedAndTheProgramGoesOn) {
    ShowMainWindow(main_);
    ASSERT_EQ(QI_UpdateGLWindow(view_), -1);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(GetSdlWindow(main_), &info));
    Display* display = info.info.x11.display;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, 0x1FFFFFFE, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    XSync(display, False);
    EXPECT_TRUE(IsWindow(main_));

    testing::internal::CaptureStderr();
    ASSERT_TRUE(desktop_.DestroyWindow("glview"));
    // The error the frame's GLX swap meets when it is the first request to name the window: in
    // GLX's protocol, error 2 (GLXBadDrawable) of request 11 (SwapBuffers).
    constexpr int kGlxBadDrawable = 2, kGlxSwapBuffers = 11;
    int glxOpcode = 0, glxEvent = 0, glxError = 0;
    ASSERT_TRUE(XQueryExtension(display, "GLX", &glxOpcode, &glxEvent, &glxError));
    XErrorEvent swapFailed{};
    swapFailed.type = 0;
    swapFailed.display = display;
    swapFailed.resourceid = info.info.x11.window;
    swapFailed.error_code = static_cast<unsigned char>(glxError + kGlxBadDrawable);
    swapFailed.request_code = static_cast<unsigned char>(glxOpcode);
    swapFailed.minor_code = kGlxSwapBuffers;
    const XErrorHandler handler = XSetErrorHandler(nullptr);
    XSetErrorHandler(handler);
    handler(display, &swapFailed);
    QI_UpdateGLWindow(view_);
    XSync(display, False);
    EXPECT_TRUE(RunLoopUntil(main_, [this] { return CountLogged(main_, WM_CLOSE) > 0; }));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vormel: the window \"glview\" was destroyed by another program\n");
}

// --- Mouse buttons ------------------------------------------------------------------------------

TEST_F(GlViewTest, ButtonQueriesReportAButtonWhileItIsHeld) {
    ShowMainWindow(main_);
    int x = 0;
    int y = 0;
    GetClientScreenPosition(view_, &x, &y);
    desktop_.MovePointer(x + 50, y + 50);
    const struct {
        int xButton;
        uint32_t down, up;
        int (*query)();
        int (*other)();
    } buttons[] = {{1, WM_LBUTTONDOWN, WM_LBUTTONUP, QI_IsLButtonDown, QI_IsRButtonDown},
                   {3, WM_RBUTTONDOWN, WM_RBUTTONUP, QI_IsRButtonDown, QI_IsLButtonDown}};
    for (const auto& b : buttons) {
        SCOPED_TRACE(testing::Message() << "button " << b.xButton);
        gMessageLog.clear();
        desktop_.PressButton(b.xButton);
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(view_, b.down) > 0; }));
        EXPECT_EQ(b.query(), -1);
        EXPECT_EQ(b.other(), 0);
        desktop_.ReleaseButton(b.xButton);
        ASSERT_TRUE(RunLoopUntil(main_, [&] { return CountLogged(view_, b.up) > 0; }));
        EXPECT_EQ(b.query(), 0);
    }
}
