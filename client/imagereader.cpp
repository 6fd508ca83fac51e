// The image read-out over a client session.
#include "imagereader.h"

#include "datagramreceiver.h"
#include "segmentassembly.h"

namespace {

constexpr uint32_t kReplyPartsRoom = (kCommandValueSize - 24) / 4;  // 34 sizes fit

// Restores the session's handlers whatever way read() returns.
class HandlerScope
{
public:
    explicit HandlerScope(ClientSession &s) : session(s) {}
    ~HandlerScope()
    {
        session.setSegmentHandler(nullptr);
        session.setReplyObserver(nullptr);
        session.setReceivePlanner(nullptr);
    }

private:
    ClientSession &session;
};

}  // namespace

std::optional<ImageDescription> decodeImageReply(const CommandReply &reply, QString *error)
{
    auto bad = [error](const QString &text) -> std::optional<ImageDescription> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    if (!reply.valid || reply.subCommand != CMD_READ_IMAGE)
        return bad(QStringLiteral("the answer is not an image description"));
    ImageDescription d;
    d.format = reply.value(0);
    d.sendSize = reply.value(1);
    d.width = reply.value(2);
    d.height = reply.value(3);
    d.bitsPerPixel = reply.value(4);
    if (d.format > IMAGE_FORMAT_JPEG)
        return bad(QStringLiteral("unknown image format %1").arg(d.format));
    if (d.format == IMAGE_FORMAT_FAST_JPEG) {
        const uint32_t count = reply.value(5);
        if (count > kReplyPartsRoom)
            return bad(QStringLiteral("%1 JPEG parts, more than a reply can list").arg(count));
        uint64_t total = 0;
        for (uint32_t i = 0; i < count; ++i) {
            d.partSizes << reply.value(6 + i);
            total += d.partSizes.last();
        }
        if (total != d.sendSize)
            return bad(QStringLiteral("the JPEG parts add up to %1 bytes, the transfer to %2")
                           .arg(total)
                           .arg(d.sendSize));
    }
    return d;
}

ImageReader::ImageReader(ClientSession &s) : session(s) {}

bool ImageReader::fail(ClientErrorKind kind, const QString &message, uint8_t result)
{
    error.kind = kind;
    error.message = message;
    error.result = result;
    return false;
}

