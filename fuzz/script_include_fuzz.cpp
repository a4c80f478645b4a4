// A script found as the loaders find theirs: a member of an archive in memory, made by our
// writer from the input and mounted through ArchiveFileSource, resolved through SearchPaths
// under an archive prefix, opened with FileRef::OpenFile and parsed with those search paths, so
// that its include statements resolve through them.
//
// The include statement makes a disk locator, which the search paths resolve in their folders
// only, never in their archives; the included files therefore lie in a scratch folder made
// once per process: files that include themselves, each other (by a name in another case),
// a file in a sub-folder, an empty file and a long one.
//
// Input: an options byte (1 the line dialect, else the free-form one; 2 the archive is
// mounted as a copy, else lent; 4 a second parse of the same text into the same tree), then
// the script. Besides what ASan and UBSan see, a script that the search paths do not find or
// that does not open, a node whose name differs from the key its parent holds it under, or a
// kind outside text/object/array, aborts.

#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"
#include "core/script/line_script.h"
#include "core/script/script_parser.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/script_fuzz_common.h"
#include "tools/rarwrite/rar_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using fuzz_input::Check;
using fuzz_input::ScratchDir;

namespace rw = rh::rarwrite;

void MakeIncludes() {
    ScratchDir::WriteFile("inc/self.fs", "include(\"self.fs\"); depth = array(depth, 1);");
    ScratchDir::WriteFile("inc/a.fs", "include(\"B.FS\"); a = 1; shared = object(from = \"a\");");
    ScratchDir::WriteFile("inc/b.fs", "include(\"a.fs\"); b = 2; copy = shared;");
    ScratchDir::WriteFile("inc/Sub/c.fs",
                          "include(\"..\\self.fs\"); using Sub; c = \"sub\"; d = c;");
    ScratchDir::WriteFile("inc/empty.fs", "");
    ScratchDir::WriteFile("inc/settings.txt", "Title = Line dialect\nsize = 4\n");
    std::string many;
    for (int i = 0; i < 2000; ++i) {
        many += "Styles[" + std::to_string(i % 50) + "].k" + std::to_string(i) + " = " +
                std::to_string(i) + ";\n";
    }
    ScratchDir::WriteFile("inc/many.fs", many);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeIncludes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16385) return 0;
    fuzz_input::Reader in(data, size);
    const uint8_t options = in.Byte();
    const std::string text = in.Rest();

    std::vector<rw::Member> members = {
        {"Scripts\\main.fs", false, std::vector<uint8_t>(text.begin(), text.end())},
        {"Scripts\\other.fs", false, {'o', '=', '1', ';'}},
    };
    std::vector<uint8_t> archive;
    std::string error;
    Check(rw::WriteArchive(std::move(members), rw::WriteOptions{}, &archive, &error));
    auto block = fuzz_input::ExactCopy(archive.data(), archive.size());
    ArchiveFileSource source;
    Check(source.Mount(FileRef::Memory(block.get(), int32_t(archive.size()), (options & 2) == 0)));

    SearchPaths paths;
    paths.Add(FileRef((ScratchDir::Path() + "/inc/sub").c_str()));
    paths.Add(FileRef((ScratchDir::Path() + "/inc").c_str()));
    paths.Add(FileRef::Member(&source, "scripts/"));
    paths.Add(FileRef::Member(&source, ""));

    FileRef ref("main.fs");
    ref.flags = FileRef::kDisk | FileRef::kArchive;
    Check(paths.ResolveFile(ref) && ref.flags == FileRef::kArchive && ref.archive == &source);

    ScriptNode root;
    const int passes = (options & 4) ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        FileRef opened = ref;
        Stream* stream = opened.OpenFile(1);
        Check(stream != nullptr && stream->Size() == int32_t(text.size()));
        if (options & 1) {
            ParseLineScript(stream, &root, &paths);
        } else {
            ParseScript(stream, &root, &paths);
        }
        delete stream;
    }
    script_fuzz::CheckTree(root);
    return 0;
}
