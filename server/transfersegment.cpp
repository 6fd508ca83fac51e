// Segment datagrams cut from one transfer buffer.
#include "transfersegment.h"

#include <cstring>

uint32_t segmentPayloadLength(const SegmentLayout &layout, uint32_t index)
{
    if (index >= layout.count)
        return 0;
    return index + 1 == layout.count ? layout.lastLength : layout.payload;
}

size_t buildSegmentDatagram(uint8_t *out, const uint8_t *data, const SegmentLayout &layout,
                            uint32_t index, bool last)
{
    if (index >= layout.count)
        return 0;
    const uint32_t length = segmentPayloadLength(layout, index);
    SegmentHeader header;
    header.index = index;
    header.length = length;
    header.last = last ? 1 : 0;
    encodeSegmentHeader(out, header);
    uint8_t *payload = out + kSegmentHeaderSize;
    std::memcpy(payload, data + size_t(index) * layout.payload, length);
    // The filler of a short last segment is zero: the buffer behind the data
    // may hold an earlier image.
    std::memset(payload + length, 0, layout.payload - length);
    return kSegmentHeaderSize + layout.payload;
}

size_t segmentStreamBytes(const SegmentLayout &layout)
{
    return size_t(layout.count) * (kSegmentHeaderSize + layout.payload);
}

size_t buildSegmentStream(uint8_t *out, const uint8_t *data, const SegmentLayout &layout)
{
    const size_t packet = kSegmentHeaderSize + layout.payload;
    for (uint32_t i = 0; i < layout.count; ++i)
        buildSegmentDatagram(out + size_t(i) * packet, data, layout, i, i + 1 == layout.count);
    return segmentStreamBytes(layout);
}
