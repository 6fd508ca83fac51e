// The segment indices of one resend request, collected across PKT_RESEND
// datagrams into a list of fixed capacity (allocated once).
#ifndef ARVEX_SERVER_RESENDLIST_H
#define ARVEX_SERVER_RESENDLIST_H

#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// What one datagram contributed, and what of it was not taken.
struct ResendAppend {
    uint32_t declared = 0;     // n at offset 8
    uint32_t appended = 0;     // indices now in the list
    uint32_t outOfRange = 0;   // indices at or above the segment count, dropped
    uint32_t notCarried = 0;   // declared beyond what the received bytes hold
    uint32_t overCapacity = 0; // carried but no room left in the list
};

class ResendList
{
public:
    explicit ResendList(uint32_t capacity = kResendListCapacity);

    // Appends the indices of a PKT_RESEND datagram of `length` received
    // bytes. Only indices below `segmentCount` are kept; n is clipped to the
    // indices the datagram really carries and to the room left.
    ResendAppend appendFromDatagram(const uint8_t *datagram, size_t length,
                                    uint32_t segmentCount);

    uint32_t size() const { return count; }
    uint32_t capacity() const { return capacityValue; }
    uint16_t at(uint32_t position) const { return indices[position]; }
    void clear() { count = 0; }

private:
    // Only the first `count` entries are ever read: left unwritten.
    std::unique_ptr<uint16_t[]> indices;
    uint32_t capacityValue;
    uint32_t count = 0;
};

// The "last" field of a PKT_RESEND datagram (offset 12).
bool resendDatagramIsFinal(const uint8_t *datagram, size_t length);

#endif
