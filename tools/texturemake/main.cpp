// rh_texturemake MEDIA_ROOT
//
// Writes the village's procedural textures and sprites below MEDIA_ROOT (the media archive's
// root: "Media/Txt/snow.jpg" and so on). The same program always writes the same bytes.
#include "tools/texturemake/textures.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rh_texturemake MEDIA_ROOT\n");
        return 2;
    }
    std::vector<rh::texturemake::MadeFile> files;
    std::string error;
    if (!rh::texturemake::MakeTextures(&files, &error)) {
        std::fprintf(stderr, "rh_texturemake: %s\n", error.c_str());
        return 1;
    }
    for (const auto& file : files) {
        if (!rh::texturemake::WriteBytes(std::string(argv[1]) + "/" + file.name, file.bytes, &error)) {
            std::fprintf(stderr, "rh_texturemake: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
