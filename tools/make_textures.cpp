// Paints every picture the program reads at run time and writes them as PNG files into a folder.
// All of them are procedural and painted from fixed seeds, so a run always gives the same files.
//
// To remake the committed pictures after changing their code:
//     cmake --build build --target make_textures && build/tools/make_textures Resource
#include "tools/art.h"

#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

struct Picture {
    const char* file;
    paint::Image (*make)();
};

constexpr Picture kPictures[] = {
    {"flare0.png", art::MakeFlare},    {"V1.png", art::MakeNebula},
    {"V2.png", art::MakeMandala},      {"V3.png", art::MakeLattice},
    {"V4.png", art::MakeGalaxy},       {"V5.png", art::MakeAurora},
    {"V6.png", art::MakeCrystal},      {"frame.png", art::MakeFrame},
    {"Clock.png", art::MakeClockFace}, {"assistant.png", art::MakeAssistant},
    {"icon.png", art::MakeIcon},
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argc > 0 ? argv[0] : "make_textures");
        return 2;
    }
    std::error_code failure;
    std::filesystem::create_directories(argv[1], failure);
    if (failure) {
        std::fprintf(stderr, "make_textures: %s: %s\n", argv[1], failure.message().c_str());
        return 1;
    }
    const std::string folder = std::string(argv[1]) + "/";
    if ((IMG_Init(IMG_INIT_PNG) & IMG_INIT_PNG) == 0) {
        std::fprintf(stderr, "make_textures: no PNG support: %s\n", IMG_GetError());
        return 1;
    }
    int status = 0;
    for (const Picture& picture : kPictures) {
        std::string error;
        if (!paint::SavePng(picture.make(), folder + picture.file, error)) {
            std::fprintf(stderr, "make_textures: %s%s: %s\n", folder.c_str(), picture.file,
                         error.c_str());
            status = 1;
        }
    }
    IMG_Quit();
    return status;
}
