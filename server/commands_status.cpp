// Device state and progress: CMD_GET_STATUS, CMD_LIVE, CMD_RESET, the two
// driver actions, CMD_GET_STREAMING_GEOMETRY and the write-to-disk and
// calibration progress that driver callbacks store.
#include "qcameramonitor.h"

#include "commands_reply.h"

#include <cstring>

namespace {
// Of the 64 geometry bytes sent, the value length announces only the first 16.
constexpr uint32_t kGeometryValueLength = 16;
static_assert(kCommandValueOffset + ARVEX_STREAMING_GEOMETRY_SIZE <= kCommandReplySize,
              "the geometry fits the value area");
}  // namespace

CommandOutcome QCameraMonitor::handleGetStatus(const MonitorRequest &request)
{
    uint32_t s[6] = {};
    currentDevice()->getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]);
    writeLog(QStringLiteral("Received GetStatus = %1.%2.%3.").arg(s[0]).arg(s[1]).arg(s[2]));
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply,
              buildWordsReply(reply, request.id, CMD_GET_STATUS, {s[0], s[1], s[2], s[3], s[4], s[5]}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleLive(const MonitorRequest &request)
{
    const uint32_t on = request.arg(0);
    writeLog(QStringLiteral("Received Live(%1).").arg(on));
    CameraDevice *device = currentDevice();
    device->setLive(on);
    // Whatever the driver answered: the stop sequence then switches live off
    // once more rather than never.
    device->isLive = on != 0;
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleReset(const MonitorRequest &)
{
    currentDevice()->resetDevice();
    writeLog(QStringLiteral("Received Reset command."));
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleAction20(const MonitorRequest &)
{
    currentDevice()->deviceAction25();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleAction40(const MonitorRequest &)
{
    currentDevice()->deviceAction47();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleGetStreamingGeometry(const MonitorRequest &request)
{
    uint8_t geometry[ARVEX_STREAMING_GEOMETRY_SIZE] = {};
    if (currentDevice()->getStreamingGeometry(geometry) != 0) {
        sendAck(request, RESULT_GEOMETRY_FAILED);
        return CommandOutcome::Handled;
    }
    uint8_t reply[kCommandReplySize];
    initCommandReply(reply, request.id, CMD_GET_STREAMING_GEOMETRY, kGeometryValueLength);
    std::memcpy(reply + kCommandValueOffset, geometry, sizeof geometry);
    writeLog(QStringLiteral("Received GetStreamingGeometry."));
    sendReply(request, reply, sizeof reply);
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleGetW2dProgress(const MonitorRequest &request)
{
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply,
              buildWordsReply(reply, request.id, CMD_GET_W2D_PROGRESS,
                              {w2dProgress[0], w2dProgress[1], w2dProgress[2], w2dProgress[3]}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleGetCalibrationProgress(const MonitorRequest &request)
{
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply,
              buildWordsReply(reply, request.id, CMD_GET_CALIBRATION_PROGRESS,
                              {calibDone, calibTotal, calibComplete}));
    return CommandOutcome::Handled;
}
