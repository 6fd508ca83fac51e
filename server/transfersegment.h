// Cutting image data into segment datagrams. Pure, so that every send path
// (one datagram per call, or runs of them in one call) sends the same bytes.
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

// Bytes beyond the data that a transfer's datagrams laid back to back can
// take: 16 header bytes for each of at most kMaxSegments segments, and the
// filler of the last one.
constexpr size_t kSegmentStreamOverhead = kSegmentHeaderSize * kMaxSegments + kMaxPacketSize;

// Size of every datagram of `layout` laid back to back.
size_t segmentStreamBytes(const SegmentLayout &layout);

// Writes every datagram of `data` (laid out by `layout`, the last flag on
// segment N - 1) back to back into `out`, which holds segmentStreamBytes
// bytes: datagram k at k x (layout.payload + 16), as buildSegmentDatagram
// builds it. Returns the bytes written.
size_t buildSegmentStream(uint8_t *out, const uint8_t *data, const SegmentLayout &layout);

#endif
