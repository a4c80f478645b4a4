// Made-up content that packs the way real files of its kind do, for the packer's tests, the
// decoder's benchmarks and the archive fuzz seeds: the same size and seed always give the
// same bytes (integer arithmetic only).

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rh::rarwrite::sample {

// Prose in lines of about 70 characters: words from a made-up vocabulary, common ones far
// more often than rare ones, with capitals, punctuation and numbers.
std::vector<uint8_t> TextLike(size_t size, uint32_t seed);

// Program-like binary: short instruction-like byte groups with operands, tables of small
// 32-bit numbers, strings and zero padding.
std::vector<uint8_t> BinaryLike(size_t size, uint32_t seed);

// An uncompressed picture, rows of 512 RGB pixels (3 bytes each): soft gradients and a few
// discs with a little noise, cut to size.
std::vector<uint8_t> PictureLike(size_t size, uint32_t seed);

// Sound: frames of `channels` interleaved samples, each unsigned 8-bit (bytesPerSample 1) or
// signed 16-bit little-endian (2); a few tones per channel and a little noise. Cut to size.
std::vector<uint8_t> SamplesLike(size_t size, int bytesPerSample, int channels, uint32_t seed);

// Uniformly random bytes.
std::vector<uint8_t> Random(size_t size, uint32_t seed);

}  // namespace rh::rarwrite::sample
