#include "app/command_line.h"
#include "app/render_video.h"
#include "app/startup.h"

#include <cstdio>

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
    return VormelMain(line.file.empty() ? nullptr : line.file.c_str());
}
