// A data file in memory opened by a reader, and the small tree that several tests share.
#pragma once

#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"

#include "zwf_bytes.h"

#include <string>

// Counts the Close calls, to see that the reader closes a stream it does not own (and, as
// the test deletes it, that the reader did not).
class CountingStream : public MemStream {
public:
    bool Close() override {
        ++closes;
        return MemStream::Close();
    }
    int closes = 0;
};

class ZwfFile {
public:
    // lend: the stream reads the test's own bytes, so that a test can change the file after
    // the reader has taken a block; otherwise the stream holds an exactly sized copy.
    explicit ZwfFile(std::string bytes, bool lend = false) : bytes_(std::move(bytes)) {
        stream_.ShowData(bytes_.data(), int32_t(bytes_.size()), lend);
    }
    DataNode* Open() { return reader_.OpenStream(&stream_); }

    std::string& bytes() { return bytes_; }
    BinaryDataReader& reader() { return reader_; }
    CountingStream& stream() { return stream_; }

private:
    std::string bytes_;
    CountingStream stream_;
    BinaryDataReader reader_;
};

// The shared small tree:
//   _root
//     vals   int[3]            7 8 9
//     grp    Group (compound)
//       name char[5]           "hello"
//       pos  Vec {x, y, z real}  12 bytes
//       v    link to vals (listed under vals' own name)
// The file ends with the last byte of pos, so any shorter file cuts a block.
struct SmallTree {
    std::string bytes;
    int32_t rootOffset = 0;
    int32_t valsOffset = 0;
    int32_t grpOffset = 0;
    int32_t posOffset = 0;
    // Where fields sit, for tests that make them lie.
    int32_t rootSizeAt = 0;
    int32_t rootCountAt = 0;     // the root directory's child count
    int32_t valsNameAt = 0;      // the length of the name "vals"
    int32_t valsCountAt = 0;     // the array count of vals
    int32_t valsEntryAt = 0;     // offset, then size, of vals
    int32_t grpEntryAt = 0;
    int32_t linkEntryAt = 0;
    int32_t memberCountAt = 0;   // of the type Vec
};

inline SmallTree MakeSmallTree() {
    ZwfBytes f;
    SmallTree tree;
    const int32_t rootSizeAt = f.Header({{"Vec", {{"x", "real"}, {"y", "real"}, {"z", "real"}}}});
    tree.rootSizeAt = rootSizeAt;
    tree.memberCountAt = 26 + 4 + 3;  // after the type count and the text "Vec"
    tree.rootOffset = f.Pos();
    const int32_t dir = f.Directory(2);
    tree.rootCountAt = dir + 4;
    tree.valsNameAt = f.Pos();
    const int32_t vals = f.Entry("vals", "int", 1, 3);
    tree.valsCountAt = vals - 4;
    tree.valsEntryAt = vals;
    const int32_t grp = f.Entry("grp", "Group", 4);
    tree.grpEntryAt = grp;
    f.EndDirectory(dir);
    tree.valsOffset = f.Pos();
    f.Leaf(vals, IntBytes({7, 8, 9}));
    tree.grpOffset = f.Pos();
    const int32_t grpStart = f.BeginBlock(grp);
    const int32_t grpDir = f.Directory(3);
    const int32_t name = f.Entry("name", "char", 1, 5);
    const int32_t pos = f.Entry("pos", "Vec", 0);
    const int32_t link = f.Entry("v", "int", 1 | 2, 3);
    tree.linkEntryAt = link;
    f.EndDirectory(grpDir);
    f.Place(link, tree.valsOffset, 12);
    f.Leaf(name, "hello");
    tree.posOffset = f.Pos();
    f.Leaf(pos, IntBytes({1, 2, 3}));
    f.EndBlock(grp, grpStart);
    f.PatchInt(rootSizeAt, f.Pos() - tree.rootOffset);
    f.Finish();
    tree.bytes = f.bytes;
    return tree;
}
