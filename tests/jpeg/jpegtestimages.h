// Test images in the camera's pixel layouts, their 8-bit reduction, and a
// TurboJPEG decoder to check encoder output against them.
#ifndef ARVEX_TESTS_JPEG_JPEGTESTIMAGES_H
#define ARVEX_TESTS_JPEG_JPEGTESTIMAGES_H

#include <cstddef>
#include <cstdint>
#include <vector>

struct TestImage {
    int width = 0;
    int height = 0;
    int channels = 1;
    int bitsPerPixel = 8;
    std::vector<uint8_t> pixels;   // as the camera delivers them
    std::vector<uint8_t> reduced;  // the same image as 8-bit samples
};

// Gray: v = (x + 2y + 3n) mod 2^bits. RGB 24/48: R = x + n, G = y + n,
// B = x + y + n, mod 2^(bits/3). Deep samples are two bytes little-endian.
TestImage makeTestImage(int width, int height, int channels, int bitsPerPixel, int n = 0);

struct DecodedJpeg {
    bool ok = false;
    int width = 0;
    int height = 0;
    int subsampling = -1;  // TJSAMP_*
    std::vector<uint8_t> pixels;  // gray or RGB, as many channels as asked
};

DecodedJpeg decodeJpeg(const uint8_t *data, size_t size, int channels);

// Mean absolute difference of `count` samples.
double meanAbsError(const uint8_t *a, const uint8_t *b, size_t count);

// A complete JPEG stream opens with SOI and closes with EOI.
bool hasJpegMarkers(const uint8_t *data, size_t size);

#endif
