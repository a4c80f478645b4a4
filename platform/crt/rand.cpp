// The C runtime's random generator with the sequence of the original platform's runtime:
// state = state * 214013 + 2531011, result = bits 16-30 of the state (0 to 32767). The engine
// relies on the order and values of the draws, which glibc's generator does not reproduce, so
// the layer defines rand and srand itself and every caller in the process gets this one.
// glibc's RAND_MAX does not describe it: results never exceed 32767.

#include <cstdint>

namespace {
uint32_t g_state = 1;
}

extern "C" void srand(unsigned seed) noexcept { g_state = seed; }

extern "C" int rand() noexcept {
    g_state = g_state * 214013u + 2531011u;
    return static_cast<int>((g_state >> 16) & 0x7FFF);
}
