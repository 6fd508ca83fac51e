// Batched receiving on a UDP socket: recvmmsg into buffers allocated once,
// with UDP_GRO, so that a run of equal datagrams the kernel kept together
// comes up in one buffer and is split here by its segment size; the kernel's
// count of datagrams it dropped at the socket (SO_RXQ_OVFL) and the moment
// each datagram reached it (SO_TIMESTAMPNS) on the side.
#ifndef ARVEX_CLIENT_DATAGRAMRECEIVER_H
#define ARVEX_CLIENT_DATAGRAMRECEIVER_H

#include <QtGlobal>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

class DatagramReceiver
{
public:
    DatagramReceiver();
    ~DatagramReceiver();
    DatagramReceiver(const DatagramReceiver &) = delete;
    DatagramReceiver &operator=(const DatagramReceiver &) = delete;

    // Takes the (non-blocking) socket to read; asks for coalesced runs when
    // `coalesce` is set. Returns whether the kernel agreed to coalesce.
    bool attach(int socketDescriptor, bool coalesce);

    // Reads what is pending, without waiting, and calls
    // visit(data, size, senderIPv4, senderPort) for every datagram, in
    // arrival order. Returns the number of datagrams visited. A flood ends
    // the call after a bounded number of reads, so the caller gets to look
    // at what it has.
    template <typename Visit>
    int drain(Visit &&visit);

    // Datagrams the kernel dropped at this socket (its receive buffer was
    // full), as far as the datagrams read so far tell: the count comes with
    // the datagrams queued after a drop.
    uint64_t kernelDrops() const { return dropsSeen; }

    // During visit: when the kernel received the datagram being visited, on
    // the steady clock (now() when the kernel gave no time).
    std::chrono::steady_clock::time_point arrival() const { return arrivedAt; }

private:
    static constexpr int kMaxReadsPerDrain = 256;
    struct Arena;
    // Fills the arena; returns how many hold a buffer (0: nothing pending).
    int receive();
    // Datagram size of slot k's run (its whole length when not coalesced).
    size_t segmentSize(int k) const;
    const uint8_t *slotData(int k, size_t *length, quint32 *sender, quint16 *port);

    int fd = -1;
    std::unique_ptr<Arena> arena;
    uint64_t dropsSeen = 0;
    std::chrono::steady_clock::time_point arrivedAt;
};

template <typename Visit>
int DatagramReceiver::drain(Visit &&visit)
{
    int visited = 0;
    for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
        const int filled = receive();
        if (filled <= 0)
            break;
        for (int k = 0; k < filled; ++k) {
            size_t length = 0;
            quint32 sender = 0;
            quint16 port = 0;
            const uint8_t *data = slotData(k, &length, &sender, &port);
            ++visited;
            if (length == 0) {
                visit(data, size_t(0), sender, port);
                continue;
            }
            // A coalesced run: equal datagrams back to back, the last one
            // possibly shorter.
            const size_t step = segmentSize(k);
            for (size_t offset = 0; offset < length; offset += step) {
                if (offset)
                    ++visited;
                visit(data + offset, std::min(step, length - offset), sender, port);
            }
        }
    }
    return visited;
}

#endif
