// Arbitrary bytes as a RAR archive in memory, asked for the members of the seed archives.
// Every header CRC is first set right, so that mutations get past the header checks into
// the block walk and the decompressor; the untouched input is tried once as well. Besides
// what ASan sees, a reader state that leaks between extractions, a position outside the
// archive, or a lent member (LendArchiveMember, walked or through an index) that differs from
// the extracted one, aborts.

#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_archive.h"
#include "core/types/value_types.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

const char* const kNames[] = {"exe\\test.exe", "jpg/test.jpg", "????.txt", "exe", "m.txt"};

// Walks the blocks as the reader does and rewrites each header's CRC to match its bytes.
void SealHeaders(uint8_t* p, size_t size) {
    size_t at = 7;
    while (at + 7 <= size) {
        size_t headerSize = size_t(p[at + 5] | p[at + 6] << 8);
        if (headerSize < 7 || at + headerSize > size) return;
        uint32_t crc = Crc32(p + at + 2, headerSize - 2);
        p[at] = uint8_t(crc);
        p[at + 1] = uint8_t(crc >> 8);
        size_t next = at + headerSize;
        bool isMain = at == 7;
        if (!isMain && (p[at + 4] & 0x80) != 0 && at + 11 <= size) {
            next += size_t(p[at + 7]) | size_t(p[at + 8]) << 8 | size_t(p[at + 9]) << 16 |
                    size_t(p[at + 10]) << 24;
        }
        at = next;
    }
}

void ExtractAll(const uint8_t* data, size_t size) {
    ArchiveBlock archive;
    archive.data = data;
    archive.size = int32_t(size);
    ArchiveIndex index;
    index.Build(archive);
    for (const char* name : kNames) {
        ByteBuffer first;
        bool found = ExtractArchiveMember(&first, name, &archive);
        Check(archive.offset >= 0 && archive.offset <= archive.size);

        // The same answer without the copy: a stored member lies inside the archive.
        const int32_t offset = archive.offset;
        MemberView view;
        ByteBuffer decoded;
        Check(LendArchiveMember(&view, &decoded, name, &archive) == found);
        Check(archive.offset == offset);
        // The same answer through the index, from the same place on.
        MemberView indexedView;
        ByteBuffer indexedDecoded;
        Check(LendArchiveMember(&indexedView, &indexedDecoded, name, &archive, &index) == found);
        Check(archive.offset == offset);
        Check(indexedView.size == view.size &&
              (view.size == 0 || std::memcmp(indexedView.data, view.data, size_t(view.size)) == 0));
        if (found) {
            const bool inside = view.data >= data && view.data + view.size <= data + size;
            Check(inside ? decoded.Size() == 0 : view.data == decoded.Data());
            Check(view.size == first.Size() &&
                  (view.size == 0 || std::memcmp(view.data, first.Data(), size_t(view.size)) == 0));
        } else {
            Check(view.data == nullptr && view.size == 0 && decoded.Size() == 0);
        }

        if (!found) {
            Check(first.Size() == 0 && first.Data() == nullptr);
            continue;
        }
        ByteBuffer again;
        Check(ExtractArchiveMember(&again, name, &archive));
        Check(!ByteBuffersDiffer(first, again));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    // The bytes in a heap block of exactly their size, so ASan sees any read past them.
    std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(block.get(), data, size);

    ArchiveBlock raw;
    raw.data = block.get();
    raw.size = int32_t(size);
    ByteBuffer out;
    ExtractArchiveMember(&out, "exe\\test.exe", &raw);

    SealHeaders(block.get(), size);
    ExtractAll(block.get(), size);
    return 0;
}
