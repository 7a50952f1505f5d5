// The scene's OpenGL side in a real window on a private Xvfb: set-up state, the sprite square,
// the projection, the pictures, and whole frames.
#include "app/startup.h"
#include "audio/level.h"
#include "audio/playback.h"
#include "effects/field.h"
#include "effects/particles.h"
#include "platform/glview/readback.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/pictures.h"
#include "render/projection.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"
#include "support/frame_state.h"
#include "support/message_log.h"
#include "support/png_file.h"
#include "support/sound_fixtures.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const PixelImage& image, int x, int yFromBottom) {
    const int y = image.height - 1 - yFromBottom;
    const size_t i = (static_cast<size_t>(y) * image.width + x) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]};
}

PixelImage ViewPixels() {
    PixelImage image;
    EXPECT_TRUE(ReadViewPixels(gGlCtrl, &image));
    return image;
}

// One texture of a single colour, or 2 x 2 with a colour per corner (bottom row first).
GLuint MakeTexture(std::initializer_list<uint8_t> rgba, int size) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 std::data(rgba));
    return name;
}

// Draws with a projection of scale scene units per pixel, centred on the view.
void UseFlatProjection(double unitsPerPixel) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-356 * unitsPerPixel, 356 * unitsPerPixel, -256 * unitsPerPixel, 256 * unitsPerPixel,
            -10000, 10000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT);
}

class SceneGL : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_NE(RegisterPorvaneClass(), 0);
        gMainWnd = CreateMainWindow("Vormel render test", 868, 532, RecordingProc);
        ASSERT_NE(gMainWnd, nullptr);
        gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, 10, 10, 712, 512);
        ASSERT_NE(gGlCtrl, nullptr);
        QI_SetAnchorMode(gGlCtrl, 5);
        ShowMainWindow(gMainWnd);
        folder_ = fs::temp_directory_path() / ("vormel-render-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    static void TearDownTestSuite() {
        DestroyWindow(gMainWnd);
        fs::remove_all(folder_);
    }

    // The pictures are the program's own, in Resource/ beside the test.
    void SetUp() override {
        gResourceFolder = ExecutableFolder() + "Resource/";
        gAudioFile[0] = '\0';
        SetupOpenGL();
    }
    void TearDown() override { QI_DestroyTexture(&gTextures[0], kTextureCount); }

    static inline fs::path folder_;
};

TEST_F(SceneGL, SetUpFixesTheStateFramesRelyOn) {
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_NORMALIZE));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2] + clear[3], 0);
    GLint src = 0, dst = 0, localViewer = 0, hint = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    glGetIntegerv(GL_LIGHT_MODEL_LOCAL_VIEWER, &localViewer);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &hint);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);
    EXPECT_EQ(localViewer, 1);
    EXPECT_EQ(hint, GL_NICEST);
    // SetupOpenGL starts the scene first.
    EXPECT_EQ(gEnergy, 8);
    EXPECT_EQ(sourceCount, 6);
}

// A record holds the file's name alone, so the pictures load under any install folder.
TEST_F(SceneGL, TextureRecordsHoldTheirFileNamesWhateverTheFolder) {
    gResourceFolder = "/" + std::string(253, 'f') + "/" + std::string(60, 'g') + "/";
    SetupOpenGL();
    EXPECT_STREQ(gTextures[0].path, "flare0.png");
    EXPECT_STREQ(gTextures[3].path, "V3.png");
    EXPECT_STREQ(gTextures[7].path, "frame.png");
    for (int i = 0; i < kTextureCount; ++i) {
        EXPECT_EQ(gTextures[i].number, i + 1);
        EXPECT_EQ(gTextures[i].options, 0);
        EXPECT_NE(gTextures[i].glName, 0) << gTextures[i].path;
    }
}

