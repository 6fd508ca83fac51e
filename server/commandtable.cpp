// The PKT_COMMAND sub-commands and their handlers: one line per sub-command.
// A sub-command missing here is answered as unknown.
#include "qcameramonitor.h"

QCameraMonitor::CommandHandler QCameraMonitor::commandHandler(uint32_t subCommand)
{
    struct Entry {
        uint32_t subCommand;
        CommandHandler handler;
    };
    static const Entry kCommands[] = {
        {CMD_OPEN, &QCameraMonitor::handleOpen},
        {CMD_CLOSE, &QCameraMonitor::handleClose},
        {CMD_NOP, &QCameraMonitor::handleNop},
        {CMD_NOP_2, &QCameraMonitor::handleNop},
        {CMD_NOP_3, &QCameraMonitor::handleNop},
        {CMD_GET_PARAMETER, &QCameraMonitor::handleGetParameter},
        {CMD_SET_PARAMETER, &QCameraMonitor::handleSetParameter},
        {CMD_READ_DEFAULT_SETTINGS, &QCameraMonitor::handleReadDefaultSettings},
        {CMD_READ_CAMERA_SETTINGS, &QCameraMonitor::handleReadCameraSettings},
        {CMD_REFRESH_CAMERA_SETTINGS, &QCameraMonitor::handleRefreshCameraSettings},
        {CMD_VALIDATE_CAMERA_SETTINGS, &QCameraMonitor::handleValidateCameraSettings},
        {CMD_QUERY_SETTING, &QCameraMonitor::handleQuerySetting},
        {CMD_GET_SETTING, &QCameraMonitor::handleGetSetting},
        {CMD_SET_SETTING, &QCameraMonitor::handleSetSetting},
        {CMD_ACTION_20, &QCameraMonitor::handleAction20},
        {CMD_RESET, &QCameraMonitor::handleReset},
        {CMD_VALUE_24, &QCameraMonitor::handleValue24},
        {CMD_READ_SETTINGS_FROM_FLASH, &QCameraMonitor::handleReadSettingsFromFlash},
        {CMD_WRITE_SETTINGS_TO_FLASH, &QCameraMonitor::handleWriteSettingsToFlash},
        {CMD_GET_STATUS, &QCameraMonitor::handleGetStatus},
        {CMD_ACTION_40, &QCameraMonitor::handleAction40},
        {CMD_LIVE, &QCameraMonitor::handleLive},
        {CMD_PIV, &QCameraMonitor::handlePiv},
        {CMD_GET_DEVICE_VALUE, &QCameraMonitor::handleGetDeviceValue},
        {CMD_SET_DEVICE_VALUE, &QCameraMonitor::handleSetDeviceValue},
        {CMD_GET_STREAMING_GEOMETRY, &QCameraMonitor::handleGetStreamingGeometry},
        {CMD_GET_W2D_PROGRESS, &QCameraMonitor::handleGetW2dProgress},
        {CMD_GET_CALIBRATION_PROGRESS, &QCameraMonitor::handleGetCalibrationProgress},
        {CMD_SAVE_RAW_FILE, &QCameraMonitor::handleSaveRawFile},
        {CMD_WRITE_TO_DISK, &QCameraMonitor::handleWriteToDisk},
        {CMD_READ_IMAGE, &QCameraMonitor::handleReadImage},
        {CMD_MEMORY_START_GRAB, &QCameraMonitor::handleMemoryStartGrab},
        {CMD_MEMORY_STOP_GRAB, &QCameraMonitor::handleMemoryStopGrab},
        {CMD_GET_TRIGGER_INDEX, &QCameraMonitor::handleGetTriggerIndex},
        {CMD_ZERO_VALUE_QUERY, &QCameraMonitor::handleZeroValueQuery},
        {CMD_CALIBRATE, &QCameraMonitor::handleCalibrate},
    };
    for (const Entry &entry : kCommands) {
        if (entry.subCommand == subCommand)
            return entry.handler;
    }
    return nullptr;
}
