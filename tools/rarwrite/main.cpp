// rh_rarwrite [--comment FILE] DIR OUT.rar
//
// Packs the tree below DIR into OUT.rar, every member stored uncompressed, with fixed dates so
// that the same tree always gives the same archive. --comment gives the archive the bytes of
// FILE as its comment.

#include "tools/rarwrite/rar_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    using namespace rh::rarwrite;
    WriteOptions options;
    int first = 1;
    if (argc == 5 && std::strcmp(argv[1], "--comment") == 0) {
        std::ifstream in(argv[2], std::ios::binary);
        if (!in.is_open()) {
            std::fprintf(stderr, "rh_rarwrite: cannot open %s\n", argv[2]);
            return 1;
        }
        options.archiveComment.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            std::fprintf(stderr, "rh_rarwrite: cannot read %s\n", argv[2]);
            return 1;
        }
        first = 3;
    } else if (argc != 3) {
        std::fprintf(stderr, "usage: rh_rarwrite [--comment FILE] DIR OUT.rar\n");
        return 2;
    }
    std::vector<Member> members;
    std::vector<uint8_t> archive;
    std::string error;
    if (!CollectTree(argv[first], &members, &error) || !WriteArchive(std::move(members), options, &archive, &error)) {
        std::fprintf(stderr, "rh_rarwrite: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[first + 1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "rh_rarwrite: cannot write %s\n", argv[first + 1]);
        return 1;
    }
    return 0;
}
