// Raw loopback senders and a counting receiver, in lockstep image by image.
#include "rawloopback.h"

#include "transfersegment.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReceiveBuffer = 32 * 1024 * 1024;  // what the client library asks for
constexpr int kQuietMs = 100;                     // an image with losses ends after this
constexpr uint32_t kOffloadBytes = 65507;
constexpr uint32_t kMaxSegmentsPerSend = 64;

struct Lockstep {
    std::mutex mutex;
    std::condition_variable changed;
    int finished = 0;               // images the receiver is done with
    Clock::time_point finishedAt;   // when the last of them was
    Clock::time_point describedAt;  // when the kernel had its description
    std::atomic<int> sent{0};       // images the sender has handed over
    std::atomic<bool> stop{false};
    uint64_t lost = 0;
    int complete = 0;
    uint64_t socketDrops = 0;
};

int bindReceiver(uint16_t firstPort, sockaddr_in *address)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    for (uint16_t port = firstPort; port < firstPort + 50; ++port) {
        *address = sockaddr_in{};
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr *>(address), sizeof *address) == 0)
            return fd;
    }
    close(fd);
    return -1;
}

// A kernel time stamp (CLOCK_REALTIME) on the steady clock.
Clock::time_point steadyFromRealtime(const timespec &stamp)
{
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const Clock::time_point now = Clock::now();
    const auto ago = std::chrono::seconds(real.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(real.tv_nsec - stamp.tv_nsec);
    return now - std::chrono::duration_cast<Clock::duration>(ago);
}

void receive(int fd, const RawRun &run, uint32_t perImage, Lockstep *state)
{
    const int slots = run.coalesce ? 16 : 64;
    const size_t slotBytes = run.coalesce ? 65536 : run.packetSize;
    std::vector<uint8_t> buffers(size_t(slots) * slotBytes);
    std::vector<mmsghdr> messages(static_cast<size_t>(slots));
    std::vector<iovec> vectors(static_cast<size_t>(slots));
    std::vector<std::array<uint8_t, 128>> control(static_cast<size_t>(slots));
    uint32_t count = 0;
    Clock::time_point describedAt;
    int image = 0;
    auto finish = [&](bool whole) {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->finishedAt = Clock::now();
        state->describedAt = describedAt;
        state->lost += perImage - std::min(count, perImage);
        state->complete += whole ? 1 : 0;
        state->finished = ++image;
        count = 0;
        state->changed.notify_all();
    };
    while (!state->stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kQuietMs) <= 0) {
            if (state->sent > image)
                finish(false);
            continue;
        }
        for (int k = 0; k < slots; ++k) {
            vectors[size_t(k)] = iovec{buffers.data() + size_t(k) * slotBytes, slotBytes};
            msghdr &m = messages[size_t(k)].msg_hdr;
            m = msghdr{};
            m.msg_iov = &vectors[size_t(k)];
            m.msg_iovlen = 1;
            m.msg_control = control[size_t(k)].data();
            m.msg_controllen = control[size_t(k)].size();
        }
        const int got = recvmmsg(fd, messages.data(), unsigned(slots), MSG_DONTWAIT, nullptr);
        for (int k = 0; k < got; ++k) {
            msghdr &m = messages[size_t(k)].msg_hdr;
            const uint32_t length = messages[size_t(k)].msg_len;
            uint32_t segment = length;
            timespec stamp{};
            for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
                int value = 0;
                std::memcpy(&value, CMSG_DATA(c), sizeof value);
                if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO && value > 0)
                    segment = uint32_t(value);
                else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                    state->socketDrops = uint32_t(value);
                else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
                    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            }
            SegmentHeader header;
            const auto *data = static_cast<const uint8_t *>(vectors[size_t(k)].iov_base);
            if (!decodeSegmentHeader(data, length, &header)) {
                describedAt = steadyFromRealtime(stamp);
                continue;
            }
            count += segment ? (length + segment - 1) / segment : 1;
        }
        if (count >= perImage)
            finish(true);
    }
}

