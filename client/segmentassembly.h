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

    // One segment datagram's header and the bytes after it. Rejected: an
    // index outside the transfer, or a length other than the segment's.
    Outcome add(const SegmentHeader &header, const uint8_t *payload, size_t size);

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
    QByteArray bytes;
};

// PKT_RESEND datagrams asking for `indices`: at most
// kMaxResendIndicesPerDatagram each, the last flag on the final one. Ids
// from `firstId` up. Empty for no indices.
QVector<QByteArray> buildResendDatagrams(const QVector<uint16_t> &indices, uint16_t firstId,
                                         uint8_t selector = 0);

#endif
