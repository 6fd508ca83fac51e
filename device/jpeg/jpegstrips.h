// How the fast encoder cuts an image into horizontal strips.
#ifndef ARVEX_DEVICE_JPEG_JPEGSTRIPS_H
#define ARVEX_DEVICE_JPEG_JPEGSTRIPS_H

#include <cstdint>

// `count` strips of `rows` rows each, the last one holding what is left.
struct JpegStripPlan {
    int count = 0;
    int rows = 0;
};

// At most min(maxParts, 8) strips of equal height rounded up to 16 rows, so
// that 4:2:0 MCUs never straddle a cut; a short image gives fewer strips.
// No strips for an empty image or maxParts 0.
JpegStripPlan planJpegStrips(int height, uint32_t maxParts);

#endif
