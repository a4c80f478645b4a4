// Disk names that are not files, and files too long for the streams' int32 sizes. A user's
// folder may hold a FIFO, a folder or a device under a name the engine reads (an include, a
// settings file): every way in fails at once instead of waiting for a writer or reading a
// device. A length that an int32 cannot hold is a failure, never a shorter length.

#include "core/files/archive/archive_file_source.h"
#include "core/files/disk_stream.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "core/script/script_node.h"
#include "core/script/script_parser.h"
#include "core/text/paths.h"
#include "core/types/byte_buffer.h"

#include "tests/support/fifo_watch.h"
#include "tests/support/scratch_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace {

using NotAFile = rh::testing::ScratchDirTest;

TEST_F(NotAFile, EveryWayInFailsAtOnce) {
    std::filesystem::create_directories("CustomData");
    std::filesystem::create_directories("folder.fs");
    struct Case {
        const char* what;
        const char* name;  // relative to the working directory, which is the scratch folder
        bool fifo;         // made here, under a watch that ends a wait on it
    };
    const Case cases[] = {
        {"a FIFO as a settings file", "CustomData/settings.txt", true},
        {"a FIFO as an include", "pipe.fs", true},
        {"a folder", "folder.fs", false},
        {"a device", "/dev/null", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<rh::testing::FifoWatch> watch;
        if (c.fifo) watch.emplace(c.name);

        EXPECT_FALSE(FileExists(c.name));
        FileRef resolved(c.name);
        SearchPaths paths;
        paths.Add(FileRef(dir_.c_str()));
        EXPECT_FALSE(paths.ResolveFile(resolved));

        for (int mode : {1, 2}) {
            DiskStream stream;
            EXPECT_FALSE(stream.Open(c.name, mode)) << "mode " << mode;
        }
        FileRef ref(c.name);
        ref.flags = FileRef::kDisk | FileRef::kArchive;  // as loaders ask
        ByteBuffer bytes;
        EXPECT_FALSE(ref.ReadWholeFile(bytes));
        EXPECT_EQ(bytes.Size(), 0);
        FileRef mapped(c.name);
        mapped.flags = FileRef::kDisk | FileRef::kArchive;
        EXPECT_FALSE(mapped.MapWholeFile(bytes));
        EXPECT_EQ(bytes.Size(), 0);
        ArchiveFileSource archive;
        EXPECT_FALSE(archive.Mount(FileRef(c.name)));

        // An include that names it is an ordinary statement, as for a missing file.
        const std::string text = std::string("include(\"") + c.name + "\"); after = 1;";
        MemStream script;
        script.Open(String(), 1);
        script.ShowData(text.data(), static_cast<int32_t>(text.size()), true);
        ScriptNode root;
        ParseScript(&script, &root, &paths);
        EXPECT_NE(root.FindNode(String("after")), nullptr);

        if (watch) {
            EXPECT_FALSE(watch->Unblocked()) << "something waited for the FIFO's writer";
        }
    }
}

// Sparse files: the lengths cost no disk space.
using LongFile = rh::testing::ScratchDirTest;

TEST_F(LongFile, SizesBeyondAnInt32AreFailuresNotShorterSizes) {
    struct Case {
        int64_t length;
        int32_t size;  // what Size answers
    };
    const Case cases[] = {
        {5, 5},
        {INT32_MAX, INT32_MAX},
        {int64_t{1} << 31, -1},
        // Cut to 32 bits this would read as 5 bytes: a whole file that is not the file.
        {(int64_t{1} << 32) + 5, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const int fd = open("long.bin", O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        const bool made = ftruncate(fd, static_cast<off_t>(c.length)) == 0;
        close(fd);
        if (!made) GTEST_SKIP() << "this file system holds no file of " << c.length << " bytes";

        DiskStream stream;
        ASSERT_TRUE(stream.Open("long.bin", 1));
        EXPECT_EQ(stream.Size(), c.size);
        // The position at the end is refused the same way.
        ASSERT_TRUE(stream.Seek(0, 2));
        EXPECT_EQ(stream.Tell(), c.size);
        stream.Close();

        if (c.size < 0) {
            ByteBuffer bytes;
            EXPECT_FALSE(FileRef("long.bin").ReadWholeFile(bytes));
            EXPECT_EQ(bytes.Size(), 0);
        }
    }
}

}  // namespace
