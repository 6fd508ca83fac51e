// The fast encoder: strips of the image coded in parallel on the worker pool.
#include "jpegcompress.h"

#include "jpegpixels.h"
#include "jpegstrips.h"
#include "jpegthreadcodec.h"
#include "jpegworkerpool.h"

#include <algorithm>
#include <cstring>

namespace {

// One call's strips; each worker writes only the slots of the strip it took.
struct StripJob {
    const uint8_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    JpegPixelFormat format;
    JpegStripPlan plan;
    uint8_t *scratch = nullptr;  // strip i's JPEG at offsets[i], room for its bound
    size_t offsets[kJpegMaxParts] = {};
    size_t sizes[kJpegMaxParts] = {};
    JpegStatus results[kJpegMaxParts] = {};
};

int stripRows(const StripJob &job, int index)
{
    return std::min(job.plan.rows, job.height - index * job.plan.rows);
}

void encodeStrip(void *context, int index)
{
    StripJob &job = *static_cast<StripJob *>(context);
    const size_t rowBytes = job.format.rowBytes(job.width);
    const uint8_t *rows = job.pixels + size_t(index) * size_t(job.plan.rows) * rowBytes;
    job.results[index] = JpegThreadCodec::current().encode(rows, job.width, stripRows(job, index),
                                                           job.format, job.scratch + job.offsets[index],
                                                           &job.sizes[index]);
}

void clearParts(JpegPartTable *parts)
{
    parts->count = 0;
    std::fill(std::begin(parts->sizes), std::end(parts->sizes), 0u);
}

}  // namespace

size_t jpegPartsTotal(const JpegPartTable &parts)
{
    if (parts.count > kJpegPartTableSlots)
        return 0;
    size_t total = 0;
    for (uint32_t i = 0; i < parts.count; ++i)
        total += parts.sizes[i];
    return total;
}

JpegStatus FastCompressJPEGData(const uint8_t *pixels, int width, int height, int channels,
                                int bitsPerPixel, uint8_t *output, size_t outputCapacity,
                                JpegPartTable *parts)
{
    if (!parts)
        return JpegStatus::BadArgument;
    const uint32_t maxParts = parts->count;
    clearParts(parts);
    const std::optional<JpegPixelFormat> format = jpegPixelFormat(channels, bitsPerPixel);
    if (!pixels || !output || !format || !jpegGeometryValid(width, height) || maxParts == 0)
        return JpegStatus::BadArgument;

    StripJob job;
    job.pixels = pixels;
    job.width = width;
    job.height = height;
    job.format = *format;
    job.plan = planJpegStrips(height, maxParts);

    // Each strip gets room for its worst case, so no worker waits for another
    // to learn where its part begins; the parts are packed afterwards.
    size_t scratchBytes = 0;
    for (int i = 0; i < job.plan.count; ++i) {
        job.offsets[i] = scratchBytes;
        scratchBytes += jpegBound(width, stripRows(job, i), channels);
    }
    job.scratch = JpegThreadCodec::current().jpegScratch(scratchBytes);

    JpegWorkerPool::instance().run(job.plan.count, encodeStrip, &job);

    size_t total = 0;
    for (int i = 0; i < job.plan.count; ++i) {
        if (job.results[i] != JpegStatus::Ok)
            return job.results[i];
        total += job.sizes[i];
    }
    if (total > outputCapacity)
        return JpegStatus::OutputTooSmall;

    uint8_t *target = output;
    for (int i = 0; i < job.plan.count; ++i) {
        std::memcpy(target, job.scratch + job.offsets[i], job.sizes[i]);
        target += job.sizes[i];
        parts->sizes[i] = uint32_t(job.sizes[i]);
    }
    parts->count = uint32_t(job.plan.count);
    return JpegStatus::Ok;
}
