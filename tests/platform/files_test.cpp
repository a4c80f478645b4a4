// Windows file names on Linux disks: '\' separates, and a name that does not exist as written
// is matched without regard to case, one component at a time.

#include "tests/support/fifo_watch.h"
#include "tests/support/scratch_dir.h"

#include <direct.h>
#include <io.h>
#include <rimeholt/file_lookups.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

class WindowsFileNames : public testing::Test {
protected:
    void SetUp() override {
        scratch_.Write("Media/Sub/File.TXT", "twelve bytes");
        scratch_.Write("Media/lower.txt", "exact");
        scratch_.Write("Media/LOWER.txt", "other");
    }

    std::string Read(const std::string& name) {
        FILE* f = fopen(name.c_str(), "rb");
        if (f == nullptr) return "<none>";
        char buffer[64] = {};
        size_t n = fread(buffer, 1, sizeof buffer - 1, f);
        fclose(f);
        return std::string(buffer, n);
    }

    rh::testing::ScratchDir scratch_{"rh_files"};
    std::string dir_ = scratch_.path();
};

TEST_F(WindowsFileNames, OpenWithBackslashesAndAnyCase) {
    struct Case {
        const char* name;
        const char* content;
    };
    const Case cases[] = {
        {"/Media/Sub/File.TXT", "twelve bytes"},
        {"\\Media\\Sub\\File.TXT", "twelve bytes"},
        {"/media/sub/file.txt", "twelve bytes"},
        {"\\MEDIA\\sub/FILE.txt", "twelve bytes"},
        // A name that exists as written wins over another that differs only in case.
        {"/Media/lower.txt", "exact"},
        {"/Media/LOWER.txt", "other"},
        {"/Media/Sub/Missing.txt", "<none>"},
        {"/Nowhere/File.TXT", "<none>"},
        {"/media/Nowhere/File.TXT", "<none>"},
        // Folders do not open as files.
        {"/media/SUB", "<none>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(dir_ + c.name), c.content) << c.name;
}

// A name below a folder that exists in no case opens in no mode: ENOENT, as the open itself
// would say, whether the missing folder comes first or deeper down.
TEST_F(WindowsFileNames, NamesBelowAMissingFolderAreAbsent) {
    for (const char* name : {"/Nowhere/File.TXT", "/media/Nowhere/Deeper/File.TXT", "\\MEDIA\\sub\\No\\x"}) {
        for (const char* mode : {"rb", "wb", "ab"}) {
            errno = 0;
            FILE* f = fopen((dir_ + name).c_str(), mode);
            EXPECT_EQ(f, nullptr) << name << " " << mode;
            if (f != nullptr) fclose(f);
            EXPECT_EQ(errno, ENOENT) << name << " " << mode;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Nowhere"));
}

TEST_F(WindowsFileNames, NewFilesGoIntoFoldersFoundInAnyCase) {
    FILE* f = fopen((dir_ + "\\media\\SUB\\New.fxo").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("x", f);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/Media/Sub/New.fxo"));

    // Into a folder that exists in no case nothing opens, to read or to write.
    for (const char* mode : {"rb", "wb", "ab"}) {
        errno = 0;
        EXPECT_EQ(fopen((dir_ + "/media/Nowhere/New.fxo").c_str(), mode), nullptr) << mode;
        EXPECT_EQ(errno, ENOENT) << mode;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Media/Nowhere"));
}

// The runtime's modes: what opens, and what a write of "XY" leaves in a file that held "old".
TEST_F(WindowsFileNames, ModesOpenCreateTruncateAndAppend) {
    struct Case {
        const char* mode;
        bool existing;        // the file holds "old" before the open
        bool opens;
        const char* after;    // the file's bytes after writing "XY" and closing; null: no file
    };
    const Case cases[] = {
        {"rb", true, true, "old"},
        {"wb", true, true, "XY"},
        {"ab", true, true, "oldXY"},
        {"r+b", true, true, "XYd"},
        {"w+b", true, true, "XY"},
        {"a+b", true, true, "oldXY"},
        {"wxb", true, false, "old"},
        {"rb", false, false, nullptr},
        {"r+b", false, false, nullptr},
        {"wb", false, true, "XY"},
        {"wxb", false, true, "XY"},
        {"qb", true, false, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.existing ? " on a file" : " on no file"));
        const std::string name = dir_ + "/Media/Modes.bin";
        std::filesystem::remove(name);
        if (c.existing) scratch_.Write("Media/Modes.bin", "old");
        FILE* f = fopen((dir_ + "\\Media\\Modes.bin").c_str(), c.mode);
        EXPECT_EQ(f != nullptr, c.opens);
        if (f != nullptr) {
            // The file was opened without waiting; its reads and writes must wait as usual.
            EXPECT_EQ(fcntl(fileno(f), F_GETFL) & O_NONBLOCK, 0);
            fwrite("XY", 1, 2, f);
            fclose(f);
        }
        if (c.after == nullptr) {
            EXPECT_FALSE(std::filesystem::exists(name));
        } else {
            EXPECT_EQ(Read(name), c.after);
        }
    }
}

// A Windows disk name names a file: folders, FIFOs and devices never open as one, in any mode,
// and opening never waits for the other end of a FIFO.
TEST_F(WindowsFileNames, OnlyRegularFilesOpen) {
    rh::testing::FifoWatch fifo(dir_ + "/Media/Pipe");
    const std::string names[] = {dir_ + "/MEDIA/pipe", dir_ + "/Media/Sub", "/dev/null"};
    for (const std::string& name : names) {
        for (const char* mode : {"rb", "wb", "ab", "r+b"}) {
            errno = 0;
            FILE* f = fopen(name.c_str(), mode);
            EXPECT_EQ(f, nullptr) << name << " " << mode;
            EXPECT_EQ(errno, EACCES) << name << " " << mode;
            if (f != nullptr) fclose(f);
        }
    }
    EXPECT_FALSE(fifo.Unblocked()) << "an open waited for the FIFO's other end";
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/Media/Sub")) << "a folder is left as it was";
}

// The names of a folder read for a lookup without regard to case are kept while the folder is
// unchanged. A kept index must follow every change: entries added, removed or renamed (even when
// the folder's modification time is put back), the folder replaced by another of the same name,
// and writes into names the index does not hold. The folder's times are set back an hour first,
// as the index is kept only for folders not changed within the last seconds.
TEST_F(WindowsFileNames, KeptFolderNamesFollowEveryChange) {
    const std::string folder = dir_ + "/Media/Kept";
    const auto settle = [](const std::string& path) {
        utimbuf old{};
        old.actime = old.modtime = time(nullptr) - 3600;
        ASSERT_EQ(utime(path.c_str(), &old), 0);
    };
    scratch_.Write("Media/Kept/Alpha.TXT", "alpha");
    scratch_.Write("Media/Kept/Same.txt", "one");
    scratch_.Write("Media/Kept/SAME.txt", "two");
    // The spelling a scan meets first in the listing wins, with or without a kept index.
    std::string first;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (first.empty() && (name == "Same.txt" || name == "SAME.txt")) first = name;
        }
        closedir(d);
    }
    const std::string sameContent = first == "Same.txt" ? "one" : "two";

    struct Step {
        const char* what;
        std::function<void()> change;
        std::vector<std::pair<const char*, std::string>> reads;  // name under dir_, content
    };
    const std::vector<Step> steps = {
        {"first lookups make the index", [&] { settle(folder); },
         {{"/media/kept/alpha.txt", "alpha"}, {"/MEDIA/KEPT/same.TXT", sameContent}, {"/Media/Kept/Same.txt", "one"},
          {"/Media/Kept/SAME.txt", "two"}, {"/Media/Kept/beta.txt", "<none>"}}},
        {"a new entry", [&] { scratch_.Write("Media/Kept/Beta.txt", "beta"); },
         {{"/media/kept/BETA.TXT", "beta"}, {"/media/kept/alpha.txt", "alpha"}}},
        {"a rename with the folder's time put back",
         [&] {
             settle(folder);
             ASSERT_EQ(Read(dir_ + "/media/kept/beta.TXT"), "beta");  // kept again
             std::filesystem::rename(folder + "/Beta.txt", folder + "/Gone.txt");
             settle(folder);
         },
         {{"/media/kept/beta.txt", "<none>"}, {"/media/kept/GONE.TXT", "beta"}}},
        {"a removed entry", [&] { std::filesystem::remove(folder + "/Alpha.TXT"); },
         {{"/media/kept/alpha.txt", "<none>"}, {"/Media/Kept/Alpha.TXT", "<none>"}}},
        {"the folder replaced by another of its name",
         [&] {
             settle(folder);
             ASSERT_EQ(Read(dir_ + "/media/kept/gone.txt"), "beta");
             std::filesystem::rename(folder, dir_ + "/Media/Old");
             scratch_.Write("Media/Kept/Other.txt", "other");
             settle(folder);
         },
         {{"/media/kept/gone.txt", "<none>"}, {"/media/kept/OTHER.txt", "other"}}},
    };
    for (const Step& step : steps) {
        step.change();
        for (const auto& [name, content] : step.reads) EXPECT_EQ(Read(dir_ + name), content) << step.what << ": " << name;
    }

    // A name the kept index does not hold is still created by a write, in the folder's spelling.
    settle(folder);
    ASSERT_EQ(Read(dir_ + "/media/kept/new.txt"), "<none>");
    FILE* f = fopen((dir_ + "/media/kept/New.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("new", f);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(folder + "/New.txt"));
    EXPECT_EQ(Read(dir_ + "/MEDIA/KEPT/NEW.TXT"), "new");
}

// A batch of lookups reads each folder once; its answers are those of single lookups, a file
// the thread creates inside the batch is found at once, and once the batch ends every change
// made meanwhile is seen. The folder is settled first, so that its names are kept.
TEST_F(WindowsFileNames, LookupBatchesAnswerAsSingleLookups) {
    const std::string folder = dir_ + "/Media";
    utimbuf old{};
    old.actime = old.modtime = time(nullptr) - 3600;
    ASSERT_EQ(utime(folder.c_str(), &old), 0);
    const std::pair<const char*, const char*> reads[] = {
        {"/media/sub/FILE.txt", "twelve bytes"}, {"/Media/lower.txt", "exact"}, {"/Media/LOWER.txt", "other"},
        {"/media/missing.txt", "<none>"},        {"/media/Nowhere/x.txt", "<none>"}, {"/MEDIA/SUB", "<none>"},
    };
    {
        rh::FileLookupBatch batch;
        for (int round = 0; round < 2; ++round) {
            for (const auto& [name, content] : reads) EXPECT_EQ(Read(dir_ + name), content) << "round " << round << ": " << name;
        }
        // Created by this thread in the batch: found in the batch.
        FILE* f = fopen((dir_ + "/media/Made.txt").c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs("made", f);
        fclose(f);
        EXPECT_EQ(Read(dir_ + "/MEDIA/made.TXT"), "made");
        ASSERT_EQ(_mkdir((dir_ + "/media/Deeper").c_str()), 0);
        f = fopen((dir_ + "/MEDIA/deeper/In.txt").c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
        EXPECT_TRUE(std::filesystem::exists(folder + "/Deeper/In.txt"));
        {
            rh::FileLookupBatch inner;
            EXPECT_EQ(Read(dir_ + "/MEDIA/SUB/file.txt"), "twelve bytes");
        }
        EXPECT_EQ(Read(dir_ + "/media/sub/file.TXT"), "twelve bytes") << "an inner batch's end keeps the outer's";
    }
    // Changed behind the layer's back during a batch that has read the settled folder (on a
    // thread of its own, whose batches have read nothing yet).
    ASSERT_EQ(utime(folder.c_str(), &old), 0);
    std::thread([&] {
        {
            rh::FileLookupBatch batch;
            EXPECT_EQ(Read(dir_ + "/media/made.txt"), "made");
            std::filesystem::rename(folder + "/Made.txt", folder + "/Renamed.txt");
            EXPECT_EQ(utime(folder.c_str(), &old), 0);
        }
        EXPECT_EQ(Read(dir_ + "/media/made.txt"), "<none>");
        EXPECT_EQ(Read(dir_ + "/media/RENAMED.txt"), "made");
        for (const auto& [name, content] : reads) EXPECT_EQ(Read(dir_ + name), content) << "after the batch: " << name;
    }).join();
}

TEST_F(WindowsFileNames, FileLengthAndMakeFolder) {
    FILE* f = fopen((dir_ + "/media/sub/file.txt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(_filelength(fileno(f)), 12);
    fclose(f);
    EXPECT_EQ(_filelength(-1), -1);

    EXPECT_EQ(_mkdir((dir_ + "\\media\\Shaders").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/Media/Shaders"));
    errno = 0;
    EXPECT_EQ(_mkdir((dir_ + "/MEDIA").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_mkdir((dir_ + "/a/b/c").c_str()), -1);  // one level only
    EXPECT_EQ(_mkdir(nullptr), -1);
}

}  // namespace
