// Pixel layouts the encoders accept and the reduction of deep samples to the
// 8 bits a baseline JPEG codes.
#ifndef ARVEX_DEVICE_JPEG_JPEGPIXELS_H
#define ARVEX_DEVICE_JPEG_JPEGPIXELS_H

#include <cstddef>
#include <cstdint>
#include <optional>

struct JpegPixelFormat {
    int channels = 1;        // 1 gray, 3 RGB
    int bitsPerSample = 8;   // 1..16
    int bytesPerSample = 1;  // 2 (little-endian) above 8 bits

    size_t rowBytes(int width) const
    {
        return size_t(width) * size_t(channels) * size_t(bytesPerSample);
    }
    bool deep() const { return bytesPerSample == 2; }
};

// Gray takes 1..16 bits per pixel, RGB 24 or 48; anything else is refused.
std::optional<JpegPixelFormat> jpegPixelFormat(int channels, int bitsPerPixel);

// JPEG frames carry 16-bit dimensions and libjpeg stops at 65500.
constexpr int kJpegMaxDimension = 65500;
bool jpegGeometryValid(int width, int height);

// Writes the top 8 bits of `samples` two-byte little-endian samples of
// `bitsPerSample` (9..16) bits each; bits above the sample's width are
// ignored, so a stray high bit cannot wrap into a wrong level.
void reduceSamplesTo8(const uint8_t *source, size_t samples, int bitsPerSample, uint8_t *target);

#endif
