// recvmmsg into buffers made once, coalesced runs split, payloads of planned
// segments read straight into place.
#include "datagramreceiver.h"

#include "protocol.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#ifndef UDP_GRO
#define UDP_GRO 104
#endif
#ifndef SO_RXQ_OVFL
#define SO_RXQ_OVFL 40
#endif

namespace {

// Slots per read: enough to amortise the call, few enough that a read of
// coalesced runs stays in the cache while it is taken apart.
constexpr int kSlotCount = 8;
// The largest UDP payload, coalesced runs included.
constexpr size_t kSlotBytes = 65536;
// Room for the segment size, the drop count and the time stamp.
constexpr size_t kControlBytes = 128;
// Planned datagrams per slot: a coalesced run holds at most 64.
constexpr uint32_t kMaxPlannedPerSlot = 64;
// Smaller datagrams are not read into place: the kernel's cost for every
// extra piece of a read outweighs the copy it saves (measured on loopback
// at 1488 bytes, where both are about even).
constexpr size_t kMinPlannedPacket = 4096;
// The most a sender puts in one run (an IPv4 datagram's payload limit).
constexpr size_t kMaxRunBytes = 65507;

using SteadyClock = std::chrono::steady_clock;

// The kernel stamps in CLOCK_REALTIME; this is how far that runs ahead of
// the steady clock right now.
std::chrono::nanoseconds realtimeAhead()
{
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const SteadyClock::time_point now = SteadyClock::now();
    const auto realNs = std::chrono::seconds(real.tv_sec) + std::chrono::nanoseconds(real.tv_nsec);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(realNs - now.time_since_epoch());
}

}  // namespace

struct DatagramReceiver::Arena {
    // A slot's bytes past its planned places.
    std::vector<uint8_t> buffers = std::vector<uint8_t>(size_t(kSlotCount) * kSlotBytes);
    // A slot's planned part when it did not land in place, laid out as in
    // the message.
    std::vector<uint8_t> gathered = std::vector<uint8_t>(size_t(kSlotCount) * kSlotBytes);
    uint8_t headers[kSlotCount][kMaxPlannedPerSlot][kSegmentHeaderSize] = {};
    iovec vectors[kSlotCount][2 * kMaxPlannedPerSlot + 1] = {};
    mmsghdr messages[kSlotCount] = {};
    sockaddr_in senders[kSlotCount] = {};
    alignas(cmsghdr) uint8_t control[kSlotCount][kControlBytes] = {};
    size_t segmentSizes[kSlotCount] = {};  // from the kernel, 0 when not coalesced
    SteadyClock::time_point arrivals[kSlotCount] = {};

    // The last read's plan.
    size_t packetSize = 0;  // 0: no plan
    uint32_t planned[kSlotCount] = {};
    uint8_t *places[kSlotCount][kMaxPlannedPerSlot] = {};
    bool landed[kSlotCount][kMaxPlannedPerSlot] = {};  // in its place and the one expected
    bool wholeGathered[kSlotCount] = {};  // the whole message lies in `gathered`

    // Datagrams a coalesced read held at most at this packet size: how many
    // places a slot is given.
    size_t runPacketSize = 0;
    uint32_t run = 1;
    size_t lastPacketSize = 0;  // of the last plan that named one
    bool coalescing = false;

    uint8_t *buffer(int k) { return buffers.data() + size_t(k) * kSlotBytes; }
    uint8_t *gather(int k) { return gathered.data() + size_t(k) * kSlotBytes; }
};

DatagramReceiver::DatagramReceiver() : arena(std::make_unique<Arena>()) {}

DatagramReceiver::~DatagramReceiver() = default;

bool DatagramReceiver::attach(int socketDescriptor, bool coalesce)
{
    fd = socketDescriptor;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    dropsSeen = 0;
    arena->coalescing =
        coalesce && setsockopt(fd, SOL_UDP, UDP_GRO, &one, sizeof one) == 0;
    arena->runPacketSize = 0;
    return arena->coalescing;
}

void DatagramReceiver::setPlanner(Planner next)
{
    planner = std::move(next);
}