TEST_F(SceneGL, SpriteListIsTheUnitSquareTexturedOnceUpright) {
    // Red, green along the bottom; blue, white along the top.
    const GLuint texture =
        MakeTexture({255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255}, 2);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1); // the square fills the middle half of the view each way
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(1, 1, 1);
    glCallList(1);
    const PixelImage image = ViewPixels();
    const Rgb bottomLeft = PixelAt(image, 200, 150), bottomRight = PixelAt(image, 510, 150);
    const Rgb topLeft = PixelAt(image, 200, 360), topRight = PixelAt(image, 510, 360);
    EXPECT_EQ(bottomLeft.r, 255);
    EXPECT_EQ(bottomLeft.g + bottomLeft.b, 0);
    EXPECT_EQ(bottomRight.g, 255);
    EXPECT_EQ(bottomRight.r + bottomRight.b, 0);
    EXPECT_EQ(topLeft.b, 255);
    EXPECT_EQ(topLeft.r + topLeft.g, 0);
    EXPECT_EQ(topRight.r + topRight.g + topRight.b, 765);
    // Nothing outside the square: side 1 centred on the origin, drawn once.
    EXPECT_EQ(PixelAt(image, 170, 120).r, 0);
    EXPECT_EQ(PixelAt(image, 540, 390).r, 0);
    glDeleteTextures(1, &texture);
}

struct FrustumCase {
    int fieldOfView;
    double right, top;
};

TEST_F(SceneGL, ProjectionFollowsTheViewSizeAndFieldOfView) {
    gFieldOfView = 0; // not set yet: 45 degrees
    const FrustumCase cases[] = {
        {0, 0.0576016, 0.0414214}, {100, 0.1657282, 0.1191754}, {1, 0.0012136, 0.0008727}};
    for (const FrustumCase& c : cases) {
        if (c.fieldOfView == 0)
            ResizeView(gGlCtrl);
        else
            ApplyFieldOfView(c.fieldOfView);
        GLint viewport[4], mode = 0;
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(viewport[2], 712);
        EXPECT_EQ(viewport[3], 512);
        EXPECT_EQ(mode, GL_PROJECTION);
        GLfloat m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        // For a symmetric frustum m[0] = near / right and m[5] = near / top.
        EXPECT_NEAR(0.1 / m[0], c.right, 2e-7) << c.fieldOfView;
        EXPECT_NEAR(0.1 / m[5], c.top, 2e-7) << c.fieldOfView;
        EXPECT_EQ(m[8], 0);
        // Near 0.1 and far 10000: m[10] = -(f + n) / (f - n).
        EXPECT_NEAR(m[10], -10000.1 / 9999.9, 1e-6);
    }
    gFieldOfView = 0;
}

intptr_t PlainChildProc(WindowHandle window, const Message& message) {
    return DefWindowProc(window, message);
}

TEST_F(SceneGL, AViewWithoutHeightKeepsItsProjection) {
    ResizeView(gGlCtrl);
    GLfloat before[16], after[16];
    glGetFloatv(GL_PROJECTION_MATRIX, before);
    RegisterChildClass("FLAT", PlainChildProc);
    WindowHandle flat = CreateChildWindow("FLAT", gMainWnd, 1, 0, 0, 300, 0);
    ASSERT_NE(flat, nullptr);
    ResizeView(flat);
    glGetFloatv(GL_PROJECTION_MATRIX, after);
    EXPECT_EQ(std::memcmp(before, after, sizeof before), 0);
    DestroyWindow(flat);
    ResizeView(gGlCtrl);
}

TEST_F(SceneGL, QuadsAreWiderAtTheBottom) {
    const GLuint white = MakeTexture({255, 255, 255, 255}, 1);
    UseFlatProjection(1);
    glColor3f(1, 1, 1);
    DrawTexturedQuad(100, 100, 0, static_cast<int32_t>(white));
    const PixelImage image = ViewPixels();
    // x = 104.5 lies inside near the bottom edge (half-width 106.3) and outside near the top (100).
    EXPECT_GT(PixelAt(image, 356 + 104, 157).r, 0);
    EXPECT_EQ(PixelAt(image, 356 + 104, 354).r, 0);
    EXPECT_GT(PixelAt(image, 356 + 99, 354).r, 0);
    EXPECT_EQ(PixelAt(image, 356 + 107, 157).r, 0);
    glDeleteTextures(1, &white);
}

