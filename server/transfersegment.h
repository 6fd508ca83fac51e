// Cutting image data into segment datagrams. Pure, so that every send path
// (one datagram per call today, batched sends later) builds the same bytes.
#ifndef ARVEX_SERVER_TRANSFERSEGMENT_H
#define ARVEX_SERVER_TRANSFERSEGMENT_H

#include "protocol.h"

#include <cstddef>
#include <cstdint>

// Valid payload bytes of segment `index`: L, or the last length for N - 1.
uint32_t segmentPayloadLength(const SegmentLayout &layout, uint32_t index);

// Writes segment `index` of `data` (the transfer's bytes, laid out by
// `layout`) into `out`, which holds layout.payload + 16 bytes: the header,
// the segment's bytes and zero filler up to the full payload. Reads only
// inside the transfer's bytes. Returns the datagram size, or 0 for an index
// at or above the segment count.
size_t buildSegmentDatagram(uint8_t *out, const uint8_t *data, const SegmentLayout &layout,
                            uint32_t index, bool last);

#endif
