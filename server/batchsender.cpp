// Runs of segment datagrams through sendmsg with UDP_SEGMENT, sendmmsg or sendmsg.
#include "batchsender.h"

#include <netinet/udp.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

namespace {

// How long one run may wait for room in the send buffer before its rest
// is given up (the client's resend covers it).
constexpr int64_t kWaitBoundNs = 200'000'000;
constexpr int kPollSliceMs = 10;

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isBackPressure(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == EINTR;
}

// What a kernel or route without segmentation offload answers.
bool isOffloadRefusal(int error)
{
    return error == EINVAL || error == EIO || error == EOPNOTSUPP || error == ENOPROTOOPT ||
           error == EMSGSIZE;
}

}  // namespace

void BatchSender::setOffload(Offload mode)
{
    offload = mode;
}

void BatchSender::attach(int socketDescriptor)
{
    if (socketDescriptor == fd)
        return;
    fd = socketDescriptor;
    offloadRefusedFrom = SIZE_MAX;
}

bool BatchSender::setDestination(const QHostAddress &address, quint16 port)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    destinationValid = ok;
    destination = sockaddr_in{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = htonl(v4);
    return ok;
}

bool BatchSender::offloadUsable(size_t packetSize) const
{
    return offload == Offload::Auto && packetSize > 0 && packetSize < offloadRefusedFrom &&
           kMaxOffloadBytes / packetSize >= 2;
}

uint32_t BatchSender::runCapacity(size_t packetSize) const
{
    if (packetSize == 0)
        return 1;
    if (offloadUsable(packetSize))
        return uint32_t(std::min<size_t>(kMaxRunDatagrams, kMaxOffloadBytes / packetSize));
    return kMaxRunDatagrams;
}

bool BatchSender::waitForRoom(int error, int64_t deadlineNs)
{
    ++tally.waits;
    const int64_t left = deadlineNs - nowNs();
    if (left <= 0)
        return false;
    if (error == EINTR)
        return true;
    if (error == ENOBUFS) {
        // The socket may look writable while the kernel lacks buffers: pause.
        poll(nullptr, 0, 1);
        return true;
    }
    pollfd pfd{fd, POLLOUT, 0};
    poll(&pfd, 1, int(std::min<int64_t>(kPollSliceMs, left / 1'000'000 + 1)));
    return true;
}

BatchSender::Attempt BatchSender::sendOffloaded(const uint8_t *datagrams, size_t packetSize,
                                                uint32_t count)
{
    iovec run{const_cast<uint8_t *>(datagrams), packetSize * count};
    // The segment size goes with this send only: replies on the same socket
    // must not be cut.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint16_t))] = {};
    msghdr message = {};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &run;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_UDP;
    header->cmsg_type = UDP_SEGMENT;
    header->cmsg_len = CMSG_LEN(sizeof(uint16_t));
    const uint16_t segmentSize = uint16_t(packetSize);
    std::memcpy(CMSG_DATA(header), &segmentSize, sizeof segmentSize);

    const int64_t deadline = nowNs() + kWaitBoundNs;
    for (;;) {
        if (sendmsg(fd, &message, 0) >= 0) {
            ++tally.offloadSends;
            return Attempt::Sent;
        }
        const int error = errno;
        if (isOffloadRefusal(error)) {
            offloadRefusedFrom = std::min(offloadRefusedFrom, packetSize);
            return Attempt::Refused;
        }
        if (!isBackPressure(error) || !waitForRoom(error, deadline))
            return Attempt::Failed;
    }
}

uint32_t BatchSender::sendEach(const uint8_t *datagrams, size_t packetSize, uint32_t count)
{
    uint32_t done = 0;      // sent or given up
    uint32_t accepted = 0;  // sent
    const int64_t deadline = nowNs() + kWaitBoundNs;
    while (done < count) {
        const uint32_t n = std::min(kMaxRunDatagrams, count - done);
        for (uint32_t k = 0; k < n; ++k) {
            vectors[k] = iovec{const_cast<uint8_t *>(datagrams) + (done + k) * packetSize,
                               packetSize};
            msghdr &message = messages[k].msg_hdr;
            message = msghdr{};
            message.msg_name = &destination;
            message.msg_namelen = sizeof destination;
            message.msg_iov = &vectors[k];
            message.msg_iovlen = 1;
            messages[k].msg_len = 0;
        }
        int taken = 0;
        if (n == 1) {
            taken = sendmsg(fd, &messages[0].msg_hdr, 0) >= 0 ? 1 : -1;
            if (taken == 1)
                ++tally.singleSends;
        } else {
            taken = sendmmsg(fd, messages, n, 0);
            if (taken > 0)
                ++tally.batchCalls;
        }
        if (taken > 0) {
            done += uint32_t(taken);
            accepted += uint32_t(taken);
            continue;
        }
        const int error = errno;
        if (isBackPressure(error) && waitForRoom(error, deadline))
            continue;
        // A datagram the kernel will not take (or the wait bound passed):
        // skip it, so that one bad datagram cannot hold the rest.
        ++tally.dropped;
        ++done;
    }
    return accepted;
}

uint32_t BatchSender::sendRun(const uint8_t *datagrams, size_t packetSize, uint32_t count)
{
    if (count == 0)
        return 0;
    if (fd < 0 || !destinationValid || packetSize == 0) {
        tally.dropped += count;
        return 0;
    }
    uint32_t accepted = 0;
    uint32_t done = 0;
    while (done < count && count - done >= 2 && offloadUsable(packetSize)) {
        const uint32_t n = std::min(runCapacity(packetSize), count - done);
        const Attempt attempt = sendOffloaded(datagrams + done * packetSize, packetSize, n);
        if (attempt == Attempt::Refused)
            break;  // this and what follows without offload, from now on too
        if (attempt == Attempt::Sent)
            accepted += n;
        else
            tally.dropped += n;
        done += n;
    }
    if (done < count)
        accepted += sendEach(datagrams + done * packetSize, packetSize, count - done);
    return accepted;
}
