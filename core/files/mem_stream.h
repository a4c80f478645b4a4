// MemStream: a Stream over memory. In read mode it reads straight out of `text`, which may
// show lent bytes (a locked resource, a caller's block, an archive member) without copying
// them; no call ever writes them. In write mode (and for every Write) the bytes live in a
// TextRope, so writes into the middle stay cheap.
#pragma once

#include "core/files/stream.h"
#include "core/files/text_rope.h"
#include "core/text/string.h"

#include <cstdint>
#include <cstring>
#include <memory>

class MemStream : public Stream {
public:
    MemStream() = default;
    MemStream(const MemStream&) = delete;
    MemStream& operator=(const MemStream&) = delete;
    ~MemStream() override = default;

    // Records the mode (2 means write mode), puts the position at 0 and succeeds; the name
    // is not used.
    bool Open(String name, int mode) override;
    // Does nothing; true.
    bool Close() override;
    // position + base.
    int32_t Tell() override { return position_ + base_; }
    // The rope's byte total in write mode, else the length of `text`.
    int32_t Size() override { return DataSize(); }
    // Clears the end flag. Target: offset + position (origin 1), offset - base (origin 0) or
    // offset + size - base (any other origin). A target below 0 or beyond the size fails and
    // leaves the position; the size itself is allowed.
    bool Seek(int32_t offset, int origin) override;
    // Set when a read started at or after the end; cleared by every seek.
    bool AtEnd() override { return atEnd_; }
    // Reads min(n, size - position) bytes and answers that BYTE COUNT -- unlike
    // DiskStream::Read, which answers 1 or 0. At or after the end: sets the end flag, answers 0.
    // Defined here so that a reader calling it by its class (the tokenizer, two bytes a
    // character) gets it inlined.
    int32_t Read(void* buffer, int32_t n) override {
        const int32_t size = DataSize();
        if (position_ >= size) {
            atEnd_ = true;
            return 0;
        }
        if (n <= 0) return 0;
        const int32_t count = n < size - position_ ? n : size - position_;
        if (count == 2 && !WriteMode()) {
            std::memcpy(buffer, text_.data() + position_, 2);  // a move, not a call
        } else {
            CopyOut(buffer, count);
        }
        position_ += count;
        return count;
    }
    // Works on the rope in any mode: the n bytes from the position on (at most up to the end)
    // are replaced by a copy of the buffer's n bytes; the position advances by n; answers n.
    int32_t Write(const void* buffer, int32_t n) override;

    // Every position Tell reports has `base` added, and Seek from the start subtracts it, so a
    // stream over one block of a bigger file can report the file's own offsets.
    void SetBase(int32_t base) { base_ = base; }

    // The bytes of read mode: lent when `lend` (kept alive by the lender), else copied.
    void ShowData(const void* data, int32_t size, bool lend);
    // The bytes of read mode, lent: the stream holds `keeper`, which keeps them alive, as long
    // as it shows them (null when the lender keeps them alive anyway).
    void ShowShared(const void* data, int32_t size, std::shared_ptr<const void> keeper);
    // The rope, reset to a copy of the bytes (for write mode over existing data).
    void ResetRope(const void* data, int32_t size);

    const String& text() const { return text_; }
    const TextRope& rope() const { return rope_; }

private:
    bool WriteMode() const { return mode_ == 2; }
    int32_t DataSize() const { return WriteMode() ? rope_.size() : text_.length(); }
    // count bytes from the position on into the buffer.
    void CopyOut(void* buffer, int32_t count);

    String text_;
    // Holds the owner of the bytes text_ shows, when ShowShared gave one.
    std::shared_ptr<const void> keeper_;
    TextRope rope_;
    int32_t mode_ = 0;
    int32_t base_ = 0;
    int32_t position_ = 0;
    bool atEnd_ = false;
};
