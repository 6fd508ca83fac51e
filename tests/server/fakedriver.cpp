// The fake driver's operations and state.
#include "fakedriver.h"

#include "deviceinfo.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace fake {
namespace {

struct State {
    QVector<Device> cameras;
    QVector<Device> rawFiles;
    uint32_t enumerateStatus = 0;
    uint32_t reportedCameraCount = 0;
    QSet<uint32_t> failingOpens;
    QStringList calls;
    QVector<uint32_t> open;
};

std::mutex stateMutex;  // guards state(): the monitor calls from its worker
State &state()
{
    static State s;
    return s;
}

constexpr uintptr_t kHandleBase = 0x1000;

ArvexHandle handleFor(uint32_t id) { return reinterpret_cast<ArvexHandle>(uintptr_t(id) + kHandleBase); }
uint32_t idOf(ArvexHandle handle) { return uint32_t(reinterpret_cast<uintptr_t>(handle) - kHandleBase); }

void record(const QString &call) { state().calls << call; }

const Device *findDevice(uint32_t id)
{
    for (const Device &d : state().cameras)
        if (d.deviceId == id)
            return &d;
    for (const Device &d : state().rawFiles)
        if (d.deviceId == id)
            return &d;
    return nullptr;
}

uint32_t initializeDriver(void *)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("init"));
    return 0;
}

uint32_t shutdownDriver()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("shutdown"));
    return 0;
}

uint32_t enumerateDevices(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("enum %1").arg(flags));
    if (state().enumerateStatus != 0)
        return state().enumerateStatus;
    const QVector<Device> &list =
        flags == ARVEX_ENUM_CAMERAS ? state().cameras : state().rawFiles;
    const uint32_t n = std::min<uint32_t>(*count, uint32_t(list.size()));
    for (uint32_t i = 0; i < n; ++i)
        std::memcpy(infos + size_t(i) * kDeviceInfoSize, deviceInfo(list[int(i)], i + 1).constData(),
                    kDeviceInfoSize);
    *count = n;
    if (flags == ARVEX_ENUM_CAMERAS && state().reportedCameraCount)
        *count = state().reportedCameraCount;
    return 0;
}

uint32_t openDevice(uint32_t id, ArvexHandle *handle)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("open %1").arg(id));
    if (state().failingOpens.contains(id) || !findDevice(id))
        return 5;
    *handle = handleFor(id);
    state().open << id;
    return 0;
}

uint32_t closeDevice(ArvexHandle handle)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("close %1").arg(idOf(handle)));
    state().open.removeOne(idOf(handle));
    return 0;
}

uint32_t getParameter(ArvexHandle handle, uint32_t id, void *out1, void *)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    const Device *device = handle ? findDevice(idOf(handle)) : nullptr;
    if (!device)
        return 3;
    uint32_t value = 0;
    if (id == 14)
        value = device->maxWidth;
    else if (id == 15)
        value = device->maxHeight;
    else if (id == 19)
        value = device->calibration;
    else
        return 3;
    std::memcpy(out1, &value, sizeof value);
    return 0;
}

uint32_t readDefaultSettings(ArvexHandle handle, uint8_t *settings)
{
    // The wrapper must have stored the record's size before this call.
    return handle && qFromLittleEndian<uint32_t>(settings) == ARVEX_CAMERA_SETTINGS_SIZE ? 0 : 8;
}

uint32_t setDriverOption(void *, uint32_t option, uintptr_t value, uint32_t)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("option %1 %2").arg(option).arg(quint64(value)));
    return 0;
}

uint32_t setLive(ArvexHandle handle, uint32_t on)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("live %1 %2").arg(idOf(handle)).arg(on));
    return 0;
}

uint32_t stopMemoryGrab(ArvexHandle handle, uint32_t *frames)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("stopgrab %1").arg(idOf(handle)));
    *frames = 0;
    return 0;
}

uint32_t calibrateDevice(ArvexHandle handle, uint32_t argument, ArvexCalibrationCallback callback,
                         void *context)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        record(QStringLiteral("calibrate %1 %2").arg(idOf(handle)).arg(argument));
    }
    callback(context, 5, 5);
    return 0;
}

}  // namespace

