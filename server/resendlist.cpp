// Collecting resend indices within the bounds of the datagram and the list.
#include "resendlist.h"

#include <algorithm>

ResendList::ResendList(uint32_t capacity)
    : indices(new uint16_t[capacity]), capacityValue(capacity)
{
}

ResendAppend ResendList::appendFromDatagram(const uint8_t *datagram, size_t length,
                                            uint32_t segmentCount)
{
    ResendAppend result;
    result.declared = readU32(datagram, length, 8);
    // n as written may claim more than arrived (or than the receive buffer
    // can hold); only the received bytes count.
    const size_t carriedBytes = length > kResendIndicesOffset ? length - kResendIndicesOffset : 0;
    const uint32_t carried =
        uint32_t(std::min<size_t>(carriedBytes / 2, kMaxResendIndicesPerDatagram));
    const uint32_t usable = std::min(result.declared, carried);
    result.notCarried = result.declared - usable;
    for (uint32_t i = 0; i < usable; ++i) {
        const uint16_t index = readU16(datagram, length, kResendIndicesOffset + 2 * size_t(i));
        if (index >= segmentCount) {
            ++result.outOfRange;
        } else if (count >= capacityValue) {
            ++result.overCapacity;
        } else {
            indices[count++] = index;
            ++result.appended;
        }
    }
    return result;
}

bool resendDatagramIsFinal(const uint8_t *datagram, size_t length)
{
    return readU32(datagram, length, 12) != 0;
}
