// recvmmsg into fixed arena, coalesced runs and the socket's drop count.
#include "datagramreceiver.h"

#include <netinet/udp.h>
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
    std::vector<uint8_t> buffers = std::vector<uint8_t>(size_t(kSlotCount) * kSlotBytes);
    mmsghdr messages[kSlotCount] = {};
    iovec vectors[kSlotCount] = {};
    sockaddr_in senders[kSlotCount] = {};
    alignas(cmsghdr) uint8_t control[kSlotCount][kControlBytes] = {};
    size_t segmentSizes[kSlotCount] = {};
    SteadyClock::time_point arrivals[kSlotCount] = {};
};

DatagramReceiver::DatagramReceiver() : arena(std::make_unique<Arena>())
{
    for (int k = 0; k < kSlotCount; ++k)
        arena->vectors[k] = iovec{arena->buffers.data() + size_t(k) * kSlotBytes, kSlotBytes};
}

DatagramReceiver::~DatagramReceiver() = default;

bool DatagramReceiver::attach(int socketDescriptor, bool coalesce)
{
    fd = socketDescriptor;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    dropsSeen = 0;
    if (!coalesce)
        return false;
    return setsockopt(fd, SOL_UDP, UDP_GRO, &one, sizeof one) == 0;
}

int DatagramReceiver::receive()
{
    if (fd < 0)
        return 0;
    for (int k = 0; k < kSlotCount; ++k) {
        msghdr &message = arena->messages[k].msg_hdr;
        message.msg_name = &arena->senders[k];
        message.msg_namelen = sizeof(sockaddr_in);
        message.msg_iov = &arena->vectors[k];
        message.msg_iovlen = 1;
        message.msg_control = arena->control[k];
        message.msg_controllen = kControlBytes;
        message.msg_flags = 0;
        arena->messages[k].msg_len = 0;
    }
    const int filled = recvmmsg(fd, arena->messages, kSlotCount, MSG_DONTWAIT, nullptr);
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
    return filled;
}

size_t DatagramReceiver::segmentSize(int k) const
{
    const size_t length = arena->messages[k].msg_len;
    const size_t size = arena->segmentSizes[k];
    return size == 0 || size > length ? length : size;
}

const uint8_t *DatagramReceiver::slotData(int k, size_t *length, quint32 *sender,
                                          quint16 *port)
{
    arrivedAt = arena->arrivals[k];
    const msghdr &message = arena->messages[k].msg_hdr;
    const sockaddr_in &from = arena->senders[k];
    if (message.msg_namelen >= sizeof(sockaddr_in) && from.sin_family == AF_INET) {
        *sender = ntohl(from.sin_addr.s_addr);
        *port = ntohs(from.sin_port);
    } else {
        *sender = 0;
        *port = 0;
    }
    *length = arena->messages[k].msg_len;
    return static_cast<const uint8_t *>(arena->vectors[k].iov_base);
}