// Sends every datagram of `stream` (count datagrams of packetSize bytes).
void sendImage(int fd, RawSender sender, const std::vector<uint8_t> &stream, uint32_t count,
               uint32_t packetSize)
{
    const uint8_t *base = stream.data();
    uint32_t i = 0;
    switch (sender) {
    case RawSender::SendTo:
        for (; i < count; ++i)
            send(fd, base + size_t(i) * packetSize, packetSize, 0);
        break;
    case RawSender::SendMmsg: {
        mmsghdr messages[kMaxSegmentsPerSend];
        iovec vectors[kMaxSegmentsPerSend];
        while (i < count) {
            const uint32_t n = std::min(kMaxSegmentsPerSend, count - i);
            for (uint32_t k = 0; k < n; ++k) {
                vectors[k] = iovec{const_cast<uint8_t *>(base) + size_t(i + k) * packetSize,
                                   packetSize};
                messages[k] = mmsghdr{};
                messages[k].msg_hdr.msg_iov = &vectors[k];
                messages[k].msg_hdr.msg_iovlen = 1;
            }
            const int sent = sendmmsg(fd, messages, n, 0);
            i += sent > 0 ? uint32_t(sent) : n;  // a refused batch counts as lost
        }
        break;
    }
    case RawSender::Segmentation: {
        const uint32_t perSend = std::max(1u, std::min(kMaxSegmentsPerSend, kOffloadBytes / packetSize));
        while (i < count) {
            const uint32_t n = std::min(perSend, count - i);
            send(fd, base + size_t(i) * packetSize, size_t(n) * packetSize, 0);
            i += n;
        }
        break;
    }
    }
}

}  // namespace

const char *rawSenderName(RawSender sender)
{
    switch (sender) {
    case RawSender::SendTo:
        return "sendto";
    case RawSender::SendMmsg:
        return "sendmmsg";
    case RawSender::Segmentation:
        return "UDP_SEGMENT";
    }
    return "?";
}

RawResult measureRawLoopback(const RawRun &run)
{
    RawResult result;
    const SegmentLayout layout = segmentLayout(run.imageBytes, run.packetSize);
    if (layout.count == 0)
        return result;
    // The datagrams the server would send for this image, laid back to back.
    std::vector<uint8_t> image(size_t(run.imageBytes) + run.packetSize);
    for (size_t i = 0; i < run.imageBytes; ++i)
        image[i] = uint8_t(i * 7);
    std::vector<uint8_t> stream(size_t(layout.count) * run.packetSize);
    for (uint32_t i = 0; i < layout.count; ++i)
        buildSegmentDatagram(stream.data() + size_t(i) * run.packetSize, image.data(), layout, i,
                             i + 1 == layout.count);

    sockaddr_in address{};
    const int receiver = bindReceiver(run.firstPort, &address);
    if (receiver < 0)
        return result;
    const int one = 1;
    setsockopt(receiver, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer);
    setsockopt(receiver, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
    setsockopt(receiver, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    if (run.coalesce)
        setsockopt(receiver, SOL_UDP, UDP_GRO, &one, sizeof one);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
        connect(sender, reinterpret_cast<sockaddr *>(&address), sizeof address);
    // Segment size per send (cmsg would do too); the description is
    // shorter than a segment, so the kernel leaves it whole.
    if (run.sender == RawSender::Segmentation) {
        const int size = int(run.packetSize);
        setsockopt(sender, SOL_UDP, UDP_SEGMENT, &size, sizeof size);
    }
    const uint8_t description[kCommandReplySize] = {};

    Lockstep state;
    std::thread thread(receive, receiver, std::cref(run), layout.count, &state);
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(run.maxSeconds));
    int images = 0;
    double seconds = 0;
    const int total = run.images + run.warmUp;
    while (images < total && (images <= run.warmUp || Clock::now() < end)) {
        int completeBefore = 0;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            completeBefore = state.complete;
        }
        // The description first, as the server sends it; the delivery is
        // timed from the kernel's receipt of it, as for the server.
        send(sender, description, sizeof description, 0);
        sendImage(sender, run.sender, stream, layout.count, run.packetSize);
        state.sent = ++images;
        std::unique_lock<std::mutex> lock(state.mutex);
        state.changed.wait(lock, [&] { return state.finished >= images; });
        if (images <= run.warmUp)
            continue;
        const double imageSeconds =
            std::chrono::duration<double>(state.finishedAt - state.describedAt).count();
        seconds += imageSeconds;
        result.imageRates.push_back(state.complete > completeBefore && imageSeconds > 0
                                        ? double(run.imageBytes) / imageSeconds
                                        : 0.0);
    }
    state.stop = true;
    thread.join();
    close(sender);
    close(receiver);

    result.ok = true;
    // The warm-up's images count for nothing, complete or not.
    result.images = std::max(0, images - run.warmUp);
    result.complete = std::max(0, state.complete - run.warmUp);
    result.lost = state.lost;
    result.socketDrops = state.socketDrops;
    result.seconds = seconds;
    result.bytes = uint64_t(result.complete) * run.imageBytes;
    return result;
}
