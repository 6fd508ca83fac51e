// Receiving datagrams, routing them by packet type and sub-command, and
// sending replies.
#include "qcameramonitor.h"

#include "replysink.h"

#include <QUdpSocket>

#include <algorithm>
#include <cstring>

void QCameraMonitor::processUDPPackets()
{
    if (!socket)
        return;
    // A stop request ends the drain too: a flood must not keep the worker.
    while (socket->hasPendingDatagrams() && !isInterruptionRequested()) {
        std::fill(rxBuffer.begin(), rxBuffer.end(), uint8_t(0));
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 received = socket->readDatagram(reinterpret_cast<char *>(rxBuffer.data()),
                                                     qint64(rxBuffer.size()), &sender,
                                                     &senderPort);
        if (received < 0)
            break;
        handleReceived(size_t(received), sender, senderPort);
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
    MonitorRequest request;
    request.data = rxBuffer.data();
    request.length = length;
    request.sender = sender;
    request.senderPort = senderPort;
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
