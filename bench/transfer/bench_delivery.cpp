// Benchmark: uncompressed 1280 x 1024 images at 8 and 16 bits, delay 0, in
// datagrams of 1488 and 8988 bytes: the raw loopback limit (best of sendto,
// sendmmsg and UDP_SEGMENT, receiver with and without UDP_GRO) beside what
// a client of an in-process server receives complete and correct, round by
// round in one run. Both are timed per image from the kernel's receipt of
// the description (the server's CommandReply) to the last byte; the client's
// whole read (request to last byte, the simulated camera's read-out
// included) is printed beside. Not a test.
//
//   bench_delivery [ROUNDS] [IMAGES] [--server-only] [--no-verify] [--bits B] [--packet P]
//     defaults 5 rounds, 40 images a round; --server-only skips the raw
//     senders (for profiling the server and client alone); --bits and
//     --packet keep one case; --no-verify counts every read as correct
//     (for profiling the receive path without the pattern check)
#include "benchrig.h"
#include "kernelcounters.h"
#include "rawloopback.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Ports of this benchmark: the raw receivers 36000.., the server 36100..
constexpr quint16 kRawPort = 36000;
constexpr quint16 kServerPort = 36100;
constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr double kTarget = 0.9;

struct Variant {
    RawSender sender;
    bool coalesce;
};

constexpr Variant kVariants[] = {
    {RawSender::SendTo, false},
    {RawSender::SendMmsg, false},
    {RawSender::Segmentation, false},
    {RawSender::Segmentation, true},
};
constexpr int kVariantCount = int(sizeof kVariants / sizeof kVariants[0]);

