// The small image commands: memory grab start and stop with its completion
// callback, trigger index, zero-value query and calibration.
#include "qcameramonitor.h"

CommandOutcome QCameraMonitor::handleMemoryStartGrab(const MonitorRequest &request)
{
    const uint32_t frames = request.arg(0);
    const uint32_t trigger = request.arg(1);
    writeLog(QStringLiteral("Received MemoryStartGrab(%1,%2).").arg(frames).arg(trigger));
    CameraDevice &device = *currentDevice();
    const uint32_t result =
        device.startMemoryGrab(0, 0, frames, trigger, &QCameraMonitor::onGrabFinished, 3, this);
    // A grab that did not start never calls back: a flag set for it would
    // stay set. The driver's refusal is still acknowledged with 0.
    if (result == 0)
        device.isGrabbing = true;
    return CommandOutcome::AckOk;
}

void QCameraMonitor::onGrabFinished(void *context)
{
    // Any driver thread, at any time, even after a raw file was closed and
    // destroyed: touch only the camera, a member as long-lived as the
    // monitor, and only its atomic flag. No lock, so that a driver calling
    // back from inside close or stop cannot deadlock against the worker.
    auto *monitor = static_cast<QCameraMonitor *>(context);
    monitor->defaultDevice.isGrabbing = false;
}

CommandOutcome QCameraMonitor::handleMemoryStopGrab(const MonitorRequest &request)
{
    uint32_t frames = 0;
    currentDevice()->stopMemoryGrab(&frames);
    writeLog(QStringLiteral("Received MemoryStopGrab = %1.").arg(frames));
    uint8_t reply[kCommandReplySize];
    initCommandReply(reply, request.id, request.subCommand, 4);
    writeU32(reply, 16, frames);
    sendReply(request, reply, kCommandReplySize);
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleGetTriggerIndex(const MonitorRequest &request)
{
    uint32_t p = 0, q = 0, r = 0, s = 0;
    currentDevice()->getTriggerIndex(&p, &q, &r, &s);
    writeLog(QStringLiteral("Received Get Trigger Index: %1 (Time %2).").arg(r).arg(s));
    uint8_t reply[kCommandReplySize];
    initCommandReply(reply, request.id, request.subCommand, 16);
    writeU32(reply, 16, p);
    writeU32(reply, 20, q);
    writeU32(reply, 24, r);
    writeU32(reply, 28, s);
    sendReply(request, reply, kCommandReplySize);
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleZeroValueQuery(const MonitorRequest &request)
{
    uint8_t reply[kCommandReplySize];
    initCommandReply(reply, request.id, CMD_ZERO_VALUE_QUERY, 4);
    writeU32(reply, 16, 0);
    sendReply(request, reply, kCommandReplySize);
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleCalibrate(const MonitorRequest &request)
{
    const uint32_t calibrationMode = request.arg(0);
    writeLog(QStringLiteral("Received Calibrate command: %1").arg(calibrationMode));
    sendAck(request, RESULT_OK);
    // Runs later on the owner's thread (queued), never in the receive loop.
    emit calibrate(int(calibrationMode));
    return CommandOutcome::Handled;
}
