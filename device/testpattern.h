// The simulated camera's test pattern, so any program can check an image bit
// for bit: render the expected frame and compare.
#ifndef ARVEX_DEVICE_TESTPATTERN_H
#define ARVEX_DEVICE_TESTPATTERN_H

#include <cstddef>
#include <cstdint>

// Writes frame `frame` of a width x height image, rows without padding, and
// returns the bytes written (imageBytesFor(width, height, bitsPerPixel)).
//   mono, b <= 16 bits: v = (x + 2y + 3n) mod 2^b; 1 byte for b <= 8, else
//                       2 bytes little-endian
//   17..24 bits (RGB 24): R = (x + n), G = (y + n), B = (x + y + n), mod 256
//   above 24 (RGB 48):    the same three sums mod 65536, 2 bytes LE each
// Every depth the wrapper's imageBytes() knows is covered, so the output never
// exceeds the size the server reserves for the format.
size_t renderTestPattern(uint8_t *out, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                         uint32_t frame);

// Offset of the first byte of `data` that differs from the pattern, or -1 when
// all `size` bytes match (size must equal the frame's byte count to match).
int64_t findTestPatternMismatch(const uint8_t *data, size_t size, uint32_t width,
                                uint32_t height, uint32_t bitsPerPixel, uint32_t frame);

#endif
