// Sending a transfer's segments, paced, to the client that asked for it, and
// resending the ones a client reports missing (PKT_RESEND).
#include "qcameramonitor.h"

#include "pacing.h"
#include "transfersegment.h"

void QCameraMonitor::sendSegment(const SegmentLayout &layout, uint32_t index, bool last)
{
    const size_t size =
        buildSegmentDatagram(segmentDatagram.data(), imageBuffer.get(), layout, index, last);
    if (size == 0)
        return;
    sendTo(transferClient, dataPort, segmentDatagram.data(), size);
    // Counted from the hand-over to the socket: spacing = send time + delay.
    paceDelay(PaceClock::now(), effectiveSegmentDelay(currentDelayUs.load()));
}

uint32_t QCameraMonitor::sendImageSegments()
{
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    for (uint32_t i = 0; i < layout.count; ++i) {
        // A stopping server does not finish a long paced transfer first.
        if (status == StatusDisabled)
            break;
        sendSegment(layout, i, i + 1 == layout.count);
    }
    return layout.count;
}

void QCameraMonitor::resendSegments()
{
    const SegmentLayout layout = segmentLayout(sendSize, packetSize);
    const uint32_t count = resendList.size();
    for (uint32_t j = 0; j < count; ++j) {
        if (status == StatusDisabled)
            break;
        // In a resend the last flag marks the resend's last datagram.
        sendSegment(layout, resendList.at(j), j + 1 == count);
    }
}

void QCameraMonitor::endTransfer()
{
    transferValid = false;
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
