// Discovery: filling the camera and raw-file tables from the driver, and the
// PKT_ENUMERATE and PKT_RAW_INFO replies.
#include "qcameramonitor.h"

#include "deviceinfo.h"

#include <algorithm>

namespace {

constexpr uint32_t kCameraCapacity = 4;
constexpr uint32_t kRawFileCapacity = 128;

// Fills `table` from the driver; the number of records found, 0 on failure.
int enumerateInto(const DriverTable &driver, std::vector<uint8_t> &table, uint32_t capacity,
                  uint32_t flags)
{
    if (!driver.enumerateDevices)
        return 0;
    uint32_t count = capacity;
    if (driver.enumerateDevices(table.data(), &count, flags) != 0)
        return 0;
    // A driver claiming more than it was given room for is held to the room.
    return int(std::min(count, capacity));
}

}  // namespace

void QCameraMonitor::enumerateCameras()
{
    int found = 0;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        cameraCount = 0;
        cameraCount = enumerateInto(driver, cameraInfo, kCameraCapacity, ARVEX_ENUM_CAMERAS);
        found = cameraCount;
    }
    writeLog(QStringLiteral("Enumerate Vantrel - Found %1 cameras.").arg(found));
    setRunningStatus(found > 0 ? StatusAwaitingEnumeration : StatusEnabled);
}

void QCameraMonitor::enumerateRawFiles()
{
    int found = 0;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        rawCount = 0;
        rawCount = enumerateInto(driver, rawInfo, kRawFileCapacity, ARVEX_ENUM_RAW_FILES);
        found = rawCount;
    }
    writeLog(QStringLiteral("Enumerate Raw - Found %1 raw files.").arg(found));
    setRunningStatus(found > 0 ? StatusAwaitingEnumeration : StatusEnabled);
}

QVector<QByteArray> QCameraMonitor::cameraTable() const
{
    std::lock_guard<std::mutex> lock(tableMutex);
    QVector<QByteArray> table;
    for (int i = 0; i < cameraCount; ++i)
        table.append(QByteArray(
            reinterpret_cast<const char *>(cameraInfo.data()) + i * kDeviceInfoSize,
            kDeviceInfoSize));
    return table;
}

void QCameraMonitor::handleEnumerate(const MonitorRequest &request)
{
    uint8_t reply[kDiscoveryReplySize];
    if (mode == CameraMode) {
        enumerateCameras();
        std::lock_guard<std::mutex> lock(tableMutex);
        if (cameraCount == 0)
            return;
        buildCameraEnumReply(reply, request.id, cameraInfo.data(), identity());
    } else {
        enumerateRawFiles();
        std::lock_guard<std::mutex> lock(tableMutex);
        if (rawCount == 0)
            return;
        buildRawEnumReply(reply, request.id, cameraCount > 0 ? cameraInfo.data() : nullptr,
                          rawCount, identity());
    }
    sendReply(request, reply, sizeof reply);
    setRunningStatus(StatusAwaitingConnection);
    writeLog(QStringLiteral("Received %1 enum command from add [%2], port %3.")
                 .arg(mode == CameraMode ? QStringLiteral("cam") : QStringLiteral("raw"),
                      request.sender.toString())
                 .arg(request.senderPort));
}

void QCameraMonitor::handleRawInfo(const MonitorRequest &request)
{
    const int32_t index = int32_t(request.u32(8));
    uint8_t reply[kDiscoveryReplySize];
    size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        if (index >= 0 && index < rawCount)
            size = buildRawInfoReply(reply, request.id,
                                     rawInfo.data() + size_t(index) * kDeviceInfoSize,
                                     identity());
        else
            size = buildAck(reply, request.id, PKT_RAW_INFO, RESULT_NO_RAW_FILE);
    }
    sendReply(request, reply, size);
    writeLog(QStringLiteral("Received raw info command for raw file %1.").arg(index));
}
