// Sending a transfer's segments, paced, to the client that asked for it, and
// resending the ones a client reports missing (PKT_RESEND).
#include "qcameramonitor.h"

#include "pacing.h"
#include "replysink.h"
#include "transfersegment.h"

#include <QUdpSocket>

void QCameraMonitor::prepareSegmentStream()
{
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    segmentStreamReady = imageBuffer && compressBuffer && sendSize <= bufferCapacity &&
                         segmentStreamBytes(layout) <= bufferCapacity + kSegmentStreamOverhead;
    if (segmentStreamReady)
        buildSegmentStream(compressBuffer.get(), imageBuffer.get(), layout);
}

bool QCameraMonitor::segmentsToSocket()
{
    if (externalSink || !socket)
        return false;
    batchSender.attach(int(socket->socketDescriptor()));
    return batchSender.setDestination(transferClient, dataPort);
}

void QCameraMonitor::sendDatagrams(const uint8_t *datagrams, size_t packet, uint32_t count,
                                   bool toSocket, uint32_t delayUs)
{
    if (toSocket) {
        batchSender.sendRun(datagrams, packet, count);
        // Counted from the hand-over to the socket: spacing = send time + delay.
        paceDelay(PaceClock::now(), delayUs);
        return;
    }
    // A test's sink sees every datagram on its own, as the socket would.
    for (uint32_t k = 0; k < count; ++k) {
        sendTo(transferClient, dataPort, datagrams + k * packet, packet);
        paceDelay(PaceClock::now(), delayUs);
    }
}

void QCameraMonitor::noteDroppedSegments(uint64_t droppedBefore)
{
    const uint64_t dropped = batchSender.counters().dropped - droppedBefore;
    if (dropped)
        writeLog(QStringLiteral("%1 image segments not sent: the socket refused them or its "
                                "send buffer stayed full.")
                     .arg(dropped));
}

uint32_t QCameraMonitor::sendImageSegments()
{
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    if (!segmentStreamReady)
        prepareSegmentStream();
    const size_t packet = kSegmentHeaderSize + layout.payload;
    const bool toSocket = segmentsToSocket();
    const uint32_t run = toSocket ? batchSender.runCapacity(packet) : kMaxRunDatagrams;
    const uint64_t droppedBefore = batchSender.counters().dropped;
    uint32_t i = 0;
    while (i < layout.count) {
        // A stopping server does not finish a long paced transfer first.
        if (status == StatusDisabled)
            break;
        // Read at every datagram, as the owner may change it meanwhile. A
        // delay paces each datagram; without one a run goes in one call.
        const uint32_t delay = effectiveSegmentDelay(currentDelayUs.load());
        const uint32_t count = delay != 0 ? 1 : std::min(run, layout.count - i);
        if (segmentStreamReady) {
            sendDatagrams(compressBuffer.get() + i * packet, packet, count, toSocket, delay);
            i += count;
        } else {
            // The datagrams are not laid out: one at a time.
            buildSegmentDatagram(segmentDatagram.data(), imageBuffer.get(), layout, i,
                                 i + 1 == layout.count);
            sendDatagrams(segmentDatagram.data(), packet, 1, toSocket, delay);
            ++i;
        }
    }
    // The next image's compression overwrites it.
    segmentStreamReady = false;
    noteDroppedSegments(droppedBefore);
    return layout.count;
}

void QCameraMonitor::resendSegments()
{
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    const size_t packet = kSegmentHeaderSize + layout.payload;
    const bool toSocket = segmentsToSocket();
    const uint64_t droppedBefore = batchSender.counters().dropped;
    const uint32_t count = resendList.size();
    for (uint32_t j = 0; j < count; ++j) {
        if (status == StatusDisabled)
            break;
        // In a resend the last flag marks the resend's last datagram.
        if (buildSegmentDatagram(segmentDatagram.data(), imageBuffer.get(), layout,
                                 resendList.at(j), j + 1 == count) == 0)
            continue;
        sendDatagrams(segmentDatagram.data(), packet, 1, toSocket,
                      effectiveSegmentDelay(currentDelayUs.load()));
    }
    noteDroppedSegments(droppedBefore);
}

void QCameraMonitor::endTransfer()
{
    transferValid = false;
    segmentStreamReady = false;
    sendSize = 0;
    resendList.clear();
}

void QCameraMonitor::handleResend(const MonitorRequest &request)
{
    // Never answered, whatever happens here.
    if (!transferValid || !imageBuffer || sendSize > bufferCapacity) {
        writeLog(QStringLiteral("Resend request from %1 port %2 ignored: no image to resend.")
                     .arg(request.sender.toString())
                     .arg(request.senderPort));
        return;
    }
    if (request.sender != transferClient || request.senderPort != transferClientPort) {
        writeLog(QStringLiteral("Resend request from %1 port %2 ignored: the image was "
                                "requested by %3 port %4.")
                     .arg(request.sender.toString())
                     .arg(request.senderPort)
                     .arg(transferClient.toString())
                     .arg(transferClientPort));
        return;
    }
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    const ResendAppend added =
        resendList.appendFromDatagram(request.data, request.length, layout.count);
    if (added.outOfRange || added.notCarried || added.overCapacity)
        writeLog(QStringLiteral("Resend request clipped: %1 indices declared, %2 taken; %3 not "
                                "below the %4 segments, %5 not in the datagram, %6 over the "
                                "list's %7.")
                     .arg(added.declared)
                     .arg(added.appended)
                     .arg(added.outOfRange)
                     .arg(layout.count)
                     .arg(added.notCarried)
                     .arg(added.overCapacity)
                     .arg(resendList.capacity()));
    // Every datagram of a request backs off, the final one included.
    currentDelayUs = int(raisedSegmentDelay(currentDelayUs.load(), resendDelayStep(packetSize)));
    if (!resendDatagramIsFinal(request.data, request.length))
        return;

    setRunningStatus(StatusResending);
    resendSegments();
    writeLog(QStringLiteral("Resending image data: %1 packets").arg(resendList.size()));
    resendList.clear();
    currentDelayUs = baseDelayUs.load();
    setRunningStatus(StatusConnected);
}
