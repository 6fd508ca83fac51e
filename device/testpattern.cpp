// The test pattern of the simulated camera; rows are written with simple
// loops that the compiler vectorises (1280 x 1024 at 100 fps is the target).
#include "testpattern.h"

#include "cameradevice.h"

#include <vector>

namespace {

void renderMono8(uint8_t *out, uint32_t width, uint32_t height, uint32_t mask, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t base = 2 * y + 3 * frame;
        uint8_t *row = out + size_t(y) * width;
        for (uint32_t x = 0; x < width; ++x)
            row[x] = uint8_t((base + x) & mask);
    }
}

void renderMono16(uint8_t *out, uint32_t width, uint32_t height, uint32_t mask, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t base = 2 * y + 3 * frame;
        uint8_t *row = out + size_t(y) * width * 2;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t v = (base + x) & mask;
            row[2 * x] = uint8_t(v);
            row[2 * x + 1] = uint8_t(v >> 8);
        }
    }
}

void renderRgb24(uint8_t *out, uint32_t width, uint32_t height, uint32_t frame)
{
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t *row = out + size_t(y) * width * 3;
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
        const uint32_t mask = uint32_t((1u << bitsPerPixel) - 1u);
        if (bitsPerPixel <= 8)
            renderMono8(out, width, height, mask, frame);
        else
            renderMono16(out, width, height, mask, frame);
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
