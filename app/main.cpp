#include "app/command_line.h"
#include "app/render_video.h"
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::fprintf(stderr, "vormel: %s\n\n%s", line.error.c_str(), UsageText());
        return 2;
    }
    if (line.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (line.version) {
        std::fputs(VersionText(), stdout);
        return 0;
    }
    if (line.render) return RenderVideo(line.file, line.renderOptions);
    // The command line before the environment; left alone, frames follow the display.
    int fps = line.fps;
    if (fps < 0 && std::getenv("VORMEL_FPS")) {
        fps = ParseFrameRate(std::getenv("VORMEL_FPS"));
        if (fps < 0) std::fprintf(stderr, "vormel: VORMEL_FPS is not a number from 0 to 1000\n");
    }
    if (fps >= 0) SetFrameRateCap(fps);
    return VormelMain(line.file.empty() ? nullptr : line.file.c_str());
}
