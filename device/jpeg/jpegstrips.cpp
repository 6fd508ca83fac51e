// Strip layout of the fast encoder.
#include "jpegstrips.h"

#include "jpegcompress.h"

namespace {

constexpr int kStripAlignment = 16;

}  // namespace

JpegStripPlan planJpegStrips(int height, uint32_t maxParts)
{
    JpegStripPlan plan;
    const int parts = int(maxParts < kJpegMaxParts ? maxParts : kJpegMaxParts);
    if (height <= 0 || parts == 0)
        return plan;
    const int even = (height + parts - 1) / parts;
    plan.rows = (even + kStripAlignment - 1) / kStripAlignment * kStripAlignment;
    plan.count = (height + plan.rows - 1) / plan.rows;
    return plan;
}
