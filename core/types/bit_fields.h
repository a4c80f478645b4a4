// Bit fields packed in arrays of 32-bit words.
#pragma once

#include <cstdint>

// A field of count bits (1 to 32) starting at bit pos: bit pos is bit pos % 32 of word pos / 32,
// counted from the least significant bit. A field may straddle two adjacent words, its low part
// in the lower word; the second word is touched only when the field straddles, so a field that
// ends in the last word of an array never reaches past it.

// The field as an unsigned value; bits above count are 0.
uint32_t GetBits(const uint32_t* words, uint32_t pos, uint32_t count);
// Writes the low count bits of value into the field; every other bit stays as it was.
void SetBits(uint32_t* words, uint32_t pos, uint32_t count, uint32_t value);
