// The client's request/reply exchange over one UDP socket.
#include "clientsession.h"

#include "datagramreceiver.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QUdpSocket>

#include <poll.h>
#include <sys/socket.h>

namespace {

QString endpointText(const QHostAddress &address, quint16 port)
{
    return QStringLiteral("%1 port %2").arg(address.toString()).arg(port);
}

}  // namespace

bool isLoopbackAddress(const QHostAddress &address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok && (v4 >> 24) == 127;
}

CommandReply Reply::command() const
{
    return decodeCommandReply(reinterpret_cast<const uint8_t *>(bytes.constData()),
                              size_t(bytes.size()));
}

DiscoveryReply Reply::discovery() const
{
    return decodeDiscoveryReply(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                size_t(bytes.size()));
}

ClientSession::ClientSession()
{
    // A random first id keeps late replies meant for an earlier client on
    // the same port from being taken for ours.
    requestId = uint16_t(QRandomGenerator::global()->bounded(65536));
}

ClientSession::~ClientSession() = default;

bool ClientSession::fail(ClientErrorKind kind, const QString &message, uint8_t result)
{
    error.kind = kind;
    error.message = message;
    error.result = result;
    return false;
}

bool ClientSession::checkDestination()
{
    if (opts.server.protocol() != QAbstractSocket::IPv4Protocol)
        return fail(ClientErrorKind::Network,
                    QStringLiteral("%1 is not an IPv4 address").arg(opts.server.toString()));
    if (opts.loopbackOnly && !isLoopbackAddress(opts.server))
        return fail(ClientErrorKind::NotAllowed,
                    QStringLiteral("refusing to send to %1: this run may send to 127.0.0.0/8 only")
                        .arg(opts.server.toString()));
    return true;
}

bool ClientSession::start(const SessionOptions &options)
{
    opts = options;
    error = ClientError();
    if (!checkDestination())
        return false;
    serverAddress = opts.server.toIPv4Address();
    socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0))
        return fail(ClientErrorKind::Network,
                    QStringLiteral("cannot open a UDP socket: %1").arg(socket->errorString()));

    // Image segments arrive in bursts faster than a small default buffer
    // drains. SO_RCVBUFFORCE passes the system limit when privileged.
    const int fd = int(socket->socketDescriptor());
    int want = opts.receiveBufferBytes;
    bool forced = false;
#ifdef SO_RCVBUFFORCE
    forced = setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof(want)) == 0;
#endif
    if (!forced)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &want, sizeof(want));
    int got = 0;
    socklen_t length = sizeof(got);
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &got, &length) == 0)
        grantedBuffer = got / 2;  // Linux reports twice the size set (its bookkeeping half)
    if (!receiver)
        receiver = std::make_unique<DatagramReceiver>();
    coalesced = receiver->attach(fd, opts.coalesce);
    return true;
}

quint16 ClientSession::localPort() const
{
    return socket ? socket->localPort() : 0;
}

quint16 ClientSession::serverPort(Channel channel) const
{
    return quint16(opts.portBase + (channel == Channel::RawFile ? 1 : 0));
}

uint16_t ClientSession::nextRequestId()
{
    return ++requestId;
}

bool ClientSession::send(Channel channel, const uint8_t *request, size_t length)
{
    if (!socket)
        return fail(ClientErrorKind::Network, QStringLiteral("the session is not started"));
    if (!checkDestination())
        return false;
    const quint16 port = serverPort(channel);
    const qint64 sent = socket->writeDatagram(reinterpret_cast<const char *>(request),
                                              qint64(length), opts.server, port);
    if (sent != qint64(length))
        return fail(ClientErrorKind::Network, QStringLiteral("cannot send to %1: %2")
                                                  .arg(endpointText(opts.server, port),
                                                       socket->errorString()));
    outstanding.insert(readU16(request, length, 6), port);
    return true;
}

void ClientSession::drain()
{
    receiver->drain([this](const ReceivedDatagram &datagram) { handleDatagram(datagram); });
    transfer.receiveDrops = receiver->kernelDrops();
    transfer.segmentsInPlace = receiver->placedInPlace();
}