class Pictures : public SceneGL {
  protected:
    void SetUp() override {
        SceneGL::SetUp();
        // Picture k is red at 40 (k + 1) so it can be told from its neighbours; the frame is blue.
        for (int k = 0; k < 6; ++k) {
            const uint8_t red = static_cast<uint8_t>(40 * (k + 1));
            gTextures[k + 1].glName = static_cast<int32_t>(MakeTexture({red, 0, 0, 255}, 1));
        }
        gTextures[7].glName = static_cast<int32_t>(MakeTexture({0, 0, 200, 255}, 1));
        MatIdentity(sceneMatrix);
        // Sinks 120 pixels apart along x; sink 2 is nearest the viewer.
        const float depths[6] = {-100, 0, 300, -200, -300, -400};
        for (int k = 0; k < 6; ++k)
            sinks[k].pos = {-3000.0f + 1200.0f * k, 0, depths[k]};
        UseFlatProjection(10);
        glBlendFunc(GL_ONE, GL_ONE); // as every frame draws
    }
    static int CentreX(int k) { return 56 + 120 * k; }
};

TEST_F(Pictures, TheNearestSinkGetsTheFrame) {
    DrawPictures(0);
    const PixelImage image = ViewPixels();
    for (int k = 0; k < 6; ++k) {
        const Rgb c = PixelAt(image, CentreX(k), 256);
        EXPECT_NEAR(c.r, 0.95 * 40 * (k + 1), 2) << "picture " << k + 1;
        EXPECT_EQ(c.b > 0, k == 2) << "frame on sink " << k;
    }
}

TEST_F(Pictures, PulseGrowsAllButTheSixthPicture) {
    DrawPictures(3);
    const PixelImage image = ViewPixels();
    // The top edge: half-size 215 reaches row 277.5, half-size 200 stops at row 276.
    for (int k = 0; k < 6; ++k) {
        const Rgb c = PixelAt(image, CentreX(k), 276);
        EXPECT_EQ(c.r > 0, k != 5) << "picture " << k + 1;
        EXPECT_EQ(PixelAt(image, CentreX(k), 275).r > 0, true);
    }
    // The frame keeps the base size whatever the pulse.
    EXPECT_GT(PixelAt(image, CentreX(2), 275).b, 0);
    EXPECT_EQ(PixelAt(image, CentreX(2), 276).b, 0);
}

// A picture or frame whose texture failed is left out, not drawn as a white square.
TEST_F(Pictures, AFailedPictureOrFrameLeavesItsPlaceDark) {
    for (int failed : {3, 7}) {
        SCOPED_TRACE(failed);
        const int32_t kept = gTextures[failed].glName;
        gTextures[failed].glName = 0;
        UseFlatProjection(10);
        DrawPictures(0);
        const PixelImage image = ViewPixels();
        gTextures[failed].glName = kept;
        for (int k = 0; k < 6; ++k) {
            const Rgb c = PixelAt(image, CentreX(k), 256);
            EXPECT_NEAR(c.r, k + 1 == failed ? 0 : 0.95 * 40 * (k + 1), 2) << "picture " << k + 1;
            EXPECT_EQ(c.b > 0, k == 2 && failed != 7) << "frame on sink " << k;
        }
    }
}

TEST_F(Pictures, SpritesSitAtTheirParticlesAndVanishAtScaleZero) {
    const GLuint white = MakeTexture({255, 255, 255, 255}, 1);
    glBindTexture(GL_TEXTURE_2D, white);
    particles[0] = {{1000, 500, 0}, {1, 1, 1}, 20, 1}; // 30 units wide at scale 1
    DrawParticle(0, 0);
    EXPECT_EQ(PixelAt(ViewPixels(), 456, 306).r, 0);
    DrawParticle(0, 1);
    const PixelImage image = ViewPixels();
    EXPECT_EQ(PixelAt(image, 456, 306).r, 255);
    EXPECT_EQ(PixelAt(image, 456, 309).r, 0);
    glDeleteTextures(1, &white);
}

class Frames : public SceneGL {
  protected:
    void SetUp() override {
        SceneGL::SetUp();
        ResizeView(gGlCtrl);
        ResetFrameRender();
    }
};

