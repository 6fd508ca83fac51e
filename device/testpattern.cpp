// The test pattern of the simulated camera (1280 x 1024 at 100 fps is the
// target: the simulator renders every live and recorded frame).
#include "testpattern.h"

#include "cameradevice.h"

#include <cstring>
#include <vector>

namespace {

// Every mono row is a window onto one ramp, v = i mod 2^b: row y starts at
// (2y + 3n) mod 2^b. One ramp per frame, then a copy per row.
void renderMono(uint8_t *out, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                uint32_t frame)
{
    const uint32_t period = 1u << bitsPerPixel;
    const uint32_t mask = period - 1;
    const size_t sampleBytes = bitsPerPixel <= 8 ? 1 : 2;
    std::vector<uint8_t> ramp((size_t(period) + width) * sampleBytes);
    for (size_t i = 0; i < size_t(period) + width; ++i) {
        const uint32_t v = uint32_t(i) & mask;
        if (sampleBytes == 1) {
            ramp[i] = uint8_t(v);
        } else {
            ramp[2 * i] = uint8_t(v);
            ramp[2 * i + 1] = uint8_t(v >> 8);
        }
    }
    const size_t rowBytes = size_t(width) * sampleBytes;
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t start = (2 * y + 3 * frame) & mask;
        std::memcpy(out + size_t(y) * rowBytes, ramp.data() + size_t(start) * sampleBytes, rowBytes);
    }
}

// R depends on x alone, G and B on y + n as well: rows 256 apart are equal.
void renderRgb24(uint8_t *out, uint32_t width, uint32_t height, uint32_t frame)
{
    const size_t rowBytes = size_t(width) * 3;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = out + size_t(y) * rowBytes;
        if (y >= 256) {
            std::memcpy(row, row - 256 * rowBytes, rowBytes);
            continue;
        }
        const uint8_t g = uint8_t(y + frame);
        for (uint32_t x = 0; x < width; ++x) {
            row[3 * x] = uint8_t(x + frame);
            row[3 * x + 1] = g;
            row[3 * x + 2] = uint8_t(x + y + frame);
        }
    }
}

void put16(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void renderRgb48(uint8_t *out, uint32_t width, uint32_t height, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = out + size_t(y) * width * 6;
        const uint32_t g = y + frame;
        for (uint32_t x = 0; x < width; ++x) {
            put16(row + 6 * x, x + frame);
            put16(row + 6 * x + 2, g);
            put16(row + 6 * x + 4, x + y + frame);
        }
    }
}

}  // namespace

size_t renderTestPattern(uint8_t *out, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                         uint32_t frame)
{
    if (bitsPerPixel <= 16) {
        renderMono(out, width, height, bitsPerPixel, frame);
    } else if (bitsPerPixel <= 24) {
        renderRgb24(out, width, height, frame);
    } else {
        renderRgb48(out, width, height, frame);
    }
    return imageBytesFor(width, height, bitsPerPixel);
}

int64_t findTestPatternMismatch(const uint8_t *data, size_t size, uint32_t width,
                                uint32_t height, uint32_t bitsPerPixel, uint32_t frame)
{
    const size_t expectedSize = imageBytesFor(width, height, bitsPerPixel);
    std::vector<uint8_t> expected(expectedSize);
    renderTestPattern(expected.data(), width, height, bitsPerPixel, frame);
    const size_t common = size < expectedSize ? size : expectedSize;
    for (size_t i = 0; i < common; ++i) {
        if (data[i] != expected[i])
            return int64_t(i);
    }
    return size == expectedSize ? -1 : int64_t(common);
}
