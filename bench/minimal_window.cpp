// The minimal renderer as a program of its own: the scene drawn straight into a window at the
// display's pace, with nothing else, as the yardstick for the running program's CPU, memory and
// start-up (bench/measure_program.sh). With VORMEL_GL_INFO=1 it says how long after its start its
// first frame was presented, as the program does.
#include "minimal_renderer.h"

#include "app/command_line.h"
#include "platform/os/window.h"
#include "render/frame_render.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    const PlatformOptions options = ReadOptions(ParseCommandLine(argc, argv), environ);
    if (!OpenMinimalRenderer(712, 512, ResourceFolder(), options.vsync)) return 99;
    InitScene();
    const uint64_t frequency = SDL_GetPerformanceFrequency();
    const uint64_t period = frequency / 60;
    uint64_t deadline = SDL_GetPerformanceCounter();
    bool reported = false;
    for (;;) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            if (event.type == SDL_QUIT) return 0;
        gFrameStep = FrameClockElapsed();
        AdvanceScene();
        gSceneStarted = -1;
        DrawMinimalFrame(1);
        if (!reported && options.glInfo) {
            const std::chrono::duration<double, std::milli> since =
                std::chrono::steady_clock::now() - started;
            std::fprintf(stderr, "minimal: first frame presented %.1f ms after start\n",
                         since.count());
            reported = true;
        }
        deadline += period;
        const uint64_t now = SDL_GetPerformanceCounter();
        if (deadline > now)
            SDL_Delay(static_cast<uint32_t>((deadline - now) * 1000 / frequency));
        else
            deadline = now;
    }
}
