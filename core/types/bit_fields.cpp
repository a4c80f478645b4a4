#include "core/types/bit_fields.h"

namespace {

// kLowMask[n] = 2^n - 1 for n = 0 to 32, so that no mask is ever made by a shift of 32.
constexpr auto kLowMask = [] {
    struct Table {
        uint32_t m[33];
    } t{};
    for (int n = 0; n < 32; ++n) {
        t.m[n] = (1u << n) - 1u;
    }
    t.m[32] = 0xFFFFFFFFu;
    return t;
}();

}  // namespace

uint32_t GetBits(const uint32_t* words, uint32_t pos, uint32_t count) {
    const uint32_t* word = words + pos / 32;
    uint32_t shift = pos % 32;
    uint32_t field = word[0] >> shift;
    if (shift + count > 32) {
        // Straddles: shift is at least 1 here, so this shift stays below 32.
        field |= word[1] << (32 - shift);
    }
    return field & kLowMask.m[count];
}

void SetBits(uint32_t* words, uint32_t pos, uint32_t count, uint32_t value) {
    uint32_t* word = words + pos / 32;
    uint32_t shift = pos % 32;
    value &= kLowMask.m[count];
    uint32_t lowCount = count < 32 - shift ? count : 32 - shift;
    word[0] = (word[0] & ~(kLowMask.m[lowCount] << shift)) | (value << shift);
    if (lowCount < count) {
        uint32_t highCount = count - lowCount;
        word[1] = (word[1] & ~kLowMask.m[highCount]) | (value >> lowCount);
    }
}
