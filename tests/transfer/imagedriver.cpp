// The transfer tests' driver.
#include "imagedriver.h"

#include "deviceinfo.h"
#include "testpattern.h"
#include "cameradevice.h"

#include <QtEndian>

#include <cstring>
#include <mutex>
#include <vector>

namespace imagefake {
namespace {

struct State {
    Config config;
    QStringList calls;
    QByteArray descriptor;
    uint32_t live = 0;
    ArvexGrabFinishedCallback grabCallback = nullptr;
    void *grabContext = nullptr;
};

std::mutex stateMutex;  // the worker calls in while the test thread reads
State &state()
{
    static State s;
    return s;
}

const ArvexHandle kHandle = reinterpret_cast<ArvexHandle>(uintptr_t(0x5000));

void record(const QString &call) { state().calls << call; }

uint32_t renderInto(uint8_t *out, uint32_t frame)
{
    const Config &c = state().config;
    renderTestPattern(out, c.width, c.height, c.bitsPerPixel, frame);
    return 0;
}

uint32_t enumerateDevices(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    if (flags != ARVEX_ENUM_CAMERAS || *count == 0) {
        *count = 0;
        return 0;
    }
    std::memset(infos, 0, kDeviceInfoSize);
    setDeviceInfoU32(infos, DeviceInfoOffset::DeviceId, kCameraId);
    *count = 1;
    return 0;
}

uint32_t openDevice(uint32_t id, ArvexHandle *handle)
{
    if (id != kCameraId)
        return 5;
    *handle = kHandle;
    return 0;
}

uint32_t getParameter(ArvexHandle handle, uint32_t id, void *out1, void *)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    if (handle != kHandle)
        return 3;
    uint32_t value = 0;
    if (id == 14)
        value = state().config.maxWidth;
    else if (id == 15)
        value = state().config.maxHeight;
    else if (id != 19)
        return 3;
    std::memcpy(out1, &value, sizeof value);
    return 0;
}

uint32_t getSetting(ArvexHandle handle, uint8_t *, uint32_t id, uint32_t *out)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    if (handle != kHandle)
        return 3;
    const Config &c = state().config;
    if (id == 3)
        *out = c.bitsPerPixel;
    else if (id == 109)
        *out = c.width;
    else if (id == 110)
        *out = c.height;
    else
        return 3;
    return 0;
}

uint32_t captureLiveImage(ArvexHandle handle, uint8_t *descriptor, uint32_t timeoutMs)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("live %1").arg(timeoutMs));
    state().descriptor = QByteArray(reinterpret_cast<const char *>(descriptor),
                                    ARVEX_IMAGE_DESCRIPTOR_SIZE);
    if (handle != kHandle || state().config.readStatus)
        return state().config.readStatus ? state().config.readStatus : 1;
    auto *buffer = reinterpret_cast<uint8_t *>(uintptr_t(qFromLittleEndian<uint64_t>(descriptor)));
    const Config &c = state().config;
    if (qFromLittleEndian<uint32_t>(descriptor + 8) < imageBytesFor(c.width, c.height, c.bitsPerPixel))
        return 4;
    return renderInto(buffer, state().live++);
}

uint32_t readMemoryImage(ArvexHandle handle, uint8_t *descriptor, uint32_t *index)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("memory %1").arg(*index));
    state().descriptor = QByteArray(reinterpret_cast<const char *>(descriptor),
                                    ARVEX_IMAGE_DESCRIPTOR_SIZE);
    if (handle != kHandle || state().config.readStatus)
        return state().config.readStatus ? state().config.readStatus : 1;
    auto *buffer = reinterpret_cast<uint8_t *>(uintptr_t(qFromLittleEndian<uint64_t>(descriptor)));
    return renderInto(buffer, *index);
}

uint32_t readImageByIndex(ArvexHandle handle, uint32_t zero1, uint32_t zero2, uint32_t index,
                          uint8_t *buffer)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("index %1 %2 %3").arg(zero1).arg(zero2).arg(index));
    if (handle != kHandle || state().config.readStatus)
        return state().config.readStatus ? state().config.readStatus : 1;
    return renderInto(buffer, index);
}

uint32_t startMemoryGrab(ArvexHandle, uint32_t, uint32_t, uint32_t a, uint32_t b,
                         ArvexGrabFinishedCallback callback, uint32_t three, void *context)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("startgrab %1 %2 %3").arg(a).arg(b).arg(three));
    state().grabCallback = callback;
    state().grabContext = context;
    return state().config.startGrabStatus;
}

uint32_t stopMemoryGrab(ArvexHandle, uint32_t *frames)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("stopgrab"));
    *frames = state().config.stopGrabFrames;
    return 0;
}

uint32_t getTriggerIndex(ArvexHandle, uint32_t *p, uint32_t *q, uint32_t *r, uint32_t *s)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    record(QStringLiteral("trigger"));
    const uint32_t *t = state().config.trigger;
    *p = t[0];
    *q = t[1];
    *r = t[2];
    *s = t[3];
    return 0;
}

uint32_t calibrateDevice(ArvexHandle, uint32_t argument, ArvexCalibrationCallback callback,
                         void *context)
{
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        record(QStringLiteral("calibrate %1").arg(argument));
    }
    callback(context, 10, 10);
    return 0;
}

}  // namespace

void reset(const Config &c)
{
    std::lock_guard<std::mutex> lock(stateMutex);
    state() = State();
    state().config = c;
}

Config &config() { return state().config; }

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

QByteArray lastDescriptor()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().descriptor;
}

uint32_t liveFrames()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().live;
}

ArvexGrabFinishedCallback grabCallback()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().grabCallback;
}

void *grabContext()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    return state().grabContext;
}

const DriverTable &table()
{
    static const DriverTable t = [] {
        DriverTable d;
        d.initializeDriver = [](void *) -> uint32_t { return 0; };
        d.shutdownDriver = []() -> uint32_t { return 0; };
        d.enumerateDevices = &enumerateDevices;
        d.openDevice = &openDevice;
        d.closeDevice = [](ArvexHandle) -> uint32_t { return 0; };
        d.getParameter = &getParameter;
        d.readDefaultSettings = [](ArvexHandle, uint8_t *) -> uint32_t { return 0; };
        d.getSetting = &getSetting;
        d.setDriverOption = [](void *, uint32_t, uintptr_t, uint32_t) -> uint32_t { return 0; };
        d.captureLiveImage = &captureLiveImage;
        d.readMemoryImage = &readMemoryImage;
        d.readImageByIndex = &readImageByIndex;
        d.startMemoryGrab = &startMemoryGrab;
        d.stopMemoryGrab = &stopMemoryGrab;
        d.getTriggerIndex = &getTriggerIndex;
        d.calibrateDevice = &calibrateDevice;
        d.setLive = [](ArvexHandle, uint32_t) -> uint32_t { return 0; };
        return d;
    }();
    return t;
}

}  // namespace imagefake
