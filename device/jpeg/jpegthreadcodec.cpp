// Per-thread TurboJPEG compressor and scratch memory.
#include "jpegthreadcodec.h"

#include <turbojpeg.h>

namespace {

constexpr int kQuality = 90;
// The fast integer DCT, named so that it does not hang on the library's
// default (libjpeg-turbo 2.x compresses with it, 3.x does not); at quality 90
// its loss stays far below the quantisation's.
constexpr int kFlags = TJFLAG_NOREALLOC | TJFLAG_FASTDCT;

}  // namespace

JpegThreadCodec &JpegThreadCodec::current()
{
    thread_local JpegThreadCodec codec;
    return codec;
}

JpegThreadCodec::JpegThreadCodec() : handle(tjInitCompress()) {}

JpegThreadCodec::~JpegThreadCodec()
{
    if (handle)
        tjDestroy(handle);
}

JpegStatus JpegThreadCodec::encode(const uint8_t *rows, int width, int height,
                                   const JpegPixelFormat &format, uint8_t *target, size_t *size)
{
    *size = 0;
    if (!handle)
        return JpegStatus::EncoderFailed;

    const uint8_t *source = rows;
    if (format.deep()) {
        const size_t count = size_t(width) * size_t(format.channels) * size_t(height);
        if (samples.size() < count)
            samples.resize(count);
        reduceSamplesTo8(rows, count, format.bitsPerSample, samples.data());
        source = samples.data();
    }

    const bool gray = format.channels == 1;
    unsigned char *out = target;
    unsigned long outSize = 0;
    const int result = tjCompress2(handle, source, width, width * format.channels, height,
                                   gray ? TJPF_GRAY : TJPF_RGB, &out, &outSize,
                                   gray ? TJSAMP_GRAY : TJSAMP_420, kQuality, kFlags);
    if (result != 0 || out != target)
        return JpegStatus::EncoderFailed;
    *size = size_t(outSize);
    return JpegStatus::Ok;
}

uint8_t *JpegThreadCodec::jpegScratch(size_t bytes)
{
    if (jpeg.size() < bytes)
        jpeg.resize(bytes);
    return jpeg.data();
}

size_t jpegBound(int width, int height, int channels)
{
    return size_t(tjBufSize(width, height, channels == 1 ? TJSAMP_GRAY : TJSAMP_420));
}
