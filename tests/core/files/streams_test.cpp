// DiskStream behaves as the C runtime file under it; MemStream over read data and over its
// rope, with a base offset.

#include "core/files/disk_stream.h"
#include "core/files/mem_stream.h"
#include "core/text/wide_string.h"

#include "tests/support/scratch_dir.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using DiskStreamTest = rh::testing::ScratchDirTest;

TEST_F(DiskStreamTest, SeekTellSizeAndEndFollowTheRuntime) {
    WriteFile("ten.bin", "0123456789");
    DiskStream stream;
    ASSERT_TRUE(stream.Open("ten.bin", 1));
    FILE* reference = std::fopen("ten.bin", "rb");
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(stream.Size(), 10);

    struct Step {
        int32_t offset;
        int origin;     // the stream's origin: 0 start, 1 current, anything else the end
        int whence;     // what the runtime gets
    };
    const Step steps[] = {{3, 0, SEEK_SET}, {2, 1, SEEK_CUR}, {-4, 2, SEEK_END},
                          {-1, 7, SEEK_END}, {0, 0, SEEK_SET}, {-3, 1, SEEK_CUR}};
    for (const Step& s : steps) {
        const bool expected = std::fseek(reference, s.offset, s.whence) != -1;
        EXPECT_EQ(stream.Seek(s.offset, s.origin), expected) << s.offset << "/" << s.origin;
        EXPECT_EQ(stream.Tell(), std::ftell(reference)) << s.offset << "/" << s.origin;
    }
    std::fclose(reference);

    char buffer[16] = {};
    ASSERT_TRUE(stream.Seek(6, 0));
    EXPECT_FALSE(stream.AtEnd());
    EXPECT_EQ(stream.Read(buffer, 3), 1);  // 1 for a whole read, not a byte count
    EXPECT_EQ(std::string(buffer, 3), "678");
    EXPECT_EQ(stream.Read(buffer, 5), 0);  // only one byte left: a short read answers 0
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_TRUE(stream.Seek(0, 0));
    EXPECT_FALSE(stream.AtEnd());  // the runtime's seek clears the end indicator
}

// The stream keeps its position itself where it can: after every read, write and seek,
// whole or short, failed or past the end, Tell answers what the runtime's ftell answers for
// the same calls on its own FILE.
TEST_F(DiskStreamTest, TellFollowsTheRuntimeAfterEveryCall) {
    enum Kind { kRead, kWrite, kSeek };
    struct Call {
        Kind kind;
        int32_t n;   // bytes to read or write, or the seek's offset
        int origin;  // the stream's origin for a seek
    };
    struct Run {
        const char* what;
        int mode;  // the stream's open mode; the runtime's is "rb" for 1, "wb" for 2
        std::vector<Call> calls;
    };
    const Run runs[] = {
        {"reads", 1, {{kRead, 3, 0}, {kRead, 0, 0}, {kRead, 4, 0}, {kRead, 5, 0}, {kRead, 1, 0}, {kSeek, 2, 0},
                      {kRead, 2, 0}}},
        {"seeks", 1, {{kSeek, 4, 0}, {kSeek, 3, 1}, {kSeek, -2, 1}, {kSeek, -20, 1}, {kRead, 1, 0}, {kSeek, -1, 0},
                      {kRead, 1, 0}, {kSeek, -3, 2}, {kRead, 2, 0}, {kSeek, 5, 2}, {kRead, 1, 0}, {kSeek, 0, 1},
                      {kSeek, 30, 0}, {kRead, 1, 0}, {kSeek, -25, 1}, {kRead, 2, 0}}},
        {"writes", 2, {{kWrite, 4, 0}, {kWrite, 0, 0}, {kRead, 2, 0}, {kSeek, 1, 0}, {kWrite, 2, 0}, {kSeek, 0, 2},
                       {kWrite, 3, 0}, {kSeek, -2, 1}, {kWrite, 5, 0}, {kSeek, 12, 0}, {kWrite, 1, 0}}},
    };
    const char bytes[] = "0123456789abcdefghij";
    for (const Run& run : runs) {
        WriteFile("twelve.bin", "0123456789ab");
        WriteFile("reference.bin", "0123456789ab");
        DiskStream stream;
        ASSERT_TRUE(stream.Open(run.mode == 1 ? "twelve.bin" : "written.bin", run.mode));
        FILE* reference = std::fopen(run.mode == 1 ? "reference.bin" : "reference_written.bin", run.mode == 1 ? "rb" : "wb");
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(stream.Tell(), std::ftell(reference)) << run.what << " at the start";
        for (size_t i = 0; i < run.calls.size(); ++i) {
            const Call& c = run.calls[i];
            char got[32] = {};
            char want[32] = {};
            switch (c.kind) {
                case kRead:
                    EXPECT_EQ(stream.Read(got, c.n), static_cast<int32_t>(std::fread(want, c.n, 1, reference)));
                    EXPECT_EQ(std::string(got, c.n), std::string(want, c.n));
                    break;
                case kWrite:
                    EXPECT_EQ(stream.Write(bytes, c.n), static_cast<int32_t>(std::fwrite(bytes, c.n, 1, reference)));
                    break;
                case kSeek: {
                    const int whence = c.origin == 0 ? SEEK_SET : c.origin == 1 ? SEEK_CUR : SEEK_END;
                    EXPECT_EQ(stream.Seek(c.n, c.origin), std::fseek(reference, c.n, whence) != -1);
                    break;
                }
            }
            EXPECT_EQ(stream.Tell(), std::ftell(reference)) << run.what << ", after call " << i;
            EXPECT_EQ(stream.AtEnd(), std::feof(reference) != 0) << run.what << ", after call " << i;
        }
        std::fclose(reference);
        // Reopening starts again at 0, closing forgets the position.
        ASSERT_TRUE(stream.Open("twelve.bin", 1));
        EXPECT_EQ(stream.Tell(), 0) << run.what;
        EXPECT_TRUE(stream.Close());
        EXPECT_EQ(stream.Tell(), -1) << run.what;
    }
}

