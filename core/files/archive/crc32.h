// CRC-32 with the reflected polynomial 0xEDB88320, as archive and zip headers store it.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of `size` bytes at `data` continued from `crc`, the result of an earlier call
// (0 to start): the register starts from the complement of `crc` and the result is
// complemented again, so Crc32(b, n2, Crc32(a, n1)) equals the CRC of a then b.
// "123456789" gives 0xCBF43926. data may be null when size is 0. Uses carry-less multiply
// when the processor has it (Crc32FoldedSupported), else the table version.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// One step of the raw register, without the complements: the byte-wise table update that
// Crc32 speeds up eight bytes at a time.
uint32_t UpdateCrc32(uint32_t reg, uint8_t byte);

// The two implementations behind Crc32, each with Crc32's contract, named so that tests can
// hold one against the other. Crc32Table works everywhere. Crc32Folded may be called only
// when Crc32FoldedSupported() is true (x86-64 with PCLMULQDQ and SSE4.1); it hands inputs
// too short to fold, and the last few bytes of longer ones, to the table version.
uint32_t Crc32Table(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t Crc32Folded(const uint8_t* data, size_t size, uint32_t crc = 0);
bool Crc32FoldedSupported();
