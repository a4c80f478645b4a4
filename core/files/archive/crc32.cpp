#include "core/files/archive/crc32.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kPoly = 0xEDB88320u;

// Below this the table version is as quick as setting up the folds and reducing them.
constexpr size_t kMinFolded = 64;

// Eight tables so that the main loop folds eight bytes per step (slicing-by-8): table k maps a
// byte to its effect on the register after k more zero bytes have passed through it.
struct CrcTables {
    uint32_t t[8][256];
};

constexpr CrcTables MakeTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1) != 0 ? (c >> 1) ^ kPoly : c >> 1;
        }
        tables.t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    }
    return tables;
}

constexpr CrcTables kTables = MakeTables();

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

#if defined(__x86_64__)

// Carry-less folding. The register's polynomials are reflected: a 32-bit value holds the
// coefficient of x^i in bit 31 - i, and 16 loaded bytes hold the coefficient of x^i (counted
// from the end of the block) in bit 127 - i, so the low 64-bit lane has the higher powers.
// A block of 128 bits that is followed by D more bits of message may be replaced by its
// product with x^D modulo P, added into the block D bits later: the remainder of the whole
// message stays the same. With four blocks in flight the loop is not held up by the latency
// of the multiply.

// x^n mod P, reflected. 1 is bit 31; one step of the register multiplies by x, reducing x^32.
constexpr uint32_t XPowModP(int n) {
    uint32_t r = 0x80000000u;
    for (int i = 0; i < n; ++i) {
        r = (r & 1) != 0 ? (r >> 1) ^ kPoly : r >> 1;
    }
    return r;
}

// floor(x^64 / P) for the Barrett reduction, 33 bits with x^32 in bit 0. Feeding x^32 (a
// one and 32 zeros) through the register divides x^64 by P, and the bit that leaves the
// register at each step is the next quotient coefficient, highest power first.
constexpr uint64_t QuotientX64() {
    uint32_t r = 1;
    uint64_t q = 0;
    for (int k = 0; k <= 32; ++k) {
        uint32_t out = r & 1;
        r = out != 0 ? (r >> 1) ^ kPoly : r >> 1;
        q |= static_cast<uint64_t>(out) << k;
    }
    return q;
}

// PCLMULQDQ of a 64-bit lane (top power x^63 in bit 0) and a 32-bit constant (top power x^31
// in bit 0) leaves the top power of the product, x^94, in bit 0 of the result, while the
// folded bits belong with x^127 in bit 0: 33 places short. So every constant for "times x^e"
// is x^(e - 33); the lane with the higher powers gets e = D + 64.
struct FoldConstants {
    uint64_t high;  // multiplies the low lane
    uint64_t low;   // multiplies the high lane
};

constexpr FoldConstants FoldBy(int bits) {
    return {XPowModP(bits + 64 - 33), XPowModP(bits - 33)};
}

constexpr FoldConstants kFold512 = FoldBy(4 * 128);
constexpr FoldConstants kFold128 = FoldBy(128);
// Reducing 128 bits, times x^32, to the 32-bit register: the low lane times x^96 lands on
// 96 bits (x^95 in bit 0), then their top 32 bits times x^64 on 64 bits (x^63 in bit 0).
// Those products top out one place short (x^94 and x^62), hence x^95 and x^63.
constexpr uint64_t kTimesX96 = XPowModP(95);
constexpr uint64_t kTimesX64 = XPowModP(63);
constexpr uint64_t kBarrettQuotient = QuotientX64();
// P itself, 33 bits with x^32 in bit 0.
constexpr uint64_t kPoly33 = (static_cast<uint64_t>(kPoly) << 1) | 1;

#define RH_CLMUL __attribute__((target("pclmul,sse4.1")))

RH_CLMUL inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

RH_CLMUL inline __m128i Constants(FoldConstants k) {
    return _mm_set_epi64x(static_cast<long long>(k.low), static_cast<long long>(k.high));
}