TEST_F(DiskStreamTest, WithoutAFile) {
    DiskStream stream;
    char byte = 0;
    EXPECT_FALSE(stream.Open("missing.bin", 1));
    EXPECT_EQ(stream.Tell(), -1);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_FALSE(stream.Seek(0, 0));
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_EQ(stream.Read(&byte, 1), 0);
    EXPECT_EQ(stream.Write(&byte, 1), 0);
    EXPECT_TRUE(stream.Close());
}

TEST_F(DiskStreamTest, WriteModeCreatesAndTruncates) {
    WriteFile("out.bin", "old contents");
    {
        DiskStream stream;
        ASSERT_TRUE(stream.Open("out.bin", 2));
        EXPECT_EQ(stream.Write("new", 3), 1);
        char byte = 0;
        EXPECT_EQ(stream.Read(&byte, 1), 0);  // "wb" cannot read
    }  // the destructor closes
    DiskStream reader;
    ASSERT_TRUE(reader.Open("out.bin", 1));
    EXPECT_EQ(reader.Size(), 3);
}

MemStream* ReadStreamOver(const char* bytes, int32_t base = 0) {
    MemStream* stream = new MemStream;
    stream->Open("", 1);
    stream->ShowData(bytes, static_cast<int32_t>(std::strlen(bytes)), true);
    stream->SetBase(base);
    return stream;
}

TEST(MemStream, BaseOffsetsTellAndSeek) {
    MemStream& stream = *ReadStreamOver("0123456789", 100);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 4);
    EXPECT_EQ(stream.Tell(), 104);

    struct Case {
        int32_t offset;
        int origin;
        bool ok;
        int32_t tell;  // afterwards
    };
    const Case cases[] = {
        {104, 0, true, 104}, {11, 1, false, 104}, {99, 0, false, 104},  // below the data
        {110, 0, true, 110},                                             // the size itself
        {111, 0, false, 110}, {-6, 1, true, 104}, {100, 5, true, 110},   // end: offset+size-base
        {99, 5, true, 109},   {0, 0, false, 109},
    };
    ASSERT_TRUE(stream.Seek(100, 0));
    EXPECT_FALSE(stream.Seek(11, 1));  // from position 0 past the end
    ASSERT_TRUE(stream.Seek(104, 0));
    for (const Case& c : cases) {
        EXPECT_EQ(stream.Seek(c.offset, c.origin), c.ok) << c.offset << "/" << c.origin;
        EXPECT_EQ(stream.Tell(), c.tell) << c.offset << "/" << c.origin;
    }
    delete &stream;
}

TEST(MemStream, ReadAnswersAByteCountAndMarksTheEnd) {
    const char* data = "abcdef";
    MemStream& stream = *ReadStreamOver(data);
    EXPECT_EQ(stream.text().data(), data);  // lent, not copied
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 4);
    EXPECT_FALSE(stream.AtEnd());
    EXPECT_EQ(stream.Read(buffer, 4), 2);  // what was left
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_FALSE(stream.AtEnd());  // set only when a read starts at the end
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    EXPECT_TRUE(stream.AtEnd());
    EXPECT_TRUE(stream.Seek(0, 2));  // every seek clears it
    EXPECT_FALSE(stream.AtEnd());
    delete &stream;
}

TEST(MemStream, WritesReplaceThenInsert) {
    MemStream stream;
    stream.Open("", 2);
    EXPECT_EQ(stream.Write("hello world", 11), 11);
    EXPECT_EQ(stream.Size(), 11);
    ASSERT_TRUE(stream.Seek(6, 0));
    EXPECT_EQ(stream.Write("there, all", 10), 10);  // covers "world", then grows
    EXPECT_EQ(stream.Tell(), 16);
    ASSERT_TRUE(stream.Seek(0, 0));
    char buffer[32] = {};
    EXPECT_EQ(stream.Read(buffer, 32), 16);
    EXPECT_EQ(std::string(buffer, 16), "hello there, all");
}

TEST(MemStream, ReadWideStringReadsTwoBytesAUnit) {
    const char bytes[] = {'h', 0, 'i', 0, '!', 0};
    MemStream stream;
    stream.Open("", 1);
    stream.ShowData(bytes, 6, true);
    WideString out(u"old");
    EXPECT_EQ(stream.ReadWideString(out, 2), 4);
    EXPECT_EQ(out.length(), 2);
    EXPECT_EQ(out.Text()[0], u'h');
    EXPECT_EQ(out.Text()[1], u'i');
    EXPECT_EQ(out.Text()[2], u'\0');
}

}  // namespace
