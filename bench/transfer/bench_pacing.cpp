// Benchmark: paced transfers. At a delay of d microseconds the spacing of
// segments should be the send time plus d. Side by side:
//   - the server's send path measured directly: the datagrams of an image
//     laid out as the server lays them out, each handed over with the
//     server's BatchSender and followed by its paceDelay, in this process,
//     where every send's start and end are known: error = spacing - send
//     time - d for every datagram;
//   - the server end to end: an in-process server sends 1280 x 1024 8-bit
//     images in 1488-byte datagrams at delay d to a socket that notes the
//     kernel's arrival time of every segment (SO_TIMESTAMPNS; on loopback
//     that moment lies inside the server's send call). Its send time cannot
//     be seen from outside, so it is checked through the delay alone: the
//     mean spacing at d = 10 less that at d = 4 must be 6; a send time
//     measured here for one datagram is printed beside.
// Not a test.
//
//   bench_pacing [IMAGES]     (default 4 images per delay)
#include "benchrig.h"
#include "batchsender.h"
#include "pacing.h"
#include "transfersegment.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Ports of this benchmark: the server 36200 and up.
constexpr quint16 kServerPort = 36200;
constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr uint32_t kPacket = 1488;
constexpr int kReceiveBuffer = 64 * 1024 * 1024;
constexpr double kTargetUs = 1.0;

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// A UDP socket on 127.0.0.1 that stamps every datagram on arrival.
struct StampingReceiver {
    int fd = -1;
    sockaddr_in address{};

    bool open()
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer);
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
        return true;
    }
    ~StampingReceiver()
    {
        if (fd >= 0)
            close(fd);
    }
    quint16 port() const { return ntohs(address.sin_port); }

    // Arrival times (ns, CLOCK_REALTIME) of up to `count` datagrams, each
    // within a bounded wait; `indices` gets their segment indices.
    std::vector<int64_t> take(uint32_t count, std::vector<uint32_t> *indices)
    {
        std::vector<int64_t> stamps;
        std::vector<uint8_t> buffer(65536);
        alignas(cmsghdr) char control[128];
        while (stamps.size() < count) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 2000) <= 0)
                break;
            iovec vector{buffer.data(), buffer.size()};
            msghdr message{};
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
            if (n < 0)
                continue;
            timespec stamp{};
            for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            }
            SegmentHeader header;
            if (!decodeSegmentHeader(buffer.data(), size_t(n), &header))
                continue;
            stamps.push_back(int64_t(stamp.tv_sec) * 1000000000 + stamp.tv_nsec);
            if (indices)
                indices->push_back(header.index);
        }
        return stamps;
    }
};

struct Spacing {
    std::vector<double> us;
    void addStamps(const std::vector<int64_t> &stamps)
    {
        for (size_t i = 1; i < stamps.size(); ++i)
            us.push_back(double(stamps[i] - stamps[i - 1]) / 1000.0);
    }
};

// Runs `sending` on a thread of its own while this thread takes `count`
// datagrams, as the client takes the server's: the receiver's wake-ups then
// weigh on the sends as they do for the server.
template <typename Sending>
void sendWhileReceiving(StampingReceiver &receiver, uint32_t count, Sending &&sending)
{
    std::thread thread(std::forward<Sending>(sending));
    receiver.take(count, nullptr);
    thread.join();
}

