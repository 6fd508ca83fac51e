// Batched receiving on a UDP socket: recvmmsg into buffers allocated once,
// with UDP_GRO, so that a run of equal datagrams the kernel kept together
// comes up in one read and is split here by its segment size; the kernel's
// count of datagrams it dropped at the socket (SO_RXQ_OVFL) and the moment
// each datagram reached it (SO_TIMESTAMPNS) on the side.
//
// While a transfer is under way its reassembly can name where the payloads
// of the segments it expects next belong (a ReceivePlan): those are then
// read straight into place, and only what came otherwise is copied.
#ifndef ARVEX_CLIENT_DATAGRAMRECEIVER_H
#define ARVEX_CLIENT_DATAGRAMRECEIVER_H

#include <QtGlobal>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// One datagram as read.
struct ReceivedDatagram {
    // The datagram's bytes; when `payload` is set, only its 16-byte segment
    // header, and the rest lies at `payload`.
    const uint8_t *data = nullptr;
    size_t size = 0;  // bytes of the whole datagram
    // A segment read straight into the place its plan named for it.
    const uint8_t *payload = nullptr;
    quint32 sender = 0;  // IPv4, 0 for another family
    quint16 port = 0;
    // When the kernel received it, on the steady clock.
    std::chrono::steady_clock::time_point arrival;
};

// Where the payloads of the next segments belong: segments firstIndex,
// firstIndex + 1, ... (count of them) of datagrams of packetSize bytes, the
// payload of firstIndex + i at first + i x (packetSize - 16). Every place
// must be free to be written: what arrives otherwise may land there before
// it is recognised and moved. A plan with a packet size and no places says
// that such segments are about to come: reads then take one message at a
// time until places are named.
struct ReceivePlan {
    uint32_t packetSize = 0;
    uint32_t firstIndex = 0;
    uint32_t count = 0;
    uint8_t *first = nullptr;
};

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

    // Asked before every read while set (null: no plan), for at most
    // `maxPlaces` places: 0 when the packet size alone is wanted.
    using Planner = std::function<ReceivePlan(uint32_t maxPlaces)>;
    void setPlanner(Planner planner);

    // Reads what is pending, without waiting, and calls visit(datagram) for
    // every datagram, in arrival order. Returns the number visited. A flood
    // ends the call after a bounded number of reads, so that the caller
    // gets to look at what it has.
    template <typename Visit>
    int drain(Visit &&visit);

    // Datagrams the kernel dropped at this socket (its receive buffer was
    // full), as far as the datagrams read so far tell: the count comes with
    // the datagrams queued after a drop.
    uint64_t kernelDrops() const { return dropsSeen; }
    // Segments read straight into place so far, and those that a plan
    // expected elsewhere and were moved.
    uint64_t placedInPlace() const { return inPlace; }
    uint64_t placedAmiss() const { return amiss; }

private:
    static constexpr int kMaxReadsPerDrain = 256;
    struct Arena;

    // One read; returns how many slots hold a message (0: nothing pending).
    int receive();
    // Bytes per datagram of slot k's message (its length when not coalesced),
    // and the datagrams in it.
    size_t stepOf(int k) const;
    size_t datagramsIn(int k) const;
    // Calls visit(context, datagram) for every datagram of slot k; returns
    // how many.
    using SlotVisit = void (*)(void *context, const ReceivedDatagram &datagram);
    int visitSlot(int k, SlotVisit visit, void *context) const;

    int fd = -1;
    std::unique_ptr<Arena> arena;
    Planner planner;
    uint64_t dropsSeen = 0;
    uint64_t inPlace = 0;
    uint64_t amiss = 0;
};

template <typename Visit>
int DatagramReceiver::drain(Visit &&visit)
{
    int visited = 0;
    for (int reads = 0; reads < kMaxReadsPerDrain; ++reads) {
        const int filled = receive();
        if (filled <= 0)
            break;
        for (int k = 0; k < filled; ++k)
            visited += visitSlot(
                k,
                [](void *context, const ReceivedDatagram &datagram) {
                    (*static_cast<Visit *>(context))(datagram);
                },
                &visit);
    }
    return visited;
}

#endif
