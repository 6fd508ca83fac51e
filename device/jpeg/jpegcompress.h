// The two JPEG encoders of the image transfer: one JPEG of the whole image, or
// up to eight strip JPEGs encoded in parallel.
//
// Input: `pixels` holds width x height pixels, rows with no padding. Gray
// (channels 1) with bitsPerPixel 1..8 is one byte per pixel, 9..16 two bytes
// little-endian; RGB (channels 3) with 24 bits is R, G, B bytes, with 48 bits
// R, G, B as two bytes little-endian each. A b-bit sample with b > 8 is coded
// as its top 8 bits. Output: baseline JPEG, quality 90, RGB as 4:2:0, gray as
// gray.
//
// Thread safety: both encoders may be called from several threads at once;
// each calling thread keeps its own codec and scratch memory, and the strip
// workers are shared.
#ifndef ARVEX_DEVICE_JPEG_JPEGCOMPRESS_H
#define ARVEX_DEVICE_JPEG_JPEGCOMPRESS_H

#include <cstddef>
#include <cstdint>

enum class JpegStatus : int {
    Ok = 0,
    BadArgument = 1,     // null pointer, size or pixel format the encoder cannot take
    OutputTooSmall = 2,  // the JPEG data does not fit the output capacity
    EncoderFailed = 3,   // libjpeg-turbo reported an error
};

// Most parts the fast encoder makes: as many as the image reply describes.
constexpr uint32_t kJpegMaxParts = 8;
constexpr size_t kJpegPartTableSlots = 64;
constexpr size_t kJpegPartTableSize = 4 + 4 * kJpegPartTableSlots;

// In: count is the most parts the caller takes (a fresh table asks for 8).
// Out: count parts, sizes[0..count-1] their byte lengths, the parts lying one
// after another at the start of the output; count 0 after a failure.
struct JpegPartTable {
    uint32_t count = kJpegMaxParts;
    uint32_t sizes[kJpegPartTableSlots] = {};
};
static_assert(sizeof(JpegPartTable) == kJpegPartTableSize, "JpegPartTable is a 260-byte record");

// Sum of sizes[0..count-1]; 0 for a count above the table's slots.
size_t jpegPartsTotal(const JpegPartTable &parts);

// Bytes of input the encoders read for this format, 0 if they refuse it.
size_t jpegInputBytes(int width, int height, int channels, int bitsPerPixel);

// One JPEG of the whole image on the calling thread. *output points to the
// caller's buffer of *outputSize bytes; on success the JPEG lies at *output
// (that same buffer) and *outputSize is its length. On failure *outputSize is
// 0 and nothing past the capacity has been written.
JpegStatus CompressJPEGData(const uint8_t *pixels, int width, int height, int channels,
                            int bitsPerPixel, uint8_t **output, size_t *outputSize);

// The image as at most min(parts->count, 8) horizontal strips (heights a
// multiple of 16 except the last), each a complete JPEG, encoded in parallel
// and written one after another into `output`. Fails with OutputTooSmall,
// count 0, when the parts together exceed `outputCapacity`.
JpegStatus FastCompressJPEGData(const uint8_t *pixels, int width, int height, int channels,
                                int bitsPerPixel, uint8_t *output, size_t outputCapacity,
                                JpegPartTable *parts);

#endif
