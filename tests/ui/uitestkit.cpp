// Test helpers for the windows: a fixed adapter list, the simulated driver
// with camera records of the test's choosing, and an isolated settings store.
#include "uitestkit.h"

#include "deviceinfo.h"
#include "drivertable.h"
#include "settingsadapters.h"

#include <QDir>
#include <QMutex>
#include <QTemporaryDir>

#include <cstring>

namespace uitest {
namespace {

QMutex &lock()
{
    static QMutex mutex;
    return mutex;
}

QVector<QByteArray> &cameras()
{
    static QVector<QByteArray> records;
    return records;
}

QByteArray &rawFolder()
{
    static QByteArray folder;
    return folder;
}

DriverTable &table()
{
    static DriverTable driver;
    return driver;
}

uint32_t enumerate(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    if (!(flags & ARVEX_ENUM_CAMERAS))
        return simulatedDriverTable().enumerateDevices(infos, count, flags);
    QMutexLocker locker(&lock());
    const uint32_t n = qMin<uint32_t>(*count, uint32_t(cameras().size()));
    for (uint32_t i = 0; i < n; ++i)
        std::memcpy(infos + i * kDeviceInfoSize, cameras().at(int(i)).constData(), kDeviceInfoSize);
    *count = n;
    return 0;
}

uint32_t setOption(void *reserved, uint32_t option, uintptr_t value, uint32_t extra)
{
    if (option == ARVEX_OPTION_RAW_FOLDER) {
        QMutexLocker locker(&lock());
        rawFolder() = QByteArray(reinterpret_cast<const char *>(value));
    }
    return simulatedDriverTable().setDriverOption(reserved, option, value, extra);
}

void copyText(char *field, const char *text)
{
    std::strncpy(field, text, 255);
    field[255] = '\0';
}

}  // namespace

AdapterInfo adapter(const char *name, const char *description, uint32_t ip, const char *mac,
                    uint32_t mtu)
{
    AdapterInfo info;
    std::memset(&info, 0, sizeof info);
    copyText(info.name, name);
    copyText(info.description, description);
    copyText(info.macText, mac);
    info.ipAddress = ip;
    info.ipMask = 0xFF000000;
    info.mtu = mtu;
    return info;
}

QVector<AdapterInfo> loopbackPair()
{
    return {adapter("lo-a", "Loopback A", kLoopbackA, "02:00:00:00:00:0A"),
            adapter("lo-b", "Loopback B", kLoopbackB, "02:00:00:00:00:0B")};
}

void useAdapters(const QVector<AdapterInfo> &list)
{
    setAdapterLister([list](AdapterInfo *out, int capacity) {
        const int n = qMin(capacity, list.size());
        for (int i = 0; i < n; ++i)
            out[i] = list.at(i);
        return n;
    });
}

QByteArray cameraRecord(uint32_t model, uint32_t serial, uint32_t microblaze, uint32_t word24,
                        uint32_t firmware)
{
    uint8_t bytes[kDeviceInfoSize] = {};
    setDeviceInfoU32(bytes, DeviceInfoOffset::DeviceId, 1);
    setDeviceInfoU32(bytes, DeviceInfoOffset::ModelCode, model);
    setDeviceInfoU32(bytes, DeviceInfoOffset::SerialNumber, serial);
    setDeviceInfoU32(bytes, DeviceInfoOffset::MicroblazeVersion, microblaze);
    setDeviceInfoU32(bytes, DeviceInfoOffset::Word24, word24);
    setDeviceInfoU32(bytes, DeviceInfoOffset::FirmwareVersion, firmware);
    return QByteArray(reinterpret_cast<const char *>(bytes), kDeviceInfoSize);
}

void useCameras(const QVector<QByteArray> &records)
{
    QMutexLocker locker(&lock());
    cameras() = records;
}

QByteArray lastRawFolder()
{
    QMutexLocker locker(&lock());
    return rawFolder();
}

void isolateStorage()
{
    static QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
}

void installDriver()
{
    table() = simulatedDriverTable();
    table().enumerateDevices = enumerate;
    table().setDriverOption = setOption;
    setActiveDriver(table());
}

}  // namespace uitest
