#include "app/command_line.h"
#include "app/render_video.h"
#include "app/startup.h"
#include "audio/listening.h"

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
    if (line.quit) return QuitRunningCopy();
    std::string refused;
    PlatformOptions options = ReadOptions(line, environ, &refused);
    if (!refused.empty()) {
        std::fprintf(stderr, "vormel: %s\n", refused.c_str());
        return 2;
    }
    options.started = started;
    SetPlatformOptions(options);
    if (line.render) return RenderVideo(line.file, line.renderOptions);
    if (line.listSources) {
        if (PrintListenSources()) return 0;
        std::fprintf(stderr, "vormel: no sound server answers: there are no sources to list\n");
        return 1;
    }
    if (line.listen && !line.source.empty() &&
        !FindListenSource(line.source.c_str(), gListenSource, sizeof gListenSource)) {
        std::fprintf(stderr,
                     "vormel: no source '%s' to listen to; vormel --list-sources shows them\n",
                     line.source.c_str());
        return 2;
    }
    if (line.wallpaper) PreferWayland();
    const WindowMode show = line.wallpaper    ? WindowMode::Wallpaper
                            : line.fullScreen ? WindowMode::FullScreen
                                              : WindowMode::Normal;
    return VormelMain(line.file.empty() ? nullptr : line.file.c_str(), line.listen, show,
                      line.monitor);
}