void ClientSession::handleDatagram(const ReceivedDatagram &datagram)
{
    if (datagram.sender != serverAddress) {
        ++transfer.strayDatagrams;
        return;
    }
    SegmentHeader segment;
    if (decodeSegmentHeader(datagram.data, datagram.payload ? kSegmentHeaderSize : datagram.size,
                            &segment)) {
        ++transfer.segmentsReceived;
        if (segmentHandler)
            segmentHandler(segment,
                           datagram.payload ? datagram.payload
                                            : datagram.data + kSegmentHeaderSize,
                           datagram.size - kSegmentHeaderSize);
        return;
    }
    const uint8_t *data = datagram.data;
    const size_t size = datagram.size;
    const PacketHeader header = decodeHeader(data, size);
    // A reply comes from the port its request went to; the same id from
    // another port answers something else.
    const auto pending = outstanding.constFind(header.requestId);
    if (size < kHeaderSize || pending == outstanding.cend() || pending.value() != datagram.port) {
        ++transfer.strayDatagrams;
        return;
    }
    Reply reply;
    reply.bytes = QByteArray(reinterpret_cast<const char *>(data), int(size));
    reply.header = header;
    reply.senderPort = datagram.port;
    reply.arrivedAt = datagram.arrival;
    replies.insert(header.requestId, reply);
    if (replyObserver)
        replyObserver(reply);
}

bool ClientSession::waitForDatagrams(int timeoutMs)
{
    pollfd pfd{int(socket->socketDescriptor()), POLLIN, 0};
    return poll(&pfd, 1, timeoutMs) > 0;
}

std::optional<Reply> ClientSession::waitForReply(Channel channel, uint16_t id, uint8_t type,
                                                 int timeoutMs)
{
    if (!socket) {
        fail(ClientErrorKind::Network, QStringLiteral("the session is not started"));
        return std::nullopt;
    }
    const int limit = timeoutMs < 0 ? opts.timeoutMs : timeoutMs;
    const quint16 port = serverPort(channel);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        drain();
        auto it = replies.find(id);
        if (it != replies.end()) {
            const Reply reply = it.value();
            replies.erase(it);
            outstanding.remove(id);
            if (reply.header.type != type) {
                fail(ClientErrorKind::BadReply,
                     QStringLiteral("%1 answered request %2 with packet type %3, not %4")
                         .arg(endpointText(opts.server, port))
                         .arg(id)
                         .arg(reply.header.type)
                         .arg(type));
                return std::nullopt;
            }
            return reply;
        }
        const qint64 remaining = limit - clock.elapsed();
        if (remaining <= 0)
            break;
        waitForDatagrams(int(remaining));
    }
    outstanding.remove(id);
    fail(ClientErrorKind::TimedOut, QStringLiteral("no reply from %1 within %2 ms")
                                        .arg(endpointText(opts.server, port))
                                        .arg(limit));
    return std::nullopt;
}

std::optional<Reply> ClientSession::transact(Channel channel, const uint8_t *request,
                                             size_t length)
{
    if (!send(channel, request, length))
        return std::nullopt;
    const PacketHeader header = decodeHeader(request, length);
    return waitForReply(channel, header.requestId, header.type);
}

std::optional<DiscoveryReply> ClientSession::discoveryFrom(const std::optional<Reply> &reply,
                                                           const QString &what)
{
    if (!reply)
        return std::nullopt;
    if (reply->header.resultOrSelector != RESULT_OK) {
        fail(ClientErrorKind::ErrorResult,
             QStringLiteral("%1: the server answered with result %2")
                 .arg(what)
                 .arg(reply->header.resultOrSelector),
             reply->header.resultOrSelector);
        return std::nullopt;
    }
    const DiscoveryReply record = reply->discovery();
    if (!record.valid) {
        fail(ClientErrorKind::BadReply, QStringLiteral("%1: a reply of %2 bytes, not %3")
                                            .arg(what)
                                            .arg(reply->bytes.size())
                                            .arg(kDiscoveryReplySize));
        return std::nullopt;
    }
    return record;
}

std::optional<DiscoveryReply> ClientSession::enumerateCameras()
{
    uint8_t request[kHeaderSize];
    const size_t n = buildEnumerateRequest(request, nextRequestId());
    return discoveryFrom(transact(Channel::Camera, request, n),
                         QStringLiteral("camera enumeration"));
}

std::optional<int32_t> ClientSession::enumerateRawFiles()
{
    uint8_t request[kHeaderSize];
    const size_t n = buildEnumerateRequest(request, nextRequestId());
    const auto record = discoveryFrom(transact(Channel::RawFile, request, n),
                                      QStringLiteral("raw-file enumeration"));
    if (!record)
        return std::nullopt;
    return record->rawCount;
}

std::optional<DiscoveryReply> ClientSession::rawInfo(int32_t index)
{
    uint8_t request[12];
    const size_t n = buildRawInfoRequest(request, nextRequestId(), index);
    const auto reply = transact(Channel::RawFile, request, n);
    if (reply && reply->isAck() && reply->header.resultOrSelector == RESULT_NO_RAW_FILE) {
        fail(ClientErrorKind::ErrorResult,
             QStringLiteral("no raw file with index %1 (result 4)").arg(index),
             RESULT_NO_RAW_FILE);
        return std::nullopt;
    }
    return discoveryFrom(reply, QStringLiteral("raw-file information"));
}

