// The settings record: reading it from the driver's defaults, the camera and
// its flash, writing it to flash, refreshing and validating it, and single
// settings by id.
#include "qcameramonitor.h"

#include "commands_reply.h"

CommandOutcome QCameraMonitor::handleReadDefaultSettings(const MonitorRequest &)
{
    writeLog(QStringLiteral("Received ReadDefaultSettings."));
    currentDevice()->readDefaultSettings();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleReadCameraSettings(const MonitorRequest &)
{
    writeLog(QStringLiteral("Received ReadCameraSettings."));
    currentDevice()->readCameraSettings();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleRefreshCameraSettings(const MonitorRequest &request)
{
    writeLog(QStringLiteral("Received RefreshCameraSettings."));
    CameraDevice *device = currentDevice();
    device->refreshCameraSettings();
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply,
              buildWordsReply(reply, request.id, CMD_REFRESH_CAMERA_SETTINGS,
                              {device->imageBytes()}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleValidateCameraSettings(const MonitorRequest &)
{
    writeLog(QStringLiteral("Received ValidateCameraSettings."));
    currentDevice()->validateCameraSettings();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleQuerySetting(const MonitorRequest &request)
{
    uint32_t value = 0;
    currentDevice()->querySetting(request.arg(0), request.arg(1), &value);
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply, buildWordsReply(reply, request.id, CMD_QUERY_SETTING, {value}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleGetSetting(const MonitorRequest &request)
{
    uint32_t value = 0;
    currentDevice()->getSetting(request.arg(0), &value);
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply, buildWordsReply(reply, request.id, CMD_GET_SETTING, {value}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleSetSetting(const MonitorRequest &request)
{
    currentDevice()->setSetting(request.arg(0), request.arg(1));
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleReadSettingsFromFlash(const MonitorRequest &)
{
    writeLog(QStringLiteral("Received ReadSettingsFromFlash."));
    currentDevice()->readSettingsFromFlash();
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleWriteSettingsToFlash(const MonitorRequest &)
{
    writeLog(QStringLiteral("Received WriteSettingsToFlash."));
    currentDevice()->writeSettingsToFlash();
    return CommandOutcome::AckOk;
}
