// Test-pattern checks for received images.
#include "patterncheck.h"

#include "cameradevice.h"
#include "testpattern.h"

bool isPatternFrame(const QByteArray &data, uint32_t width, uint32_t height, uint32_t bits,
                    uint32_t frame)
{
    if (width == 0 || height == 0 || uint64_t(data.size()) != imageBytesFor(width, height, bits))
        return false;
    return findTestPatternMismatch(reinterpret_cast<const uint8_t *>(data.constData()),
                                   size_t(data.size()), width, height, bits, frame)
           == -1;
}

bool isSomePatternFrame(const QByteArray &data, uint32_t width, uint32_t height, uint32_t bits)
{
    if (data.size() < 2)
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(data.constData());
    const uint32_t first = bits <= 8 || (bits > 16 && bits <= 24) ? p[0] : uint32_t(p[0] | p[1] << 8);
    uint32_t frame = first;
    if (bits <= 16) {
        // v(0, 0) = 3n mod 2^b, and 0xAAAAAAAB is 3's inverse modulo 2^32.
        const uint32_t mask = (1u << bits) - 1;
        frame = (first * 0xAAAAAAABu) & mask;
    }
    return isPatternFrame(data, width, height, bits, frame);
}