int DatagramReceiver::receive()
{
    if (fd < 0)
        return 0;
    // Places only where the last plan's packets were large enough to use them.
    const uint32_t usable =
        arena->lastPacketSize == 0 || arena->lastPacketSize >= kMinPlannedPacket
            ? uint32_t(kSlotCount) * kMaxPlannedPerSlot
            : 0;
    const ReceivePlan plan = planner ? planner(usable) : ReceivePlan();
    if (plan.packetSize)
        arena->lastPacketSize = plan.packetSize;
    const size_t packet = plan.packetSize;
    const bool planning = plan.count > 0 && plan.first && packet >= kMinPlannedPacket &&
                          packet <= kSlotBytes;
    arena->packetSize = planning ? packet : 0;
    uint32_t perSlot = 0;
    if (planning) {
        if (arena->runPacketSize != packet) {
            arena->runPacketSize = packet;
            arena->run = arena->coalescing
                             ? uint32_t(std::min<size_t>(kMaxPlannedPerSlot, kMaxRunBytes / packet))
                             : 1;
        }
        perSlot = std::clamp<uint32_t>(arena->run, 1,
                                       uint32_t(std::min<size_t>(kMaxPlannedPerSlot,
                                                                 kSlotBytes / packet)));
    }
    const size_t payload = planning ? packet - kSegmentHeaderSize : 0;
    uint32_t next = 0;
    for (int k = 0; k < kSlotCount; ++k) {
        iovec *v = arena->vectors[k];
        int n = 0;
        uint32_t &planned = arena->planned[k];
        planned = 0;
        while (planning && planned < perSlot && next < plan.count) {
            v[n++] = iovec{arena->headers[k][planned], kSegmentHeaderSize};
            uint8_t *place = plan.first + size_t(next) * payload;
            arena->places[k][planned] = place;
            v[n++] = iovec{place, payload};
            ++planned;
            ++next;
        }
        v[n++] = iovec{arena->buffer(k), kSlotBytes};
        msghdr &message = arena->messages[k].msg_hdr;
        message.msg_name = &arena->senders[k];
        message.msg_namelen = sizeof(sockaddr_in);
        message.msg_iov = v;
        message.msg_iovlen = size_t(n);
        message.msg_control = arena->control[k];
        message.msg_controllen = kControlBytes;
        message.msg_flags = 0;
        arena->messages[k].msg_len = 0;
    }
    // A transfer whose layout is not known yet (its description may be the
    // next datagram) reads one message at a time, so that its segments are
    // planned from the read after the description on.
    const unsigned slots =
        planner && !planning && packet >= kMinPlannedPacket && plan.count == 0 ? 1 : kSlotCount;
    const int filled = recvmmsg(fd, arena->messages, slots, MSG_DONTWAIT, nullptr);
    if (filled <= 0)
        return 0;
    const SteadyClock::time_point now = SteadyClock::now();
    const std::chrono::nanoseconds ahead = realtimeAhead();
    for (int k = 0; k < filled; ++k) {
        msghdr &message = arena->messages[k].msg_hdr;
        arena->segmentSizes[k] = 0;
        arena->arrivals[k] = now;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO) {
                int size = 0;
                std::memcpy(&size, CMSG_DATA(c), sizeof size);
                if (size > 0)
                    arena->segmentSizes[k] = size_t(size);
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                uint32_t drops = 0;
                std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                // The socket's running total when this datagram was queued.
                dropsSeen = std::max<uint64_t>(dropsSeen, drops);
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                const auto real = std::chrono::seconds(stamp.tv_sec) +
                                  std::chrono::nanoseconds(stamp.tv_nsec);
                arena->arrivals[k] = SteadyClock::time_point(
                    std::chrono::duration_cast<SteadyClock::duration>(real - ahead));
            }
        }
    }
    if (!planning)
        return filled;
    // Later reads give a slot as many places as the longest run in this one.
    uint32_t longest = 0;
    for (int k = 0; k < filled; ++k) {
        if (arena->segmentSizes[k] == packet)
            longest = std::max<uint32_t>(longest, uint32_t(datagramsIn(k)));
    }
    if (longest)
        arena->run = longest;

    // Before anything is visited: which planned datagrams landed where they
    // belong. Every other one is copied out first, so that putting it in its
    // own place later cannot overwrite a datagram not yet looked at; what
    // stays in place can then only be overwritten by a copy of itself.
    uint32_t position = 0;  // plan position of slot k's first place
    for (int k = 0; k < filled; ++k) {
        const size_t length = arena->messages[k].msg_len;
        const uint32_t planned = arena->planned[k];
        arena->wholeGathered[k] = false;
        if (planned == 0)
            continue;
        if (stepOf(k) != packet) {
            // Datagrams of another size: their bytes are spread over the
            // places; put the whole message back together.
            arena->wholeGathered[k] = true;
            size_t offset = 0;
            for (uint32_t m = 0; m < planned && offset < length; ++m) {
                const size_t head = std::min(kSegmentHeaderSize, length - offset);
                std::memcpy(arena->gather(k) + offset, arena->headers[k][m], head);
                offset += head;
                const size_t body = std::min(payload, length - offset);
                std::memcpy(arena->gather(k) + offset, arena->places[k][m], body);
                offset += body;
            }
            if (offset < length)
                std::memcpy(arena->gather(k) + offset, arena->buffer(k), length - offset);
            for (uint32_t m = 0; m < planned; ++m)
                arena->landed[k][m] = false;
            amiss += planned;
            position += planned;
            continue;
        }
        for (uint32_t m = 0; m < planned; ++m) {
            arena->landed[k][m] = false;
            const size_t offset = size_t(m) * packet;
            if (offset >= length)
                continue;  // nothing came for this place
            const size_t size = std::min(packet, length - offset);
            SegmentHeader header;
            const bool expected =
                size == packet &&
                decodeSegmentHeader(arena->headers[k][m], kSegmentHeaderSize, &header) &&
                header.index == plan.firstIndex + position + m && header.length == payload;
            if (expected) {
                arena->landed[k][m] = true;
                ++inPlace;
                continue;
            }
            ++amiss;
            const size_t head = std::min(kSegmentHeaderSize, size);
            std::memcpy(arena->gather(k) + offset, arena->headers[k][m], head);
            std::memcpy(arena->gather(k) + offset + head, arena->places[k][m], size - head);
        }
        position += planned;
    }
    return filled;
}

