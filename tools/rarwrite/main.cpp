// rh_rarwrite DIR OUT.rar
//
// Packs the tree below DIR into OUT.rar, every member stored uncompressed, with fixed dates so
// that the same tree always gives the same archive.

#include "tools/rarwrite/rar_writer.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    using namespace rh::rarwrite;
    if (argc != 3) {
        std::fprintf(stderr, "usage: rh_rarwrite DIR OUT.rar\n");
        return 2;
    }
    std::vector<Member> members;
    std::vector<uint8_t> archive;
    std::string error;
    if (!CollectTree(argv[1], &members, &error) || !WriteArchive(std::move(members), WriteOptions{}, &archive, &error)) {
        std::fprintf(stderr, "rh_rarwrite: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "rh_rarwrite: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
