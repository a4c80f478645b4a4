// rh_pathmake FOLDER: writes the saver's twenty camera-path files into FOLDER.
#include "tools/pathmake/path_maker.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rh_pathmake FOLDER\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    std::string error;
    if (!rh::pathmake::WriteAllFlights(argv[1], &error)) {
        std::fprintf(stderr, "rh_pathmake: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
