#pragma once

#include <cstdint>

// A word of flag bits. Bit 0 is the success bit of loaders; the other bits belong to the owner.
// Loaders Combine the result of each step, so one failed step fails the whole result.
struct FlagWord {
    int32_t value;

    // Explicit so that pointers and other scalars do not turn into results by accident.
    explicit constexpr FlagWord(int v) : value(v) {}
    // value 1 for true, 0 for false.
    explicit constexpr FlagWord(bool ok) : value(ok ? 1 : 0) {}

    void Set(int32_t mask) { value |= mask; }
    void Clear(int32_t mask) { value &= ~mask; }
    // True when any bit of mask is set.
    bool Test(int32_t mask) const { return (value & mask) != 0; }
    bool Equals(int v) const { return value == v; }
    bool Succeeded() const { return (value & 1) != 0; }
    bool Failed() const { return (value & 1) == 0; }
    // Leaves a pure success bit: 1 only when both had bit 0 set; every other bit is dropped.
    void Combine(FlagWord other) { value = value & other.value & 1; }
};
