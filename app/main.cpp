#include "app/command_line.h"
#include "app/render_video.h"
#include "app/startup.h"

#include <chrono>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
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
    PlatformOptions options = ReadOptions(line, environ);
    options.started = started;
    SetPlatformOptions(options);
    if (line.render) return RenderVideo(line.file, line.renderOptions);
    return VormelMain(line.file.empty() ? nullptr : line.file.c_str(),
                      line.fullScreen ? WindowMode::FullScreen : WindowMode::Normal);
}
