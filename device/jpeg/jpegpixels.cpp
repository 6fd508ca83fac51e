// Pixel layouts the encoders accept and the reduction of deep samples.
#include "jpegpixels.h"

#include "jpegcompress.h"

std::optional<JpegPixelFormat> jpegPixelFormat(int channels, int bitsPerPixel)
{
    JpegPixelFormat format;
    format.channels = channels;
    if (channels == 1 && bitsPerPixel >= 1 && bitsPerPixel <= 16)
        format.bitsPerSample = bitsPerPixel;
    else if (channels == 3 && (bitsPerPixel == 24 || bitsPerPixel == 48))
        format.bitsPerSample = bitsPerPixel / 3;
    else
        return std::nullopt;
    format.bytesPerSample = format.bitsPerSample > 8 ? 2 : 1;
    return format;
}

bool jpegGeometryValid(int width, int height)
{
    return width > 0 && height > 0 && width <= kJpegMaxDimension && height <= kJpegMaxDimension;
}

void reduceSamplesTo8(const uint8_t *source, size_t samples, int bitsPerSample, uint8_t *target)
{
    const unsigned shift = unsigned(bitsPerSample - 8);
    for (size_t i = 0; i < samples; ++i) {
        const unsigned value = unsigned(source[2 * i]) | unsigned(source[2 * i + 1]) << 8;
        target[i] = uint8_t(value >> shift);
    }
}

size_t jpegInputBytes(int width, int height, int channels, int bitsPerPixel)
{
    const std::optional<JpegPixelFormat> format = jpegPixelFormat(channels, bitsPerPixel);
    if (!format || !jpegGeometryValid(width, height))
        return 0;
    return format->rowBytes(width) * size_t(height);
}
