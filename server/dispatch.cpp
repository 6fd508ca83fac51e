// Receiving datagrams, routing them by packet type and sub-command, and
// sending replies.
#include "qcameramonitor.h"

#include "replysink.h"

#include <QUdpSocket>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

void QCameraMonitor::processUDPPackets()
{
    if (!socket)
        return;
    // A stop request ends the drain too: a flood must not keep the worker.
    // Read from the descriptor: readDatagram makes address objects on the
    // heap for every datagram.
    const int fd = int(socket->socketDescriptor());
    while (!isInterruptionRequested()) {
        std::fill(rxBuffer.begin(), rxBuffer.end(), uint8_t(0));
        sockaddr_storage from = {};
        socklen_t fromLength = sizeof from;
        // Cut at the buffer, as readDatagram cuts.
        const ssize_t received = recvfrom(fd, rxBuffer.data(), rxBuffer.size(), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (received < 0)
            break;
        quint16 senderPort = 0;
        if (from.ss_family == AF_INET) {
            const auto &v4 = reinterpret_cast<const sockaddr_in &>(from);
            senderPort = ntohs(v4.sin_port);
            // Set only when it changes: the address of the transfer's client
            // may share its data with this one.
            const quint32 address = ntohl(v4.sin_addr.s_addr);
            if (receivedFrom.protocol() != QAbstractSocket::IPv4Protocol ||
                receivedFrom.toIPv4Address() != address)
                receivedFrom.setAddress(address);
        } else {
            receivedFrom.setAddress(reinterpret_cast<const sockaddr *>(&from));
            senderPort = from.ss_family == AF_INET6
                             ? ntohs(reinterpret_cast<const sockaddr_in6 &>(from).sin6_port)
                             : 0;
        }
        handleReceived(size_t(received), receivedFrom, senderPort);
    }
}

void QCameraMonitor::handleDatagram(const uint8_t *data, size_t length,
                                    const QHostAddress &sender, quint16 senderPort)
{
    // The worker owns the handlers while it runs; two threads in them would race.
    if (isRunning())
        return;
    // Exactly what the socket path hands on: zero-filled, cut at the buffer.
    const size_t kept = std::min(length, rxBuffer.size());
    std::fill(rxBuffer.begin(), rxBuffer.end(), uint8_t(0));
    if (kept)
        std::memcpy(rxBuffer.data(), data, kept);
    handleReceived(kept, sender, senderPort);
}

void QCameraMonitor::handleReceived(size_t length, const QHostAddress &sender,
                                    quint16 senderPort)
{
    if (length == 0 || status == StatusDisabled)
        return;
    // Built with the sender rather than assigned it: a default address
    // object costs a heap allocation per datagram.
    MonitorRequest request{rxBuffer.data(), length, sender, senderPort};
    const PacketHeader header = decodeHeader(request.data, length);
    request.selector = header.resultOrSelector;
    request.type = header.type;
    request.id = header.requestId;
    request.subCommand = request.u32(8);
    if (mode == RawFileMode)
        rawSelector = request.selector;

    switch (request.type) {
    case PKT_ENUMERATE:
        handleEnumerate(request);
        break;
    case PKT_RAW_INFO:
        handleRawInfo(request);
        break;
    case PKT_COMMAND:
        dispatchCommand(request);
        break;
    case PKT_RESEND:
        handleResend(request);
        break;
    default:
        // Unknown types are dropped without a reply or a log line.
        break;
    }
}

void QCameraMonitor::dispatchCommand(const MonitorRequest &request)
{
    const CommandHandler handler = commandHandler(request.subCommand);
    if (!handler) {
        writeLog(QStringLiteral("Unknown Command: %1").arg(request.subCommand));
        return;
    }
    if ((this->*handler)(request) == CommandOutcome::AckOk)
        sendAck(request, RESULT_OK);
}

void QCameraMonitor::sendTo(const QHostAddress &address, quint16 port, const uint8_t *data,
                            size_t size)
{
    ReplySink *sink = externalSink ? externalSink : socketSink;
    if (sink)
        sink->sendDatagram(data, size, address, port);
}

void QCameraMonitor::sendReply(const MonitorRequest &request, const uint8_t *data, size_t size)
{
    sendTo(request.sender, request.senderPort, data, size);
}

void QCameraMonitor::sendAck(const MonitorRequest &request, uint8_t result)
{
    uint8_t ack[kAckSize];
    const size_t size = buildAck(ack, request.id, request.type, result);
    sendReply(request, ack, size);
}
