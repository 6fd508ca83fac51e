// Putting one transfer's segments back together by index, and listing what
// is missing as PKT_RESEND datagrams. Pure: no socket.
#ifndef ARVEX_CLIENT_SEGMENTASSEMBLY_H
#define ARVEX_CLIENT_SEGMENTASSEMBLY_H

#include "protocol.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <vector>

class SegmentAssembly
{
public:
    enum class Outcome { Added, Duplicate, Rejected };

    // A transfer of sendSize bytes in datagrams of packetSize (allowed sizes
    // only; false otherwise, or when it would need more than 65536 segments).
    bool reset(uint32_t sendSize, uint32_t packetSize);

    // One segment datagram's header and the bytes after it (which may
    // already lie in their place). Rejected: an index outside the transfer,
    // or a length other than the segment's.
    Outcome add(const SegmentHeader &header, const uint8_t *payload, size_t size);

    // The longest run of missing segments, at most `max`, that a receiver
    // may read straight into place: from the first missing one after the
    // last one added (else the first missing one), stopping before the last
    // segment, whose place is shorter than a payload. Its first index goes
    // to `first`; 0 when there is none.
    uint32_t nextRun(uint32_t max, uint32_t *first) const;
    // Where segment `index`'s payload belongs.
    uint8_t *placeOf(uint32_t index);

    const SegmentLayout &layout() const { return segments; }
    uint32_t receivedCount() const { return received; }
    bool complete() const { return received == segments.count; }
    QVector<uint16_t> missing() const;
    // The transfer's bytes; those of segments not yet added are unspecified.
    const QByteArray &data() const { return bytes; }

private:
    SegmentLayout segments;
    std::vector<bool> have;
    uint32_t received = 0;
    uint32_t cursor = 0;       // one past the last segment added
    uint32_t heldBelow = 0;    // every segment below this one is held
    QByteArray bytes;
};

// PKT_RESEND datagrams asking for `indices`: at most
// kMaxResendIndicesPerDatagram each, the last flag on the final one. Ids
// from `firstId` up. Empty for no indices.
QVector<QByteArray> buildResendDatagrams(const QVector<uint16_t> &indices, uint16_t firstId,
                                         uint8_t selector = 0);

#endif
