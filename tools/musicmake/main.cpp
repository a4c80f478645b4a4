// rh_musicmake FILE: writes the saver's looping music, an Ogg Vorbis file, to FILE.
#include "tools/musicmake/music_maker.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rh_musicmake FILE\n");
        return 2;
    }
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(argv[1]).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    std::string error;
    if (!rh::musicmake::WriteMusic(argv[1], &error)) {
        std::fprintf(stderr, "rh_musicmake: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
