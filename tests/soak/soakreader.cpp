// The soak test's own image reader.
#include "soakreader.h"

#include <QDeadlineTimer>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

// Reads the client's socket for one transfer and notes in `problem` a
// datagram from anyone but the server the client talks to.
struct Receiver {
    QUdpSocket &socket;
    QHostAddress server;
    quint16 port;
    QString *problem;

    // The next datagram within timeoutMs, or a null array.
    QByteArray next(int timeoutMs)
    {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
            return QByteArray();
        QByteArray datagram(int(std::max<qint64>(socket.pendingDatagramSize(), 0)), 0);
        QHostAddress from;
        quint16 fromPort = 0;
        if (socket.readDatagram(datagram.data(), datagram.size(), &from, &fromPort) < 0)
            return QByteArray();
        if (from != server || fromPort != port)
            *problem = QStringLiteral("a datagram from %1:%2").arg(from.toString()).arg(fromPort);
        return datagram;
    }
};

}  // namespace

SoakImage readSoakImage(LoopbackClient &client, const QHostAddress &server, quint16 port,
                        const SoakReadOptions &options)
{
    SoakImage image;
    QUdpSocket &socket = client.udp();
    Receiver receiver{socket, server, port, &image.problem};
    auto broken = [&](const QString &why) {
        image.outcome = SoakImage::Outcome::Broken;
        if (image.problem.isEmpty())
            image.problem = why;
        return image;
    };

    const uint16_t id = client.nextId();
    const QByteArray request = commandDatagram(
        id, CMD_READ_IMAGE,
        {options.source, options.index, client.port(), 0, options.packetSize}, options.selector);
    if (!client.send(server, port, request))
        return image;

    // The reply first; segments before it belong to no transfer of ours.
    QByteArray reply;
    QDeadlineTimer deadline(options.replyTimeoutMs);
    while (reply.isNull()) {
        const QByteArray datagram = receiver.next(int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (!image.problem.isEmpty())
            return broken(image.problem);
        if (datagram.isNull())
            return image;  // time-out: a restart, or the request was lost
        const PacketHeader header = decodeHeader(
            reinterpret_cast<const uint8_t *>(datagram.constData()), size_t(datagram.size()));
        SegmentHeader segment;
        if (!decodeSegmentHeader(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                 size_t(datagram.size()), &segment)
            && header.requestId == id)
            reply = datagram;
    }
    if (reply.size() == int(kAckSize)) {
        image.outcome = replyResult(reply) == RESULT_REFUSED ? SoakImage::Outcome::Refused
                                                            : SoakImage::Outcome::Failed;
        return image;
    }
    if (reply.size() != int(kCommandReplySize) || replyWord(reply, 8) != CMD_READ_IMAGE)
        return broken(QStringLiteral("an image reply of %1 bytes").arg(reply.size()));
    const uint32_t sendSize = replyWord(reply, 20);
    image.width = replyWord(reply, 24);
    image.height = replyWord(reply, 28);
    image.bitsPerPixel = replyWord(reply, 32);
    const SegmentLayout layout = segmentLayout(sendSize, options.packetSize);

    QVector<bool> have(int(layout.count), false);
    int missing = int(layout.count);
    image.data = QByteArray(int(sendSize), 0);
    for (int round = 0;; ++round) {
        image.rounds = round;
        for (;;) {
            const QByteArray datagram = receiver.next(options.quietMs);
            if (!image.problem.isEmpty())
                return broken(image.problem);
            if (datagram.isNull() || missing == 0)
                break;
            const auto *bytes = reinterpret_cast<const uint8_t *>(datagram.constData());
            SegmentHeader segment;
            if (!decodeSegmentHeader(bytes, size_t(datagram.size()), &segment))
                continue;  // a late reply to an earlier request
            if (uint32_t(datagram.size()) != options.packetSize)
                return broken(QStringLiteral("a segment of %1 bytes").arg(datagram.size()));
            const uint32_t expected =
                segment.index + 1 == layout.count ? layout.lastLength : layout.payload;
            if (segment.index >= layout.count || segment.length != expected)
                return broken(QStringLiteral("segment %1 of length %2").arg(segment.index).arg(segment.length));
            const uint8_t *payload = bytes + kSegmentHeaderSize;
            for (uint32_t i = segment.length; i < layout.payload; ++i) {
                if (payload[i] != 0)
                    return broken(QStringLiteral("segment %1 has filler that is not zero")
                                      .arg(segment.index));
            }
            if (options.drop && options.drop(segment.index, round)) {
                ++image.dropped;
                continue;
            }
            if (!have[int(segment.index)]) {
                have[int(segment.index)] = true;
                --missing;
                std::memcpy(image.data.data() + size_t(segment.index) * layout.payload, payload,
                            segment.length);
            }
        }
        if (missing == 0) {
            image.outcome = SoakImage::Outcome::Complete;
            return image;
        }
        if (round >= options.maxRounds)
            return image;
        QVector<uint16_t> indices;
        for (int i = 0; i < have.size(); ++i) {
            if (!have[i])
                indices << uint16_t(i);
        }
        // At most kMaxResendIndicesPerDatagram a datagram; the last one says so.
        for (int start = 0; start < indices.size(); start += int(kMaxResendIndicesPerDatagram)) {
            const QVector<uint16_t> part = indices.mid(start, int(kMaxResendIndicesPerDatagram));
            const bool last = start + part.size() >= indices.size();
            client.send(server, port, resendDatagram(client.nextId(), part, last));
        }
    }
}
