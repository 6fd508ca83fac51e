// Handing runs of segment datagrams, laid back to back in memory, to the
// server's UDP socket: a run of equal datagrams in one segmentation-offload
// send (UDP_SEGMENT) where the kernel offers it, otherwise sendmmsg; one
// datagram with sendmsg. A full send buffer is waited out (poll, bounded)
// instead of dropping data.
//
// Worker thread only; the socket stays the caller's.
#ifndef ARVEX_SERVER_BATCHSENDER_H
#define ARVEX_SERVER_BATCHSENDER_H

#include <QHostAddress>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

// Most UDP payload bytes one offloaded send may carry (an IPv4 datagram's
// limit before the kernel cuts it).
constexpr size_t kMaxOffloadBytes = 65507;
// Datagrams per send: the kernel's limit for one offloaded send
// (UDP_MAX_SEGMENTS), and the sendmmsg batch.
constexpr uint32_t kMaxRunDatagrams = 64;

class BatchSender
{
public:
    enum class Offload { Auto, Off };

    struct Counters {
        uint64_t offloadSends = 0;  // UDP_SEGMENT sends
        uint64_t batchCalls = 0;    // sendmmsg calls
        uint64_t singleSends = 0;   // sendmsg of one datagram
        uint64_t waits = 0;         // times the send buffer was full
        uint64_t dropped = 0;       // datagrams given up after the wait bound
    };

    // Off sends without segmentation offload (tests force the fallback).
    void setOffload(Offload mode);
    // The socket to send on; a new one forgets what the last one refused.
    void attach(int socketDescriptor);
    // Where the next runs go: IPv4 only, false otherwise.
    bool setDestination(const QHostAddress &address, quint16 port);

    // Datagrams of `packetSize` bytes that one call hands the kernel.
    uint32_t runCapacity(size_t packetSize) const;
    // True while offloaded sends of `packetSize` are used.
    bool offloadUsable(size_t packetSize) const;

    // Sends `count` datagrams of `packetSize` bytes laid back to back at
    // `datagrams`, in order. Returns how many the kernel took; the rest were
    // dropped after the wait bound or refused.
    uint32_t sendRun(const uint8_t *datagrams, size_t packetSize, uint32_t count);

    const Counters &counters() const { return tally; }

private:
    enum class Attempt { Sent, Refused, Failed };

    Attempt sendOffloaded(const uint8_t *datagrams, size_t packetSize, uint32_t count);
    uint32_t sendEach(const uint8_t *datagrams, size_t packetSize, uint32_t count);
    // After EAGAIN/ENOBUFS: waits until the socket may take data; false once
    // the bound has passed.
    bool waitForRoom(int error, int64_t deadlineNs);

    int fd = -1;
    sockaddr_in destination = {};
    bool destinationValid = false;
    Offload offload = Offload::Auto;
    // The smallest packet size whose offloaded send the kernel refused (a
    // route without checksum offload, or segments above its MTU).
    size_t offloadRefusedFrom = SIZE_MAX;
    mmsghdr messages[kMaxRunDatagrams] = {};
    iovec vectors[kMaxRunDatagrams] = {};
    Counters tally;
};

#endif