QByteArray deviceInfo(const Device &device, uint32_t seed)
{
    std::vector<uint8_t> record(kDeviceInfoSize, 0);
    uint8_t *bytes = record.data();
    for (int offset = 0; offset + 4 <= DeviceInfoOffset::Text; offset += 4)
        setDeviceInfoU32(bytes, offset, 0xA0000000u | (seed << 16) | uint32_t(offset));
    setDeviceInfoU32(bytes, DeviceInfoOffset::DeviceId, device.deviceId);
    setDeviceInfoU32(bytes, DeviceInfoOffset::ModelCode, 40 + seed);
    setDeviceInfoU32(bytes, DeviceInfoOffset::SerialNumber, 1000 + seed);
    setDeviceInfoU32(bytes, DeviceInfoOffset::MicroblazeVersion, 0x0102000u + seed);
    setDeviceInfoU32(bytes, DeviceInfoOffset::FirmwareVersion, 0x0304000u + seed);
    std::memcpy(bytes + DeviceInfoOffset::Text, device.text.constData(),
                size_t(std::min(device.text.size(), DeviceInfoOffset::TextSize)));
    return QByteArray(reinterpret_cast<const char *>(bytes), kDeviceInfoSize);
}

void reset()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state() = State();
}

void setCameras(const QVector<Device> &cameras)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().cameras = cameras;
}

void setRawFiles(const QVector<Device> &rawFiles)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().rawFiles = rawFiles;
}

void setEnumerateStatus(uint32_t status)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().enumerateStatus = status;
}

void setReportedCameraCount(uint32_t count)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().reportedCameraCount = count;
}

void failOpen(uint32_t deviceId)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().failingOpens.insert(deviceId);
}

QStringList calls()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().calls;
}

void clearCalls()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state().calls.clear();
}

QVector<uint32_t> openIds()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().open;
}

const DriverTable &table()
{
    static const DriverTable t = [] {
        DriverTable d;
        d.initializeDriver = &initializeDriver;
        d.shutdownDriver = &shutdownDriver;
        d.enumerateDevices = &enumerateDevices;
        d.openDevice = &openDevice;
        d.closeDevice = &closeDevice;
        d.getParameter = &getParameter;
        d.readDefaultSettings = &readDefaultSettings;
        d.setDriverOption = &setDriverOption;
        d.setLive = &setLive;
        d.stopMemoryGrab = &stopMemoryGrab;
        d.calibrateDevice = &calibrateDevice;
        // Everything else refuses and writes nothing, so that new handlers
        // meet a driver that says no rather than a null slot.
        d.readCameraSettings = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        d.refreshCameraSettings = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        d.validateCameraSettings = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        d.readSettingsFromFlash = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        d.writeSettingsToFlash = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        d.querySetting = [](ArvexHandle, uint8_t *, uint32_t, uint32_t, uint32_t *) -> uint32_t { return 1; };
        d.getSetting = [](ArvexHandle, uint8_t *, uint32_t, uint32_t *) -> uint32_t { return 1; };
        d.setSetting = [](ArvexHandle, uint8_t *, uint32_t, uint32_t) -> uint32_t { return 1; };
        d.captureLiveImage = [](ArvexHandle, uint8_t *, uint32_t) -> uint32_t { return 1; };
        d.startMemoryGrab = [](ArvexHandle, uint32_t, uint32_t, uint32_t, uint32_t,
                               ArvexGrabFinishedCallback, uint32_t, void *) -> uint32_t { return 1; };
        d.readImageByIndex = [](ArvexHandle, uint32_t, uint32_t, uint32_t, uint8_t *) -> uint32_t { return 1; };
        d.getTriggerIndex = [](ArvexHandle, uint32_t *, uint32_t *, uint32_t *, uint32_t *) -> uint32_t { return 1; };
        d.deviceAction25 = [](ArvexHandle) -> uint32_t { return 1; };
        d.resetDevice = [](ArvexHandle) -> uint32_t { return 1; };
        d.deviceAction47 = [](ArvexHandle) -> uint32_t { return 1; };
        d.readMemoryImage = [](ArvexHandle, uint8_t *, uint32_t *) -> uint32_t { return 1; };
        d.deviceValue30 = [](ArvexHandle, uint32_t) -> uint32_t { return 1; };
        d.saveToFile = [](ArvexHandle, const char *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) -> uint32_t { return 1; };
        d.setParameter = [](ArvexHandle, uint32_t, uint32_t, uint32_t) -> uint32_t { return 1; };
        d.getStatus = [](ArvexHandle, uint32_t *, uint32_t *, uint32_t *, uint32_t *, uint32_t *, uint32_t *) -> uint32_t { return 1; };
        d.setWriteToDisk = [](ArvexHandle, uint32_t, uint8_t *, ArvexW2dProgressCallback, void *) -> uint32_t { return 1; };
        d.setPivConfig = [](ArvexHandle, const uint8_t *) -> uint32_t { return 1; };
        d.getDeviceValue = [](ArvexHandle, uint32_t, uint32_t *) -> uint32_t { return 1; };
        d.setDeviceValue = [](ArvexHandle, uint32_t, uint32_t) -> uint32_t { return 1; };
        d.getStreamingGeometry = [](ArvexHandle, uint8_t *) -> uint32_t { return 1; };
        return d;
    }();
    return t;
}

}  // namespace fake