size_t DatagramReceiver::stepOf(int k) const
{
    const size_t length = arena->messages[k].msg_len;
    const size_t step = arena->segmentSizes[k];
    return step == 0 || step >= length ? length : step;
}

size_t DatagramReceiver::datagramsIn(int k) const
{
    const size_t length = arena->messages[k].msg_len;
    const size_t step = stepOf(k);
    return length == 0 ? 1 : (length + step - 1) / step;
}

int DatagramReceiver::visitSlot(int k, SlotVisit visit, void *context) const
{
    ReceivedDatagram out;
    const sockaddr_in &from = arena->senders[k];
    if (arena->messages[k].msg_hdr.msg_namelen >= sizeof(sockaddr_in) &&
        from.sin_family == AF_INET) {
        out.sender = ntohl(from.sin_addr.s_addr);
        out.port = ntohs(from.sin_port);
    }
    out.arrival = arena->arrivals[k];
    const size_t length = arena->messages[k].msg_len;
    const size_t step = stepOf(k);
    const size_t count = datagramsIn(k);
    const size_t packet = arena->packetSize;
    const uint32_t planned = packet ? arena->planned[k] : 0;
    // Where the bytes of the message are, by part: all put back together,
    // or planned datagrams (in place or copied out) then the slot's buffer.
    const bool whole = planned > 0 && arena->wholeGathered[k];
    const size_t plannedBytes = whole ? 0 : size_t(planned) * packet;
    const uint8_t *gathered = arena->gathered.data() + size_t(k) * kSlotBytes;
    const uint8_t *rest = arena->buffers.data() + size_t(k) * kSlotBytes;
    for (size_t d = 0, offset = 0; d < count; ++d, offset += step) {
        out.size = std::min(step, length - std::min(offset, length));
        out.payload = nullptr;
        if (whole) {
            out.data = gathered + offset;
        } else if (offset < plannedBytes) {
            if (arena->landed[k][d]) {
                out.data = arena->headers[k][d];
                out.payload = arena->places[k][d];
            } else {
                out.data = gathered + offset;
            }
        } else {
            out.data = rest + (offset - plannedBytes);
        }
        visit(context, out);
    }
    return int(count);
}
