// What a frame costs: whole frames of the program (its whole start-up, skin and chrome included;
// a steady frame, in which nothing of the chrome changes) and bare presents, each against the
// minimal renderer drawing the same scene straight into a window, in interleaved rounds in one
// process; and one frame's logic without OpenGL. CPU is the whole process's (the GL driver's
// threads included), per frame. With "fullscreen" the program's window is full screen and the
// minimal renderer's window as large as its view. Run it on a display with the swap not waiting
// for it:
//   VORMEL_VSYNC=0 xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_frames [rounds]
//       [fullscreen]
#include "minimal_renderer.h"

#include "app/command_line.h"
#include "app/startup.h"
#include "audio/level.h"
#include "effects/particles.h"
#include "render/frame_render.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"

#include <SDL.h>

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kFramesPerRound = 60;

struct Cost {
    double cpuMs = 0;  // process CPU per frame
    double wallMs = 0; // wall time per frame
};

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

Cost Measure(const std::function<void()>& frame) {
    const double cpu = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFramesPerRound; ++i)
        frame();
    glFinish();
    const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - start;
    return {(ProcessCpuMs() - cpu) / kFramesPerRound, wall.count() / kFramesPerRound};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

SDL_Window* gProgramWindow = nullptr;
SDL_GLContext gProgramContext = nullptr;

void UseProgramContext() {
    SDL_GL_MakeCurrent(gProgramWindow, gProgramContext);
}

intptr_t SettleProc(WindowHandle window, const Message& message) {
    if (message.id == WM_TIMER) PostQuitMessage(0);
    return DefWindowProc(window, message);
}

// Lets the window system follow what was asked of it (a new size, say) for a while.
void RunLoopFor(uint32_t ms) {
    WindowHandle settle = CreateMainWindow("settle", 1, 1, SettleProc);
    StartTimer(settle, 1, ms);
    RunMessageLoop();
    DestroyWindow(settle);
}

void Report(const char* what, const std::vector<Cost>& program, const std::vector<Cost>& minimal) {
    std::vector<double> cpuRatio, programCpu, minimalCpu, programWall, minimalWall;
    for (size_t i = 0; i < program.size(); ++i) {
        cpuRatio.push_back(program[i].cpuMs / minimal[i].cpuMs);
        programCpu.push_back(program[i].cpuMs);
        minimalCpu.push_back(minimal[i].cpuMs);
        programWall.push_back(program[i].wallMs);
        minimalWall.push_back(minimal[i].wallMs);
    }
    std::printf("%-16s program %6.3f ms CPU %6.3f ms wall | minimal %6.3f ms CPU %6.3f ms wall | "
                "CPU ratio %.2f (median of %zu rounds)\n",
                what, Median(programCpu), Median(programWall), Median(minimalCpu),
                Median(minimalWall), Median(cpuRatio), program.size());
}

} // namespace

extern char** environ;

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetPlatformOptions(ReadOptions(CommandLine{}, environ));
    if (StartUp(nullptr) != kKeepRunning) {
        std::fprintf(stderr, "bench_frames: the program did not start (a display with OpenGL?)\n");
        return 1;
    }
    StopTimer(gMainWnd, ID_FRAMETIMER); // frames are drawn here, one after another
    gProgramWindow = SDL_GL_GetCurrentWindow();
    gProgramContext = SDL_GL_GetCurrentContext();
    if (argc > 2 && std::strcmp(argv[2], "fullscreen") == 0) {
        SetWindowMode(gMainWnd, WindowMode::FullScreen);
        RunLoopFor(1000);
    }
    int width = 0, height = 0;
    GetClientSize(gGlCtrl, &width, &height);
    std::printf("view %d x %d\n", width, height);
    if (!OpenMinimalRenderer(width, height, gResourceFolder, GetPlatformOptions().vsync)) {
        std::fprintf(stderr, "bench_frames: no window for the minimal renderer\n");
        return 1;
    }
    // A scene in full flow: every particle live, a formation under way.
    UseProgramContext();
    gFrameStep = 0.016f;
    for (int i = 0; i < 200; ++i)
        RenderFrame();
    liveParticleCount = particleCapacity;

    std::vector<Cost> wholeProgram, wholeMinimal, bareProgram, bareMinimal;
    for (int r = 0; r < rounds; ++r) {
        UseProgramContext();
        wholeProgram.push_back(Measure([] { RenderFrame(); }));
        bareProgram.push_back(Measure([] {
            glClear(GL_COLOR_BUFFER_BIT);
            QI_UpdateGLWindow(gGlCtrl);
        }));
        MakeMinimalRendererCurrent();
        wholeMinimal.push_back(Measure([] {
            AdvanceScene();
            gSceneStarted = -1;
            DrawMinimalFrame(1);
        }));
        bareMinimal.push_back(Measure([] { PresentBareMinimalFrame(); }));
    }
    Report("whole frame", wholeProgram, wholeMinimal);
    Report("bare present", bareProgram, bareMinimal);

    const auto start = std::chrono::steady_clock::now();
    constexpr int kLogicFrames = 20000;
    for (int i = 0; i < kLogicFrames; ++i)
        AdvanceScene(); // the level taken as steady
    const std::chrono::duration<double, std::micro> logic =
        std::chrono::steady_clock::now() - start;
    std::printf("frame logic      %.1f us (the schedules and 150 particles, no OpenGL)\n",
                logic.count() / kLogicFrames);
    UseProgramContext();
    SendMessage(gMainWnd, WM_CLOSE, 0, 0);
    RunUntilQuit();
    return 0;
}
