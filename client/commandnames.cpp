// The sub-command name table.
#include "commandnames.h"

#include "protocol.h"

namespace {

const SubCommandName kNames[] = {
    {CMD_OPEN, "open"},
    {CMD_CLOSE, "close"},
    {CMD_GET_PARAMETER, "get-parameter"},
    {CMD_SET_PARAMETER, "set-parameter"},
    {CMD_READ_DEFAULT_SETTINGS, "read-default-settings"},
    {CMD_READ_CAMERA_SETTINGS, "read-camera-settings"},
    {CMD_REFRESH_CAMERA_SETTINGS, "refresh-camera-settings"},
    {CMD_VALIDATE_CAMERA_SETTINGS, "validate-camera-settings"},
    {CMD_QUERY_SETTING, "query-setting"},
    {CMD_GET_SETTING, "get-setting"},
    {CMD_SET_SETTING, "set-setting"},
    {CMD_READ_IMAGE, "read-image"},
    {CMD_MEMORY_START_GRAB, "memory-start-grab"},
    {CMD_MEMORY_STOP_GRAB, "memory-stop-grab"},
    {CMD_GET_TRIGGER_INDEX, "get-trigger-index"},
    {CMD_ZERO_VALUE_QUERY, "zero-value-query"},
    {CMD_CALIBRATE, "calibrate"},
    {CMD_ACTION_20, "action-20"},
    {CMD_RESET, "reset"},
    {CMD_VALUE_24, "value-24"},
    {CMD_SAVE_RAW_FILE, "save-raw-file"},
    {CMD_READ_SETTINGS_FROM_FLASH, "read-settings-from-flash"},
    {CMD_WRITE_SETTINGS_TO_FLASH, "write-settings-to-flash"},
    {CMD_NOP, "nop"},
    {CMD_NOP_2, "nop-2"},
    {CMD_NOP_3, "nop-3"},
    {CMD_GET_STATUS, "get-status"},
    {CMD_ACTION_40, "action-40"},
    {CMD_WRITE_TO_DISK, "write-to-disk"},
    {CMD_LIVE, "live"},
    {CMD_PIV, "piv"},
    {CMD_GET_DEVICE_VALUE, "get-device-value"},
    {CMD_SET_DEVICE_VALUE, "set-device-value"},
    {CMD_GET_STREAMING_GEOMETRY, "get-streaming-geometry"},
    {CMD_GET_W2D_PROGRESS, "get-w2d-progress"},
    {CMD_GET_CALIBRATION_PROGRESS, "get-calibration-progress"},
};

}  // namespace

const SubCommandName *subCommandNames(int *count)
{
    *count = int(sizeof(kNames) / sizeof(kNames[0]));
    return kNames;
}

std::optional<uint32_t> parseWireNumber(const QString &text)
{
    bool ok = false;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        if (text.size() < 3 || text.at(2) == QLatin1Char('+') || text.at(2) == QLatin1Char('-'))
            return std::nullopt;
        const qulonglong v = text.mid(2).toULongLong(&ok, 16);
        if (!ok || v > 0xFFFFFFFFull)
            return std::nullopt;
        return uint32_t(v);
    }
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < -2147483648LL || v > 0xFFFFFFFFLL)
        return std::nullopt;
    return uint32_t(v);
}

std::optional<uint32_t> subCommandFromText(const QString &text)
{
    if (!text.isEmpty() && (text.at(0).isDigit() || text.at(0) == QLatin1Char('-')))
        return parseWireNumber(text);

    QString name = text.toLower();
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    if (name.startsWith(QLatin1String("cmd-")))
        name = name.mid(4);
    for (const SubCommandName &entry : kNames) {
        if (name == QLatin1String(entry.name))
            return entry.number;
    }
    return std::nullopt;
}

QString subCommandName(uint32_t number)
{
    for (const SubCommandName &entry : kNames) {
        if (entry.number == number)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}
