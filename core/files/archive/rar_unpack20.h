// The decoder of the RAR 2.0 compression format (LZ77 over a 1 MB window with canonical
// Huffman codes, plus a multimedia mode with an adaptive delta predictor). Private to the
// archive reader.
#pragma once

#include <cstdint>

class RarUnpack20 {
public:
    // Allocates the 1 MB window and the tables (about 1.1 MB in all).
    RarUnpack20();
    ~RarUnpack20();
    RarUnpack20(const RarUnpack20&) = delete;
    RarUnpack20& operator=(const RarUnpack20&) = delete;

    // Decodes one member from its `packed` bytes at `data`, which produce `unpacked` bytes.
    // keepState continues a solid stream: the window, the old distances and the code tables
    // of the previous member stay (the tables were read at its end); otherwise everything
    // is reset and the tables come first. out (room for outSize bytes) receives the member's
    // bytes, at most outSize of them, and *written their count; a null out only passes the
    // bytes through the window, as an earlier member of a solid archive must.
    // False when the data is corrupt: a bad code table, a match reaching before the first
    // byte of the stream, or input running out before the member is complete. The decoder
    // is then left unusable for a solid continuation.
    bool Decode(const uint8_t* data, uint32_t packed, uint32_t unpacked, bool keepState,
                uint8_t* out, uint32_t outSize, uint32_t* written);

private:
    struct State;
    State* s_;
};
