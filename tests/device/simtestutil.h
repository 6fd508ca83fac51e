// Helpers for the simulator tests: a driver session, options, descriptors,
// enumeration and callback recorders.
#ifndef ARVEX_TESTS_DEVICE_SIMTESTUTIL_H
#define ARVEX_TESTS_DEVICE_SIMTESTUTIL_H

#include "cameradevice.h"
#include "deviceinfo.h"
#include "drivertable.h"

#include <QByteArray>
#include <QStringList>
#include <QtEndian>

#include <cstring>

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

inline const DriverTable &simDriver() { return simulatedDriverTable(); }

inline uint32_t setOption(uint32_t option, uintptr_t value)
{
    return simDriver().setDriverOption(nullptr, option, value, 0);
}

inline uint32_t setTextOption(uint32_t option, const QByteArray &text)
{
    return setOption(option, reinterpret_cast<uintptr_t>(text.constData()));
}

// One initialize/shutdown pair with the options a test starts from.
struct SimSession {
    explicit SimSession(uint32_t frameUs = 0, uint32_t cameras = 1)
    {
        setOption(ARVEX_OPTION_SIM_FRAME_US, frameUs);
        setOption(ARVEX_OPTION_SIM_CAMERAS, cameras);
        setOption(ARVEX_OPTION_MEMORY_MB, 0);
        setTextOption(ARVEX_OPTION_RAW_FOLDER, QByteArray());
        setTextOption(ARVEX_OPTION_VOLUMES, QByteArray());
        simDriver().initializeDriver(nullptr);
    }
    ~SimSession() { simDriver().shutdownDriver(); }
    SimSession(const SimSession &) = delete;
    SimSession &operator=(const SimSession &) = delete;
};

inline QByteArray descriptorFor(uint8_t *buffer, uint32_t size)
{
    QByteArray d(ARVEX_IMAGE_DESCRIPTOR_SIZE, '\0');
    auto *p = reinterpret_cast<uint8_t *>(d.data());
    qToLittleEndian<uint64_t>(uint64_t(reinterpret_cast<uintptr_t>(buffer)), p);
    qToLittleEndian<uint32_t>(size, p + 8);
    qToLittleEndian<uint32_t>(1, p + 12);
    return d;
}

inline uint32_t captureLive(CameraDevice &device, std::vector<uint8_t> &buffer)
{
    QByteArray d = descriptorFor(buffer.data(), uint32_t(buffer.size()));
    return device.captureLiveImage(reinterpret_cast<uint8_t *>(d.data()), 5000);
}

inline uint32_t readMemory(CameraDevice &device, std::vector<uint8_t> &buffer, uint32_t k)
{
    QByteArray d = descriptorFor(buffer.data(), uint32_t(buffer.size()));
    return device.readMemoryImage(reinterpret_cast<uint8_t *>(d.data()), &k);
}

inline std::vector<QByteArray> enumerate(uint32_t flags, uint32_t capacity, uint32_t *status = nullptr)
{
    std::vector<uint8_t> infos(size_t(capacity) * kDeviceInfoSize + 1);
    uint32_t count = capacity;
    const uint32_t result = simDriver().enumerateDevices(infos.data(), &count, flags);
    if (status)
        *status = result;
    std::vector<QByteArray> out;
    for (uint32_t i = 0; result == 0 && i < count && i < capacity; ++i)
        out.emplace_back(reinterpret_cast<const char *>(infos.data()) + i * kDeviceInfoSize,
                         kDeviceInfoSize);
    return out;
}

inline uint32_t infoWord(const QByteArray &info, int offset)
{
    return deviceInfoU32(reinterpret_cast<const uint8_t *>(info.constData()), offset);
}

// A 780-byte write-to-disk record: count at 8, roots in 64-byte slots from
// 12, folder at 268.
inline QByteArray w2dRecord(uint32_t count, const QStringList &roots, const QByteArray &folder)
{
    QByteArray record(ARVEX_W2D_REQUEST_SIZE, '\0');
    auto *p = reinterpret_cast<uint8_t *>(record.data());
    qToLittleEndian<int32_t>(-5, p);
    qToLittleEndian<int32_t>(3, p + 4);
    qToLittleEndian<uint32_t>(count, p + 8);
    for (int i = 0; i < roots.size() && i < 4; ++i) {
        const QByteArray root = roots[i].toLatin1().left(64);
        std::memcpy(p + 12 + i * 64, root.constData(), size_t(root.size()));
    }
    std::memcpy(p + 268, folder.constData(), size_t(std::min(folder.size(), 512)));
    return record;
}

// Records the callbacks of one grab, calibration or write-to-disk run.
struct Recorder {
    std::atomic<int> grabDone{0};
    std::mutex mutex;  // guards the two vectors
    std::vector<std::pair<uint32_t, uint32_t>> calibration;
    std::vector<std::array<uint32_t, 4>> w2d;

    static void onGrab(void *self) { ++static_cast<Recorder *>(self)->grabDone; }
    static void onCalibration(void *self, uint32_t done, uint32_t total)
    {
        auto *r = static_cast<Recorder *>(self);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->calibration.push_back({done, total});
    }
    static void onW2d(void *self, uint32_t p, uint32_t q, uint32_t r, uint32_t s)
    {
        auto *rec = static_cast<Recorder *>(self);
        std::lock_guard<std::mutex> lock(rec->mutex);
        rec->w2d.push_back({p, q, r, s});
    }
    std::vector<std::array<uint32_t, 4>> w2dCalls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return w2d;
    }
    std::vector<std::pair<uint32_t, uint32_t>> calibrationCalls()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calibration;
    }
};

#endif
