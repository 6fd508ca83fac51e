// Reassembly of segments and the resend requests for the gaps.
#include "segmentassembly.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

bool SegmentAssembly::reset(uint32_t sendSize, uint32_t packetSize)
{
    segments = SegmentLayout();
    received = 0;
    cursor = 0;
    heldBelow = 0;
    have.clear();
    if (!packetSizeAllowed(packetSize))
        return false;
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    if (layout.count > kMaxSegments || sendSize > uint32_t(INT32_MAX))
        return false;
    segments = layout;
    have.assign(layout.count, false);
    // Reused from transfer to transfer without clearing: a complete transfer
    // has written every byte. Data still shared with an earlier result gets a
    // buffer of its own instead of a copy.
    if (!bytes.isDetached())
        bytes = QByteArray();
    bytes.resize(int(sendSize));
    return true;
}

SegmentAssembly::Outcome SegmentAssembly::add(const SegmentHeader &header,
                                              const uint8_t *payload, size_t size)
{
    if (header.index >= segments.count)
        return Outcome::Rejected;
    const uint32_t expected =
        header.index + 1 == segments.count ? segments.lastLength : segments.payload;
    if (header.length != expected || size < expected)
        return Outcome::Rejected;
    if (have[header.index])
        return Outcome::Duplicate;
    uint8_t *place = placeOf(header.index);
    if (payload != place)
        std::memcpy(place, payload, expected);
    have[header.index] = true;
    ++received;
    cursor = header.index + 1;
    while (heldBelow < segments.count && have[heldBelow])
        ++heldBelow;
    return Outcome::Added;
}

uint8_t *SegmentAssembly::placeOf(uint32_t index)
{
    return reinterpret_cast<uint8_t *>(bytes.data()) + size_t(index) * segments.payload;
}

uint32_t SegmentAssembly::nextRun(uint32_t max, uint32_t *first) const
{
    *first = 0;
    if (segments.count < 2)
        return 0;
    const uint32_t end = segments.count - 1;  // the last segment is never planned
    uint32_t start = std::max(cursor, heldBelow);
    while (start < end && have[start])
        ++start;
    if (start >= end) {
        start = heldBelow;
        while (start < end && have[start])
            ++start;
    }
    uint32_t count = 0;
    while (start + count < end && count < max && !have[start + count])
        ++count;
    *first = start;
    return count;
}

QVector<uint16_t> SegmentAssembly::missing() const
{
    QVector<uint16_t> out;
    out.reserve(int(segments.count - received));
    for (uint32_t i = 0; i < segments.count; ++i) {
        if (!have[i])
            out << uint16_t(i);
    }
    return out;
}

QVector<QByteArray> buildResendDatagrams(const QVector<uint16_t> &indices, uint16_t firstId,
                                         uint8_t selector)
{
    QVector<QByteArray> out;
    const int perDatagram = int(kMaxResendIndicesPerDatagram);
    for (int start = 0; start < indices.size(); start += perDatagram) {
        const int count = std::min(perDatagram, indices.size() - start);
        QByteArray datagram(int(kResendIndicesOffset) + 2 * count, '\0');
        buildResendRequest(reinterpret_cast<uint8_t *>(datagram.data()),
                           uint16_t(firstId + out.size()), indices.constData() + start,
                           uint32_t(count), start + count == indices.size(), selector);
        out << datagram;
    }
    return out;
}