TEST_F(Frames, FirstFrameWithoutTimeStartsTheSceneAndShowsThePictures) {
    RenderFrame();
    EXPECT_EQ(gSceneStarted, -1);
    EXPECT_EQ(liveParticleCount, 1);
    EXPECT_GE(formationIndex, 1);
    EXPECT_LE(formationIndex, 9);
    EXPECT_EQ(colourT, 0);
    EXPECT_EQ(gEnergy, 10); // no sound: the level reads as silence
    GLint mode = 0, src = 0, dst = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(src, GL_ONE);
    EXPECT_EQ(dst, GL_ONE);
    // The pictures hang in the view.
    const PixelImage image = ViewPixels();
    size_t lit = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4)
        lit += std::max({image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]}) > 60;
    EXPECT_GT(lit, image.rgba.size() / 4 / 50);

    RenderFrame(); // still no time: nothing timed moves
    EXPECT_EQ(liveParticleCount, 1);
    EXPECT_EQ(formationHold, 10);
    EXPECT_EQ(spin.x + spin.y + spin.z, 0);
}

TEST_F(Frames, EveryCallAdvancesByTheStoredStep) {
    RenderFrame();
    gFrameStep = 0.25f;
    RenderFrame();
    RenderFrame();
    EXPECT_FLOAT_EQ(formationHold, 9.5f);
    EXPECT_EQ(liveParticleCount, 1); // the next is due at 0.8 s; the clock stands at 0.5
    RenderFrame();
    RenderFrame();
    EXPECT_EQ(liveParticleCount, 2);
    EXPECT_FLOAT_EQ(formationHold, 9.0f);
}

// Every frame leaves the matrix stacks as it found them; a push without its pop would only show
// as a stack overflow many frames later.
TEST_F(Frames, FramesLeaveTheMatrixStackAndErrorsAsTheyFoundThem) {
    gFrameStep = 0.5f;
    for (int frame = 0; frame < 40; ++frame)
        RenderFrame();
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// With a loud sound the particles show; without their sprite they are not drawn at all (drawn
// untextured, each would be a white square). Only the particles are drawn here.
TEST_F(Frames, ParticlesWithoutTheirSpriteAreNotDrawn) {
    const std::string loud = (folder_ / "loud.wav").string();
    ASSERT_TRUE(WriteSound(loud, SoundFormat::WavFloat, {30.0}));
    std::strcpy(gAudioFile, loud.c_str());
    for (int i = 1; i < kTextureCount; ++i)
        gTextures[i].glName = 0;
    gFrameStep = 0.9f; // a particle about every frame
    auto litPixels = [] {
        const PixelImage image = ViewPixels();
        size_t lit = 0;
        for (size_t i = 0; i < image.rgba.size(); i += 4)
            lit += image.rgba[i] + image.rgba[i + 1] + image.rgba[i + 2] > 0;
        return lit;
    };
    size_t lit = 0;
    for (int frame = 0; frame < 400 && lit == 0; ++frame) {
        RenderFrame();
        if (gEnergy > 10) lit = litPixels();
        usleep(5000); // the level follows the sound as it is heard
    }
    ASSERT_GT(lit, 0u) << "loud particles show with their sprite";
    gTextures[0].glName = 0;
    RenderFrame();
    EXPECT_GT(gEnergy, 10);
    EXPECT_EQ(litPixels(), 0u);
    FreeChannel();
    AudioShutdown();
}

TEST_F(Frames, AnEndedSoundPlaysAgainAndTheSceneStartsOver) {
    RenderFrame();
    gTilt = 40;
    RenderFrame(); // the file cannot be opened: the scene carries on
    EXPECT_EQ(gChannel.load(), 0u);
    EXPECT_EQ(gTilt, 40);

    const std::string sound = std::string(VORMEL_SOURCE_DIR) + "/Resource/audio.ogg";
    std::strcpy(gAudioFile, sound.c_str());
    RenderFrame();
    EXPECT_NE(gChannel.load(), 0u);
    EXPECT_EQ(gTilt, 5.0f);
    EXPECT_EQ(liveParticleCount, 1); // the render keeps its own count across the restart
    FreeChannel();
    AudioShutdown();
}

} // namespace
