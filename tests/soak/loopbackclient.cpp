// The soak tests' minimal client.
#include "loopbackclient.h"

#include <QDeadlineTimer>

#include <sys/socket.h>

namespace {
bool isLoopback(const QHostAddress &address)
{
    bool ok = false;
    const quint32 ipv4 = address.toIPv4Address(&ok);
    return ok && (ipv4 >> 24) == 127;
}
}  // namespace

LoopbackClient::LoopbackClient(const QHostAddress &local)
{
    if (isLoopback(local))
        socket.bind(local, 0, QAbstractSocket::DontShareAddress);
    // Image segments arrive in bursts: past the system's limit where allowed.
    const int bytes = 32 * 1024 * 1024;
    const int fd = int(socket.socketDescriptor());
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool LoopbackClient::isBound() const { return socket.state() == QAbstractSocket::BoundState; }

bool LoopbackClient::send(const QHostAddress &server, quint16 port, const QByteArray &datagram)
{
    if (!isLoopback(server))
        return false;
    return socket.writeDatagram(datagram, server, port) == datagram.size();
}

std::optional<QByteArray> LoopbackClient::waitForReply(uint16_t id, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QByteArray datagram;
    for (;;) {
        if (!socket.hasPendingDatagrams()
            && !socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 0))))
            return std::nullopt;
        while (socket.hasPendingDatagrams()) {
            datagram.resize(int(std::max<qint64>(socket.pendingDatagramSize(), 0)));
            if (socket.readDatagram(datagram.data(), datagram.size()) < 0)
                continue;
            const auto *bytes = reinterpret_cast<const uint8_t *>(datagram.constData());
            SegmentHeader segment;
            if (decodeSegmentHeader(bytes, size_t(datagram.size()), &segment)) {
                ++segments;
                if (onSegment)
                    onSegment(datagram);
                continue;
            }
            const PacketHeader header = decodeHeader(bytes, size_t(datagram.size()));
            if (datagram.size() >= int(kHeaderSize) && header.requestId == id)
                return datagram;
            ++strays;
        }
        if (deadline.hasExpired())
            return std::nullopt;
    }
}

std::optional<QByteArray> LoopbackClient::command(const QHostAddress &server, quint16 port,
                                                  uint32_t subCommand,
                                                  const QVector<uint32_t> &args, int timeoutMs)
{
    const uint16_t id = nextId();
    if (!send(server, port, commandDatagram(id, subCommand, args)))
        return std::nullopt;
    return waitForReply(id, timeoutMs);
}

void LoopbackClient::drain(int timeoutMs)
{
    // No reply has id 0 here: ids start at 1 and a drain waits for none.
    while (waitForReply(0, timeoutMs)) {
    }
}

QByteArray commandDatagram(uint16_t id, uint32_t subCommand, const QVector<uint32_t> &args,
                           uint8_t selector)
{
    QByteArray out(16 + 4 * args.size(), 0);
    buildCommandRequest(reinterpret_cast<uint8_t *>(out.data()), id, subCommand,
                        reinterpret_cast<const uint32_t *>(args.constData()), size_t(args.size()),
                        selector);
    return out;
}

QByteArray enumerateDatagram(uint16_t id)
{
    QByteArray out(int(kHeaderSize), 0);
    buildEnumerateRequest(reinterpret_cast<uint8_t *>(out.data()), id);
    return out;
}

QByteArray resendDatagram(uint16_t id, const QVector<uint16_t> &indices, bool last)
{
    QByteArray out(int(kResendIndicesOffset) + 2 * indices.size(), 0);
    buildResendRequest(reinterpret_cast<uint8_t *>(out.data()), id, indices.constData(),
                       uint32_t(indices.size()), last);
    return out;
}

uint8_t replyResult(const QByteArray &reply) { return reply.isEmpty() ? 0xFF : uint8_t(reply[0]); }

uint32_t replyWord(const QByteArray &reply, int offset)
{
    return readU32(reinterpret_cast<const uint8_t *>(reply.constData()), size_t(reply.size()),
                   size_t(offset));
}
