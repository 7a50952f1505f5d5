// Frame throughput: whole frames of the scene against a bare clear-and-present of the same window,
// and the CPU cost of one frame's logic without OpenGL. Needs a display (run under xvfb-run -a);
// set VORMEL_VSYNC=0 so presenting does not wait for the display.
#include "app/startup.h"
#include "audio/level.h"
#include "effects/particles.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/projection.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

intptr_t QuietProc(WindowHandle window, const Message& message) {
    return DefWindowProc(window, message);
}

bool OpenView() {
    static bool open = false;
    if (open) return true;
    if (RegisterPorvaneClass() == 0) return false;
    gMainWnd = CreateMainWindow("Vormel bench", 868, 532, QuietProc);
    gGlCtrl = CreateChildWindow(kGlControlClass, gMainWnd, ID_GLCTRL, 10, 10, 712, 512);
    if (gMainWnd == nullptr || gGlCtrl == nullptr) return false;
    gResourceFolder = ExecutableFolder() + "../Resource/";
    ShowMainWindow(gMainWnd);
    SetupOpenGL();
    ResizeView(gGlCtrl);
    open = true;
    return true;
}

// A scene in full flow: every particle live, a formation under way, a steady level.
void WarmScene() {
    gFrameStep = 0.016f;
    for (int i = 0; i < 200; ++i)
        RenderFrame();
    liveParticleCount = particleCapacity;
}

void BM_BareClearAndPresent(benchmark::State& state) {
    if (!OpenView()) return state.SkipWithError("no display with OpenGL");
    for (auto _ : state) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        QI_UpdateGLWindow(gGlCtrl);
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareClearAndPresent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WholeFrame(benchmark::State& state) {
    if (!OpenView()) return state.SkipWithError("no display with OpenGL");
    WarmScene();
    for (auto _ : state)
        RenderFrame();
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WholeFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The frame's schedules and motion, with the sound's level taken as steady.
void BM_FrameLogicWithoutGL(benchmark::State& state) {
    InitScene();
    gSceneStarted = -1;
    gEnergy = 20;
    liveParticleCount = particleCapacity;
    gFrameStep = 0.016f;
    for (int i = 0; i < particleCapacity; ++i)
        RespawnParticle(i);
    for (auto _ : state) {
        AdvanceSpin();
        AdvanceColourCycle();
        EmitParticles();
        AdvanceFormations();
        MoveParticles();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameLogicWithoutGL)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
