// rh_rarwrite [--comment FILE] [--pack] [--solid] DIR OUT.rar
// rh_rarwrite [--comment FILE] [--pack] [--solid] --list LIST OUT.rar
//
// Puts the tree below DIR, or the files LIST names (see CollectList), into OUT.rar, every
// member stored uncompressed, with fixed dates so that the same tree always gives the same
// archive. --comment gives the archive the bytes of
// FILE as its comment. --pack packs the files with the RAR 2.0 method (the multimedia mode
// where it pays), --solid makes the archive solid (the packed files one stream).

#include "tools/rarwrite/rar_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

int main(int argc, char** argv) {
    using namespace rh::rarwrite;
    WriteOptions options;
    int first = 1;
    const char* listFile = nullptr;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--pack") == 0) {
            options.method = Method::kPack;
        } else if (std::strcmp(argv[first], "--solid") == 0) {
            options.solid = true;
        } else if (std::strcmp(argv[first], "--list") == 0 && first + 1 < argc) {
            listFile = argv[++first];
        } else if (std::strcmp(argv[first], "--comment") == 0 && first + 1 < argc) {
            const char* path = argv[++first];
            std::ifstream in(path, std::ios::binary);
            if (!in.is_open()) {
                std::fprintf(stderr, "rh_rarwrite: cannot open %s\n", path);
                return 1;
            }
            options.archiveComment.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) {
                std::fprintf(stderr, "rh_rarwrite: cannot read %s\n", path);
                return 1;
            }
        } else {
            break;
        }
    }
    if (argc - first != (listFile != nullptr ? 1 : 2)) {
        std::fprintf(stderr, "usage: rh_rarwrite [--comment FILE] [--pack] [--solid] DIR OUT.rar\n"
                             "       rh_rarwrite [--comment FILE] [--pack] [--solid] --list LIST OUT.rar\n");
        return 2;
    }
    const char* outPath = argv[argc - 1];
    std::vector<Member> members;
    std::vector<uint8_t> archive;
    std::string error;
    const bool collected = listFile != nullptr ? CollectList(listFile, &members, &error)
                                               : CollectTree(argv[first], &members, &error);
    if (!collected || !WriteArchive(std::move(members), options, &archive, &error)) {
        std::fprintf(stderr, "rh_rarwrite: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(archive.data()), std::streamsize(archive.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "rh_rarwrite: cannot write %s\n", outPath);
        return 1;
    }
    return 0;
}