// The server's send path alone: one datagram a call through BatchSender
// from an image laid out as the server lays it out, then paceDelay from the
// hand-over. Returns every spacing's error: spacing - send time - d, and the
// send times.
std::vector<double> pacedPathErrors(StampingReceiver &receiver, uint32_t delayUs,
                                    std::vector<double> *sendTimes)
{
    const SegmentLayout layout = segmentLayout(kWidth * kHeight, kPacket);
    std::vector<uint8_t> image(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 3);
    std::vector<uint8_t> stream(segmentStreamBytes(layout));
    buildSegmentStream(stream.data(), image.data(), layout);
    const int count = int(layout.count);
    std::vector<Clock::time_point> before(static_cast<size_t>(count));
    std::vector<Clock::time_point> after(static_cast<size_t>(count));
    sendWhileReceiving(receiver, uint32_t(count), [&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        BatchSender sender;
        sender.attach(fd);
        sender.setDestination(QHostAddress(QHostAddress::LocalHost), receiver.port());
        for (int i = 0; i < count; ++i) {
            before[size_t(i)] = Clock::now();
            sender.sendRun(stream.data() + size_t(i) * kPacket, kPacket, 1);
            after[size_t(i)] = Clock::now();
            paceDelay(after[size_t(i)], delayUs);
        }
        close(fd);
    });
    std::vector<double> errors;
    for (int i = 1; i < count; ++i) {
        const double spacing = microseconds(after[size_t(i)] - after[size_t(i - 1)]);
        const double send = microseconds(after[size_t(i)] - before[size_t(i)]);
        errors.push_back(spacing - send - double(delayUs));
        if (sendTimes)
            sendTimes->push_back(send);
    }
    return errors;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int images = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;

    ServerRig rig;
    if (!rig.start(kServerPort, 0, 0) || !rig.setFormat(kWidth, kHeight, 8)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(rig.lastError().message));
        return 1;
    }
    StampingReceiver receiver;
    if (!receiver.open()) {
        std::fprintf(stderr, "no receiving socket\n");
        return 1;
    }
    const SegmentLayout layout = segmentLayout(kWidth * kHeight, kPacket);
    std::printf("bench_pacing: %ux%u 8-bit images in %u-byte datagrams (%u a image), %d images "
                "a delay, %s\n",
                kWidth, kHeight, kPacket, layout.count, images, loadText().c_str());
    std::printf("spacing in microseconds between the kernel's arrival stamps of segments\n");

    bool allMet = true;
    double meanAt[21] = {};
    for (uint32_t delay : {0u, 4u, 10u, 20u}) {
        rig.setTransferOptions(int(delay), 0);
        Spacing server;
        uint32_t missing = 0;
        for (int n = 0; n < images; ++n) {
            const uint32_t args[] = {0, 0, receiver.port(), 0, kPacket};
            uint8_t request[36];
            const uint16_t id = rig.session().nextRequestId();
            const size_t length = buildCommandRequest(request, id, CMD_READ_IMAGE, args, 5);
            if (!rig.session().send(Channel::Camera, request, length) ||
                !rig.session().waitForReply(Channel::Camera, id, PKT_COMMAND)) {
                std::fprintf(stderr, "read failed: %s\n",
                             qPrintable(rig.session().lastError().message));
                return 1;
            }
            std::vector<uint32_t> indices;
            const std::vector<int64_t> stamps = receiver.take(layout.count, &indices);
            missing += layout.count - uint32_t(stamps.size());
            server.addStamps(stamps);
        }
        meanAt[delay] = mean(server.us);
        std::vector<double> sendTimes;
        std::vector<double> path;
        for (int n = 0; n < images; ++n) {
            const std::vector<double> errors = pacedPathErrors(receiver, delay, &sendTimes);
            path.insert(path.end(), errors.begin(), errors.end());
        }
        const double pathError = mean(path);
        const bool judged = delay == 4 || delay == 10;
        const bool met = !judged || (std::abs(pathError) < kTargetUs && missing == 0);
        allMet = allMet && met;
        std::printf("\ndelay %u us%s\n", delay, delay == 0 ? " (runs of datagrams in one call)" : "");
        std::printf("  server end to end: spacing mean %7.2f  p50 %7.2f  p99 %7.2f  max %8.2f  "
                    "(%zu spacings, %u segments missing)\n",
                    meanAt[delay], percentile(server.us, 0.5), percentile(server.us, 0.99),
                    percentile(server.us, 1.0), server.us.size(), missing);
        if (delay != 0) {
            std::printf("  server's send path: send time mean %.2f p50 %.2f; spacing - send time - "
                        "%u: mean %+.3f  p50 %+.3f  p99 %+.3f\n",
                        mean(sendTimes), percentile(sendTimes, 0.5), delay, pathError,
                        percentile(path, 0.5), percentile(path, 0.99));
            if (judged)
                std::printf("  target |mean error| < %.0f us: %s\n", kTargetUs,
                            met ? "met" : "NOT met");
        }
    }
    const double step = meanAt[10] - meanAt[4] - 6.0;
    const bool stepMet = std::abs(step) < kTargetUs;
    allMet = allMet && stepMet;
    std::printf("\nserver end to end: mean spacing at 10 us less that at 4 us = %.2f (6 "
                "expected): error %+.2f -> %s\n",
                meanAt[10] - meanAt[4], step, stepMet ? "met" : "NOT met");
    std::printf("\n%s\n", allMet ? "pacing targets met" : "some pacing targets not met");
    return 0;
}
