// Checking the destination and the framing of every outgoing datagram.
#include "checkingsink.h"

#include "fuzzfailure.h"
#include "protocol.h"

#include <QString>

#include <cstring>

namespace {

QString where(const QHostAddress &address, quint16 port)
{
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

}  // namespace

void CheckingSink::beginRequest(const uint8_t *data, size_t length, const QHostAddress &from,
                                quint16 fromPort)
{
    active = true;
    sender = from;
    senderPort = fromPort;
    // The monitor sees at most its receive buffer; so does this check.
    const size_t seen = length < kReceiveBufferSize ? length : kReceiveBufferSize;
    const PacketHeader header = decodeHeader(data, seen);
    type = header.type;
    id = header.requestId;
    readImage = type == PKT_COMMAND && readU32(data, seen, 8) == CMD_READ_IMAGE;
    requestedDataPort = quint16(readU32(data, seen, 24) & 0xFFFFu);
    requestedPacketSize = readU32(data, seen, 32);
    readImageAnswered = false;
}

void CheckingSink::endRequest()
{
    if (readImage && readImageAnswered) {
        haveTransfer = true;
        transferAddress = sender;
        transferPort = senderPort;
        transferDataPort = requestedDataPort;
        transferPacketSize = requestedPacketSize;
    }
    active = false;
}

void CheckingSink::sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                                quint16 port)
{
    ++datagrams;
    if (!active)
        fuzzFailure("datagram sent outside a request", where(address, port));
    SegmentHeader segment;
    if (decodeSegmentHeader(data, size, &segment))
        checkSegment(data, size, address, port);
    else
        checkReply(data, size, address, port);
}

void CheckingSink::checkReply(const uint8_t *data, size_t size, const QHostAddress &address,
                              quint16 port)
{
    if (address != sender || port != senderPort)
        fuzzFailure("reply to an address or port that did not send the request",
                    QStringLiteral("to %1, request from %2")
                        .arg(where(address, port), where(sender, senderPort)));
    if (type == PKT_RESEND)
        fuzzFailure("a resend request was answered", where(address, port));
    if (size != kAckSize && size != kCommandReplySize && size != kDiscoveryReplySize)
        fuzzFailure("reply of an unknown size", QString::number(size));
    const PacketHeader header = decodeHeader(data, size);
    if (header.type != type || header.requestId != id || header.length != size || data[1] != 0
        || data[2] != 0)
        fuzzFailure("reply header does not echo the request",
                    QStringLiteral("type %1/%2 id %3/%4 length %5/%6")
                        .arg(header.type)
                        .arg(type)
                        .arg(header.requestId)
                        .arg(id)
                        .arg(header.length)
                        .arg(size));
    if (readImage && size == kCommandReplySize && readU32(data, size, 8) == CMD_READ_IMAGE) {
        if (!packetSizeAllowed(requestedPacketSize))
            fuzzFailure("image served at a refused packet size",
                        QString::number(requestedPacketSize));
        readImageAnswered = true;
    }
}

void CheckingSink::checkSegment(const uint8_t *data, size_t size, const QHostAddress &address,
                                quint16 port)
{
    QHostAddress expectedAddress;
    quint16 expectedPort = 0;
    uint32_t expectedSize = 0;
    if (readImage && readImageAnswered) {
        expectedAddress = sender;
        expectedPort = requestedDataPort;
        expectedSize = requestedPacketSize;
    } else if (type == PKT_RESEND && haveTransfer) {
        if (sender != transferAddress || senderPort != transferPort)
            fuzzFailure("segments resent for a client that did not request the image",
                        QStringLiteral("resend from %1, image for %2")
                            .arg(where(sender, senderPort), where(transferAddress, transferPort)));
        expectedAddress = transferAddress;
        expectedPort = transferDataPort;
        expectedSize = transferPacketSize;
    } else {
        fuzzFailure("image segment outside a transfer or resend", where(address, port));
    }
    if (address != expectedAddress || port != expectedPort)
        fuzzFailure("image segment to the wrong destination",
                    QStringLiteral("to %1, expected %2")
                        .arg(where(address, port), where(expectedAddress, expectedPort)));
    if (size != expectedSize)
        fuzzFailure("image segment of the wrong size",
                    QStringLiteral("%1, packet size %2").arg(size).arg(expectedSize));
    SegmentHeader header;
    decodeSegmentHeader(data, size, &header);
    const size_t payload = size - kSegmentHeaderSize;
    if (header.length > payload || header.last > 1)
        fuzzFailure("segment header out of bounds",
                    QStringLiteral("length %1 of %2, last %3")
                        .arg(header.length)
                        .arg(payload)
                        .arg(header.last));
    static const uint8_t zeros[kMaxPacketSize] = {};
    const size_t filler = kSegmentHeaderSize + header.length;
    if (std::memcmp(data + filler, zeros, size - filler) != 0)
        fuzzFailure("segment filler is not zero",
                    QStringLiteral("segment %1 of length %2").arg(header.index).arg(header.length));
}
