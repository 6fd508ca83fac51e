// The standard encoder: one JPEG of the whole image on the calling thread.
#include "jpegcompress.h"

#include "jpegpixels.h"
#include "jpegthreadcodec.h"

#include <cstring>

JpegStatus CompressJPEGData(const uint8_t *pixels, int width, int height, int channels,
                            int bitsPerPixel, uint8_t **output, size_t *outputSize)
{
    if (!outputSize)
        return JpegStatus::BadArgument;
    const size_t capacity = *outputSize;
    *outputSize = 0;
    const std::optional<JpegPixelFormat> format = jpegPixelFormat(channels, bitsPerPixel);
    if (!pixels || !output || !*output || !format || !jpegGeometryValid(width, height))
        return JpegStatus::BadArgument;

    JpegThreadCodec &codec = JpegThreadCodec::current();
    const size_t bound = jpegBound(width, height, channels);
    // A buffer with room for the worst case takes the JPEG directly; a smaller
    // one gets it copied from scratch once its real size is known.
    const bool direct = capacity >= bound;
    uint8_t *target = direct ? *output : codec.jpegScratch(bound);
    size_t size = 0;
    const JpegStatus status = codec.encode(pixels, width, height, *format, target, &size);
    if (status != JpegStatus::Ok)
        return status;
    if (!direct) {
        if (size > capacity)
            return JpegStatus::OutputTooSmall;
        std::memcpy(*output, target, size);
    }
    *outputSize = size;
    return JpegStatus::Ok;
}
