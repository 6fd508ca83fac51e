// The calling thread's TurboJPEG compressor with the scratch memory it reuses
// from call to call, and the one routine that codes a block of rows.
#ifndef ARVEX_DEVICE_JPEG_JPEGTHREADCODEC_H
#define ARVEX_DEVICE_JPEG_JPEGTHREADCODEC_H

#include "jpegcompress.h"
#include "jpegpixels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class JpegThreadCodec
{
public:
    // This thread's codec, made on first use and released when the thread ends.
    static JpegThreadCodec &current();

    JpegThreadCodec();
    ~JpegThreadCodec();
    JpegThreadCodec(const JpegThreadCodec &) = delete;
    JpegThreadCodec &operator=(const JpegThreadCodec &) = delete;

    // Codes `height` rows from `rows` (laid out as `format`) as one complete
    // JPEG into `target`, which must hold jpegBound(width, height, channels)
    // bytes: with that room libjpeg-turbo never reallocates.
    JpegStatus encode(const uint8_t *rows, int width, int height, const JpegPixelFormat &format,
                      uint8_t *target, size_t *size);

    // Scratch for JPEG data of at least `bytes`; valid until the next call.
    uint8_t *jpegScratch(size_t bytes);

private:
    void *handle = nullptr;  // tjhandle
    std::vector<uint8_t> samples;  // deep input reduced to 8 bits
    std::vector<uint8_t> jpeg;
};

// Worst-case JPEG size of a width x height block (tjBufSize).
size_t jpegBound(int width, int height, int channels);

#endif
