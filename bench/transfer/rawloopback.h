// The raw loopback limit: one image's worth of segment datagrams, laid back
// to back in a prepared buffer, sent to a receiver on 127.0.0.1 that only
// counts them, image after image, with plain sendto, sendmmsg or
// segmentation offload (UDP_SEGMENT); the receiver reads with recvmmsg, with
// or without UDP_GRO. Each image is preceded by a 176-byte datagram like the
// server's description, and timed as the server's deliveries are: from the
// kernel's receipt of that datagram to the receiver holding the last one.
#ifndef ARVEX_BENCH_TRANSFER_RAWLOOPBACK_H
#define ARVEX_BENCH_TRANSFER_RAWLOOPBACK_H

#include <cstdint>
#include <vector>

enum class RawSender { SendTo, SendMmsg, Segmentation };

const char *rawSenderName(RawSender sender);

struct RawRun {
    RawSender sender = RawSender::Segmentation;
    bool coalesce = true;       // the receiver asks for UDP_GRO
    uint32_t imageBytes = 0;
    uint32_t packetSize = 0;    // header included
    int images = 50;
    int warmUp = 5;             // images sent first and not counted (fresh sockets, pages)
    double maxSeconds = 1.0;    // stops earlier when the images take longer
    uint16_t firstPort = 36000; // the receiver binds the first free one from here
};

struct RawResult {
    bool ok = false;
    int images = 0;             // images sent
    int complete = 0;           // images whose every datagram arrived
    uint64_t lost = 0;          // datagrams that never arrived
    uint64_t socketDrops = 0;   // the receiver socket's own count (SO_RXQ_OVFL)
    double seconds = 0;         // sum over images: description received to last datagram
    uint64_t bytes = 0;         // image bytes of complete images
    // Image bytes per second of every image, 0 for one with losses.
    std::vector<double> imageRates;
    double bytesPerSecond() const { return seconds > 0 ? double(bytes) / seconds : 0; }
};

RawResult measureRawLoopback(const RawRun &run);

#endif
