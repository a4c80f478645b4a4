// The RAR 2.0 decoder as it was before its quick loops: one symbol at a time, every byte
// through the window, every check on every symbol. The reference that RarUnpack20 must
// match on any input, failures included; the same contract (rar_unpack20.h).
#pragma once

#include <cstdint>

namespace rar_test {

class PlainUnpack20 {
public:
    PlainUnpack20();
    ~PlainUnpack20();
    PlainUnpack20(const PlainUnpack20&) = delete;
    PlainUnpack20& operator=(const PlainUnpack20&) = delete;

    bool Decode(const uint8_t* data, uint32_t packed, uint32_t unpacked, bool keepState,
                uint8_t* out, uint32_t outSize, uint32_t* written);

private:
    struct State;
    State* s_;
};

}  // namespace rar_test
