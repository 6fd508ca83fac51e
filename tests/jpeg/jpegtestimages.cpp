// Test images and a TurboJPEG decoder for the encoder tests.
#include "jpegtestimages.h"

#include <turbojpeg.h>

#include <cstdlib>

TestImage makeTestImage(int width, int height, int channels, int bitsPerPixel, int n)
{
    TestImage image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitsPerPixel = bitsPerPixel;
    const int bits = channels == 3 ? bitsPerPixel / 3 : bitsPerPixel;
    const uint32_t mask = (1u << bits) - 1;
    const int shift = bits > 8 ? bits - 8 : 0;
    const size_t samples = size_t(width) * size_t(height) * size_t(channels);
    image.pixels.resize(samples * (bits > 8 ? 2 : 1));
    image.reduced.resize(samples);

    size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t values[3] = {uint32_t(x + 2 * y + 3 * n), 0, 0};
            if (channels == 3) {
                values[0] = uint32_t(x + n);
                values[1] = uint32_t(y + n);
                values[2] = uint32_t(x + y + n);
            }
            for (int c = 0; c < channels; ++c, ++i) {
                const uint32_t v = values[c] & mask;
                image.reduced[i] = uint8_t(v >> shift);
                if (bits > 8) {
                    image.pixels[2 * i] = uint8_t(v);
                    image.pixels[2 * i + 1] = uint8_t(v >> 8);
                } else {
                    image.pixels[i] = uint8_t(v);
                }
            }
        }
    }
    return image;
}

DecodedJpeg decodeJpeg(const uint8_t *data, size_t size, int channels)
{
    DecodedJpeg decoded;
    tjhandle handle = tjInitDecompress();
    if (!handle)
        return decoded;
    int colorspace = 0;
    if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &decoded.width,
                            &decoded.height, &decoded.subsampling, &colorspace)
        == 0) {
        decoded.pixels.resize(size_t(decoded.width) * size_t(decoded.height) * size_t(channels));
        decoded.ok = tjDecompress2(handle, data, static_cast<unsigned long>(size),
                                   decoded.pixels.data(), decoded.width, 0, decoded.height,
                                   channels == 1 ? TJPF_GRAY : TJPF_RGB, TJFLAG_ACCURATEDCT)
                     == 0;
    }
    tjDestroy(handle);
    return decoded;
}

double meanAbsError(const uint8_t *a, const uint8_t *b, size_t count)
{
    if (count == 0)
        return 0.0;
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += uint64_t(std::abs(int(a[i]) - int(b[i])));
    return double(sum) / double(count);
}

bool hasJpegMarkers(const uint8_t *data, size_t size)
{
    return size >= 4 && data[0] == 0xFF && data[1] == 0xD8 && data[size - 2] == 0xFF
           && data[size - 1] == 0xD9;
}