bool ClientSession::ackOk(const std::optional<Reply> &reply, const QString &what)
{
    if (!reply)
        return false;
    if (!reply->isAck())
        return fail(ClientErrorKind::BadReply, QStringLiteral("%1: a reply of %2 bytes, not an "
                                                              "acknowledgement")
                                                   .arg(what)
                                                   .arg(reply->bytes.size()));
    if (reply->header.resultOrSelector != RESULT_OK)
        return fail(ClientErrorKind::ErrorResult,
                    QStringLiteral("%1: the server answered with result %2")
                        .arg(what)
                        .arg(reply->header.resultOrSelector),
                    reply->header.resultOrSelector);
    return true;
}

bool ClientSession::openCamera(uint32_t memoryMb)
{
    uint8_t request[20];
    const uint32_t args[] = {memoryMb};
    const size_t n = buildCommandRequest(request, nextRequestId(), CMD_OPEN, args, 1);
    const auto reply = transact(Channel::Camera, request, n);
    if (!reply && error.kind == ClientErrorKind::TimedOut)
        error.message += QStringLiteral(
            "; the server does not answer an open it refused (no camera found, or the driver "
            "failed)");
    return ackOk(reply, QStringLiteral("open"));
}

bool ClientSession::openRawFile(int32_t number)
{
    uint8_t request[24];
    const uint32_t args[] = {0, uint32_t(number)};
    const size_t n =
        buildCommandRequest(request, nextRequestId(), CMD_OPEN, args, 2, uint8_t(number));
    const auto reply = transact(Channel::RawFile, request, n);
    if (!reply && error.kind == ClientErrorKind::TimedOut)
        error.message += QStringLiteral(
            "; the server does not answer an open it refused (no such raw file, or it is "
            "already open)");
    return ackOk(reply, QStringLiteral("open of raw file %1").arg(number));
}

bool ClientSession::close(Channel channel, uint8_t selector)
{
    uint8_t request[16];
    const size_t n = buildCommandRequest(request, nextRequestId(), CMD_CLOSE, nullptr, 0, selector);
    return ackOk(transact(channel, request, n), QStringLiteral("close"));
}

bool ClientSession::nop(Channel channel, uint8_t selector)
{
    uint8_t request[16];
    const size_t n = buildCommandRequest(request, nextRequestId(), CMD_NOP, nullptr, 0, selector);
    return ackOk(transact(channel, request, n), QStringLiteral("nop"));
}

std::optional<Reply> ClientSession::command(Channel channel, uint32_t subCommand,
                                            const QVector<uint32_t> &args, uint8_t selector)
{
    if (args.size() > kClientMaxCommandArgs) {
        fail(ClientErrorKind::Network,
             QStringLiteral("at most %1 arguments fit a command").arg(kClientMaxCommandArgs));
        return std::nullopt;
    }
    uint8_t request[16 + 4 * kClientMaxCommandArgs];
    const size_t n = buildCommandRequest(request, nextRequestId(), subCommand, args.constData(),
                                         size_t(args.size()), selector);
    auto reply = transact(channel, request, n);
    if (!reply)
        return std::nullopt;
    if (!reply->isAck() && !reply->command().valid) {
        fail(ClientErrorKind::BadReply,
             QStringLiteral("command %1: a reply of %2 bytes, neither an acknowledgement nor a "
                            "176-byte reply")
                 .arg(subCommand)
                 .arg(reply->bytes.size()));
        return std::nullopt;
    }
    if (reply->header.resultOrSelector != RESULT_OK)
        fail(ClientErrorKind::ErrorResult,
             QStringLiteral("command %1: the server answered with result %2")
                 .arg(subCommand)
                 .arg(reply->header.resultOrSelector),
             reply->header.resultOrSelector);
    return reply;
}

void ClientSession::setSegmentHandler(SegmentHandler handler)
{
    segmentHandler = std::move(handler);
}

void ClientSession::setReplyObserver(ReplyObserver observer)
{
    replyObserver = std::move(observer);
}

void ClientSession::setReceivePlanner(std::function<ReceivePlan(uint32_t maxPlaces)> planner)
{
    if (receiver)
        receiver->setPlanner(std::move(planner));
}

bool ClientSession::waitForSegments(int timeoutMs, const std::function<bool()> &done)
{
    if (!socket)
        return fail(ClientErrorKind::Network, QStringLiteral("the session is not started"));
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        drain();
        if (done())
            return true;
        const qint64 remaining = timeoutMs - clock.elapsed();
        if (remaining <= 0)
            return fail(ClientErrorKind::TimedOut,
                        QStringLiteral("no further image data within %1 ms").arg(timeoutMs));
        waitForDatagrams(int(remaining));
    }
}