std::optional<ReceivedImage> ImageReader::read(const ImageReadOptions &options)
{
    error = ClientError();
    if (!packetSizeAllowed(options.packetSize)) {
        fail(ClientErrorKind::Network, QStringLiteral("packet size %1 is outside %2..%3")
                                           .arg(options.packetSize)
                                           .arg(kMinPacketSize)
                                           .arg(kMaxPacketSize));
        return std::nullopt;
    }
    const quint16 dataPort = session.localPort();
    const uint16_t id = session.nextRequestId();
    const uint32_t args[] = {options.source, options.index, dataPort, 0, options.packetSize};
    uint8_t request[16 + sizeof args];
    const size_t length =
        buildCommandRequest(request, id, CMD_READ_IMAGE, args, 5, options.selector);

    TransferCounters &counters = session.counters();
    std::optional<ImageDescription> description;
    std::chrono::steady_clock::time_point describedAt;
    QString replyProblem;
    int round = 0;
    bool lastSeen = false;
    uint64_t arrivals = 0;

    HandlerScope scope(session);
    // The layout is known from the reply on: segments before it belong to
    // no transfer of ours (a late resend for an earlier image, say).
    session.setReplyObserver([&](const Reply &reply) {
        if (reply.header.requestId != id || reply.isAck() || description)
            return;
        describedAt = reply.arrivedAt;
        description = decodeImageReply(reply.command(), &replyProblem);
        if (description && !assembly.reset(description->sendSize, options.packetSize)) {
            replyProblem = QStringLiteral("%1 bytes cannot come in packets of %2")
                               .arg(description->sendSize)
                               .arg(options.packetSize);
            description.reset();
        }
    });
    session.setSegmentHandler(
        [&](const SegmentHeader &header, const uint8_t *payload, size_t size) {
            if (!description) {
                ++counters.strayDatagrams;
                return;
            }
            if (options.discard && options.discard(header.index, round))
                return;
            switch (assembly.add(header, payload, size)) {
            case SegmentAssembly::Outcome::Added:
                ++arrivals;
                if (round > 0)
                    ++counters.segmentsResent;
                if (options.progress)
                    options.progress(assembly.receivedCount(), assembly.layout().count);
                break;
            case SegmentAssembly::Outcome::Duplicate:
                ++arrivals;
                ++counters.duplicates;
                break;
            case SegmentAssembly::Outcome::Rejected:
                ++counters.strayDatagrams;
                return;
            }
            if (header.last)
                lastSeen = true;
        });

    // Once the layout is known, the segments expected next are read straight
    // into their places.
    session.setReceivePlanner([&](uint32_t maxPlaces) -> ReceivePlan {
        ReceivePlan plan;
        plan.packetSize = options.packetSize;
        if (!description || maxPlaces == 0)
            return plan;  // no places: the description may come next, or none are wanted
        plan.count = assembly.nextRun(maxPlaces, &plan.firstIndex);
        if (plan.count > 0)
            plan.first = assembly.placeOf(plan.firstIndex);
        return plan;
    });

    if (!session.send(options.channel, request, length)) {
        error = session.lastError();
        return std::nullopt;
    }
    const auto reply = session.waitForReply(options.channel, id, PKT_COMMAND);
    if (!reply) {
        error = session.lastError();
        return std::nullopt;
    }
    if (reply->isAck()) {
        const uint8_t result = reply->header.resultOrSelector;
        if (result == RESULT_READ_FAILED)
            fail(ClientErrorKind::ErrorResult,
                 QStringLiteral("the server could not read the image (result 7): the driver "
                                "failed, the source or index is not there, or no camera or "
                                "raw file is open"),
                 result);
        else if (result == RESULT_REFUSED)
            fail(ClientErrorKind::ErrorResult,
                 QStringLiteral("the server refused the request (result 9): packet size %1 is "
                                "outside %2..%3 or the image needs more than %4 segments")
                     .arg(options.packetSize)
                     .arg(kMinPacketSize)
                     .arg(kMaxPacketSize)
                     .arg(kMaxSegments),
                 result);
        else
            fail(ClientErrorKind::ErrorResult,
                 QStringLiteral("the server answered the image request with result %1")
                     .arg(result),
                 result);
        return std::nullopt;
    }
    if (!description) {
        fail(ClientErrorKind::BadReply,
             QStringLiteral("bad image description: %1").arg(replyProblem));
        return std::nullopt;
    }

    const int quietMs = options.quietMs < 0 ? session.options().timeoutMs : options.quietMs;
    for (;;) {
        // Until every segment is in, the round's last datagram came, or the
        // data stops for quietMs.
        while (!assembly.complete() && !lastSeen) {
            const uint64_t before = arrivals;
            const bool moved = session.waitForSegments(quietMs, [&] {
                return assembly.complete() || lastSeen || arrivals != before;
            });
            if (!moved)
                break;
        }
        if (assembly.complete())
            break;
        const QVector<uint16_t> missing = assembly.missing();
        counters.segmentsMissing += uint64_t(missing.size());
        if (round >= options.maxResendRounds) {
            fail(ClientErrorKind::TimedOut,
                 QStringLiteral("%1 of %2 image segments still missing after %3 resend rounds")
                     .arg(missing.size())
                     .arg(assembly.layout().count)
                     .arg(round));
            return std::nullopt;
        }
        ++round;
        lastSeen = false;
        const QVector<QByteArray> datagrams =
            buildResendDatagrams(missing, session.nextRequestId(), options.selector);
        for (int i = 1; i < datagrams.size(); ++i)
            session.nextRequestId();  // the ids the later datagrams took
        for (const QByteArray &datagram : datagrams) {
            if (!session.send(options.channel,
                              reinterpret_cast<const uint8_t *>(datagram.constData()),
                              size_t(datagram.size()))) {
                error = session.lastError();
                return std::nullopt;
            }
            ++counters.resendRequests;
        }
    }
    ReceivedImage image;
    image.description = *description;
    image.data = assembly.data();
    image.resendRounds = round;
    image.describedAt = describedAt;
    return image;
}