// block times x^D mod P, plus next.
RH_CLMUL inline __m128i Fold(__m128i block, __m128i next, __m128i k) {
    __m128i high = _mm_clmulepi64_si128(block, k, 0x00);
    __m128i low = _mm_clmulepi64_si128(block, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// The raw register after `size` bytes (a multiple of 16, at least 64) starting from reg.
RH_CLMUL uint32_t FoldBlocks(const uint8_t* p, size_t size, uint32_t reg) {
    // The register enters as the first 32 bits of the message, which it stands for.
    __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load128(p + 16);
    __m128i x2 = Load128(p + 32);
    __m128i x3 = Load128(p + 48);
    p += 64;
    size -= 64;
    const __m128i k512 = Constants(kFold512);
    while (size >= 64) {
        x0 = Fold(x0, Load128(p), k512);
        x1 = Fold(x1, Load128(p + 16), k512);
        x2 = Fold(x2, Load128(p + 32), k512);
        x3 = Fold(x3, Load128(p + 48), k512);
        p += 64;
        size -= 64;
    }
    const __m128i k128 = Constants(kFold128);
    __m128i x = Fold(Fold(Fold(x0, x1, k128), x2, k128), x3, k128);
    for (; size >= 16; size -= 16, p += 16) {
        x = Fold(x, Load128(p), k128);
    }

    // x times x^32 mod P is the register. 128 bits to 96, then to 64.
    const __m128i lowWord = _mm_set_epi32(0, 0, 0, -1);
    __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(x, _mm_cvtsi64_si128(kTimesX96), 0x00),
                              _mm_srli_si128(x, 8));
    __m128i u = _mm_xor_si128(
        _mm_clmulepi64_si128(_mm_and_si128(t, lowWord), _mm_cvtsi64_si128(kTimesX64), 0x00),
        _mm_srli_si128(t, 4));
    // Barrett: q = floor(floor(u / x^32) * floor(x^64 / P) / x^32) is floor(u / P) exactly,
    // so u - q * P is the remainder; it lies in the upper half of the low lane.
    __m128i q = _mm_and_si128(
        _mm_clmulepi64_si128(_mm_and_si128(u, lowWord),
                             _mm_cvtsi64_si128(static_cast<long long>(kBarrettQuotient)), 0x00),
        lowWord);
    __m128i r = _mm_xor_si128(
        u, _mm_clmulepi64_si128(q, _mm_cvtsi64_si128(static_cast<long long>(kPoly33)), 0x00));
    return static_cast<uint32_t>(_mm_extract_epi32(r, 1));
}

#endif  // __x86_64__

}  // namespace

uint32_t UpdateCrc32(uint32_t reg, uint8_t byte) {
    return (reg >> 8) ^ kTables.t[0][(reg ^ byte) & 0xFF];
}

uint32_t Crc32Table(const uint8_t* data, size_t size, uint32_t crc) {
    uint32_t reg = ~crc;
    const auto& t = kTables.t;
    while (size >= 8) {
        uint32_t one = Load32(data) ^ reg;
        uint32_t two = Load32(data + 4);
        reg = t[7][one & 0xFF] ^ t[6][(one >> 8) & 0xFF] ^ t[5][(one >> 16) & 0xFF] ^
              t[4][one >> 24] ^ t[3][two & 0xFF] ^ t[2][(two >> 8) & 0xFF] ^
              t[1][(two >> 16) & 0xFF] ^ t[0][two >> 24];
        data += 8;
        size -= 8;
    }
    while (size-- > 0) {
        reg = UpdateCrc32(reg, *data++);
    }
    return ~reg;
}

uint32_t Crc32Folded(const uint8_t* data, size_t size, uint32_t crc) {
#if defined(__x86_64__)
    if (size >= kMinFolded) {
        size_t whole = size & ~size_t{15};
        crc = ~FoldBlocks(data, whole, ~crc);
        data += whole;
        size -= whole;
    }
#endif
    return Crc32Table(data, size, crc);
}

bool Crc32FoldedSupported() {
#if defined(__x86_64__)
    static const bool supported =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
#else
    return false;
#endif
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    if (size >= kMinFolded && Crc32FoldedSupported()) {
        return Crc32Folded(data, size, crc);
    }
    return Crc32Table(data, size, crc);
}