double gbps(double bytesPerSecond) { return bytesPerSecond / 1e9; }

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int images = argc > 2 ? std::max(1, std::atoi(argv[2])) : 40;
    bool serverOnly = false;
    bool verify = true;
    uint32_t onlyBits = 0, onlyPacket = 0;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--server-only") == 0)
            serverOnly = true;
        else if (std::strcmp(argv[i], "--no-verify") == 0)
            verify = false;
        else if (std::strcmp(argv[i], "--bits") == 0 && i + 1 < argc)
            onlyBits = uint32_t(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--packet") == 0 && i + 1 < argc)
            onlyPacket = uint32_t(std::atoi(argv[++i]));
    }

    ServerRig rig;
    if (!rig.start(kServerPort, 0, 0)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(rig.lastError().message));
        return 1;
    }
    std::printf("bench_delivery: %ux%u, delay 0, %d rounds of %d images, %s\n", kWidth, kHeight,
                rounds, images, loadText().c_str());
    std::printf("client receive buffer %d bytes%s, UDP_GRO %s\n",
                rig.session().receiveBufferBytes(),
                rig.session().receiveBufferCut() ? " (cut by the system limit)" : "",
                rig.session().coalescing() ? "on" : "off");

    bool allMet = true;
    for (uint32_t bits : {8u, 16u}) {
        if (onlyBits && bits != onlyBits)
            continue;
        if (!rig.setFormat(kWidth, kHeight, bits)) {
            std::fprintf(stderr, "format refused: %s\n", qPrintable(rig.lastError().message));
            return 1;
        }
        const uint32_t imageBytes = kWidth * kHeight * (bits <= 8 ? 1 : 2);
        for (uint32_t packet : {1488u, 8988u}) {
            if (onlyPacket && packet != onlyPacket)
                continue;
            // Per image, so that both sides see the same spread of
            // interference from the rest of the machine.
            std::vector<double> variantRates[kVariantCount];
            std::vector<double> delivered, whole, clientCpu, serverCpu;
            uint64_t rawLost = 0, rawDrops = 0;
            int reads = 0, correct = 0, failed = 0;
            const TransferCounters countersBefore = rig.session().counters();
            KernelCounters serverKernel;
            for (int r = 0; r < rounds; ++r) {
                for (int v = 0; v < kVariantCount && !serverOnly; ++v) {
                    RawRun run;
                    run.sender = kVariants[v].sender;
                    run.coalesce = kVariants[v].coalesce;
                    run.imageBytes = imageBytes;
                    run.packetSize = packet;
                    run.images = images;
                    run.maxSeconds = 0.3;
                    run.firstPort = kRawPort;
                    const RawResult result = measureRawLoopback(run);
                    variantRates[v].insert(variantRates[v].end(), result.imageRates.begin(),
                                           result.imageRates.end());
                    rawLost += result.lost;
                    rawDrops += result.socketDrops;
                }
                const KernelCounters before = KernelCounters::read();
                for (int i = 0; i < images; ++i) {
                    auto read = rig.read(packet, verify);
                    if (read && !verify)
                        read->correct = true;
                    ++reads;
                    if (!read) {
                        ++failed;
                        delivered.push_back(0);
                        whole.push_back(0);
                        continue;
                    }
                    correct += read->correct ? 1 : 0;
                    clientCpu.push_back(read->clientCpuSeconds * 1e6);
                    serverCpu.push_back(read->serverCpuSeconds * 1e6);
                    delivered.push_back(read->correct ? imageBytes / read->deliverySeconds : 0);
                    whole.push_back(read->correct ? imageBytes / read->wholeSeconds : 0);
                }
                const KernelCounters d = KernelCounters::read().since(before);
                serverKernel.receiveBufferErrors += d.receiveBufferErrors;
                serverKernel.sendBufferErrors += d.sendBufferErrors;
                serverKernel.loopbackDrops += d.loopbackDrops;
            }
            const TransferCounters &c = rig.session().counters();
            // The raw limit: the sender (and receiver mode) with the best median.
            Summary raw;
            int bestVariant = 0;
            for (int v = 0; v < kVariantCount; ++v) {
                const Summary s = summarizeHigh(variantRates[v]);
                if (s.median > raw.median) {
                    raw = s;
                    bestVariant = v;
                }
            }
            const Summary server = summarizeHigh(delivered);
            const Summary reading = summarizeHigh(whole);
            const double ratio = raw.median > 0 ? server.median / raw.median : 0;
            const double bestRatio = raw.best > 0 ? server.best / raw.best : 0;
            const bool met = ratio >= kTarget && failed == 0 && correct == reads;
            allMet = allMet && met;

            std::printf("\n%u bits, %u-byte datagrams, %u bytes an image (GB/s per image: "
                        "best, median)\n",
                        bits, packet, imageBytes);
            for (int v = 0; v < kVariantCount && !serverOnly; ++v) {
                const Summary s = summarizeHigh(variantRates[v]);
                std::printf("  raw %-11s receiver GRO %-3s  best %6.2f  median %6.2f\n",
                            rawSenderName(kVariants[v].sender), kVariants[v].coalesce ? "on" : "off",
                            gbps(s.best), gbps(s.median));
            }
            std::printf("  raw limit (%s, GRO %s)  best %6.2f  median %6.2f"
                        "  (lost %llu datagrams, socket drops %llu)\n",
                        rawSenderName(kVariants[bestVariant].sender),
                        kVariants[bestVariant].coalesce ? "on" : "off", gbps(raw.best),
                        gbps(raw.median), static_cast<unsigned long long>(rawLost),
                        static_cast<unsigned long long>(rawDrops));
            std::printf("  server to client, delivery      best %6.2f  median %6.2f"
                        "  (description received to last byte)\n",
                        gbps(server.best), gbps(server.median));
            std::printf("  server to client, whole read    best %6.2f  median %6.2f"
                        "  (request to last byte, camera read-out included)\n",
                        gbps(reading.best), gbps(reading.median));
            std::printf("  CPU per read (us, median): client %.0f, server %.0f (camera read-out, "
                        "layout and sends)\n",
                        summarizeLow(clientCpu).median, summarizeLow(serverCpu).median);
            std::printf("  reads %d, correct %d, failed %d; client: read in place %.0f %%, "
                        "missing %llu, resend requests %llu, receive drops %llu; kernel during "
                        "reads: %s\n",
                        reads, correct, failed,
                        100.0 * double(c.segmentsInPlace - countersBefore.segmentsInPlace) /
                            double(std::max<uint64_t>(1, c.segmentsReceived -
                                                             countersBefore.segmentsReceived)),
                        static_cast<unsigned long long>(c.segmentsMissing -
                                                        countersBefore.segmentsMissing),
                        static_cast<unsigned long long>(c.resendRequests -
                                                        countersBefore.resendRequests),
                        static_cast<unsigned long long>(c.receiveDrops - countersBefore.receiveDrops),
                        serverKernel.text().c_str());
            std::printf("  delivery / raw limit: median %.2f, best %.2f  -> target %.1f %s\n",
                        ratio, bestRatio, kTarget, met ? "met" : "NOT met");
        }
    }
    std::printf("\n%s\n", allMet ? "all delivery targets met" : "some delivery targets not met");
    return 0;
}
