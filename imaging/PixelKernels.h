// Row kernels of the colour filters: each works on one row of pixels with
// vector instructions, picked at run time for the processor at hand (AVX2 or
// AVX-512 where present on x86-64). The filters in Filters.cpp split the
// picture into rows and bands; these only see bytes.
//
// Full-colour rows are blue, green, red per pixel, with a fourth byte that no
// result depends on when `step` is 4.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivore {

// Sepia of n pixels: Y = (114 B + 587 G + 299 R) div 1000, then each channel
// Y + offsets[channel] (blue, green, red) clamped to 0..255. Steps 3 -> 3,
// 4 -> 3 and 4 -> 4 (the fourth byte copied); `in` may be `out`.
void SepiaRow(const std::uint8_t* in, int inStep, std::uint8_t* out, int outStep, std::size_t n,
              const int offsets[3]);

// 1 bit per pixel, most significant bit first: set where the pixel is nearer
// to white than to black (B + G + R >= 383). The unused low bits of the last
// byte are zero.
void MonoRow(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n);

// 4 bits per pixel, the first pixel of each pair in the high half: the index
// of the nearest colour of the standard 16-colour palette (squared distance,
// the first entry wins ties). The low half of an odd last byte is zero.
void Nearest16Row(const std::uint8_t* in, int step, std::uint8_t* out, std::size_t n);

// 24-bit pixels to 32-bit ones with a zero fourth byte.
void Bgr24ToBgrx32Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// 32-bit pixels to 24-bit ones, the fourth byte dropped.
void Bgrx32ToBgr24Row(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

// sums[i] += in[i] for `bytes` bytes.
void AddBytesTo(const std::uint8_t* in, std::uint16_t* sums, std::size_t bytes);

// Copies the first three bytes of each of n 32-bit pixels of `pattern` over
// `out`, keeping each pixel's fourth byte.
void CopyColoursOf32(const std::uint8_t* pattern, std::uint8_t* out, std::size_t n);

}  // namespace lumivore
