// CameraDevice on a fake driver table: open/close rules and image queries.
#include "cameradevice.h"

#include <QtEndian>
#include <QtTest>

#include <map>

namespace {

// What the fake driver saw and will answer.
struct Fake {
    uint32_t openStatus = 0;
    uint32_t readDefaultStatus = 0;
    int openCalls = 0;
    int readDefaultCalls = 0;
    int closeCalls = 0;
    ArvexHandle closedHandle = nullptr;
    uint32_t sizeWordSeen = 0;
    ArvexHandle lastHandle = reinterpret_cast<ArvexHandle>(1);
    uint8_t *lastSettings = nullptr;
    std::map<uint32_t, uint32_t> settings;
};
Fake fake;

ArvexHandle const kFakeHandle = reinterpret_cast<ArvexHandle>(uintptr_t(0xC0FFEE));

uint32_t fakeOpen(uint32_t, ArvexHandle *handle)
{
    ++fake.openCalls;
    if (fake.openStatus == 0)
        *handle = kFakeHandle;
    return fake.openStatus;
}

uint32_t fakeReadDefault(ArvexHandle, uint8_t *settings)
{
    ++fake.readDefaultCalls;
    fake.sizeWordSeen = qFromLittleEndian<uint32_t>(settings);
    return fake.readDefaultStatus;
}

uint32_t fakeClose(ArvexHandle handle)
{
    ++fake.closeCalls;
    fake.closedHandle = handle;
    return 0;
}

uint32_t fakeGetSetting(ArvexHandle handle, uint8_t *settings, uint32_t id, uint32_t *out)
{
    fake.lastHandle = handle;
    fake.lastSettings = settings;
    const auto it = fake.settings.find(id);
    if (it == fake.settings.end())
        return 1;
    *out = it->second;
    return 0;
}

uint32_t fakeGetStatus(ArvexHandle handle, uint32_t *, uint32_t *, uint32_t *, uint32_t *,
                       uint32_t *, uint32_t *)
{
    fake.lastHandle = handle;
    return 0;
}

DriverTable fakeTable()
{
    DriverTable table;
    table.openDevice = fakeOpen;
    table.readDefaultSettings = fakeReadDefault;
    table.closeDevice = fakeClose;
    table.getSetting = fakeGetSetting;
    table.getStatus = fakeGetStatus;
    return table;
}

}  // namespace

class TestCameraDevice : public QObject
{
    Q_OBJECT

    DriverTable table = fakeTable();

private slots:
    void init() { fake = Fake(); }

    void openFailureSkipsDefaults()
    {
        fake.openStatus = 7;
        CameraDevice device(table);
        QCOMPARE(device.open(0x101), 7u);
        QCOMPARE(device.isOpen, false);
        QCOMPARE(fake.readDefaultCalls, 0);
        QCOMPARE(device.deviceId, 0x101u);
        QVERIFY(device.handle == nullptr);
    }

    void openWritesSizeWordBeforeDefaults()
    {
        CameraDevice device(table);
        memset(device.settings, 0xAB, sizeof(device.settings));
        QCOMPARE(device.open(0x10003), 0u);
        QCOMPARE(fake.readDefaultCalls, 1);
        QCOMPARE(fake.sizeWordSeen, 1024u);
        QCOMPARE(device.isOpen, true);
        QVERIFY(device.handle == kFakeHandle);
        QCOMPARE(device.deviceId, 0x10003u);
    }

    void failedDefaultsLeaveClosed()
    {
        fake.readDefaultStatus = 4;
        CameraDevice device(table);
        QCOMPARE(device.open(0x101), 4u);
        QCOMPARE(device.isOpen, false);
    }

    void closeWithoutHandleCallsNothing()
    {
        CameraDevice device(table);
        device.isOpen = true;
        device.close();
        QCOMPARE(fake.closeCalls, 0);
        QCOMPARE(device.isOpen, false);
    }

    void closeReleasesHandleAndKeepsFlags()
    {
        CameraDevice device(table);
        QCOMPARE(device.open(0x101), 0u);
        device.isLive = true;
        device.isGrabbing = true;
        device.close();
        QCOMPARE(fake.closeCalls, 1);
        QVERIFY(fake.closedHandle == kFakeHandle);
        QVERIFY(device.handle == nullptr);
        QCOMPARE(device.isOpen, false);
        QCOMPARE(device.isLive.load(), true);
        QCOMPARE(device.isGrabbing.load(), true);
    }

    void closeDeviceKeepsIsOpen()
    {
        CameraDevice device(table);
        QCOMPARE(device.open(0x101), 0u);
        device.closeDevice();
        QCOMPARE(fake.closeCalls, 1);
        QVERIFY(device.handle == nullptr);
        QCOMPARE(device.isOpen, true);
        device.closeDevice();
        QCOMPARE(fake.closeCalls, 1);
    }

    void imageBytes_data()
    {
        QTest::addColumn<uint32_t>("bits");
        QTest::addColumn<uint32_t>("bytes");
        QTest::addColumn<uint32_t>("channels");
        QTest::newRow("8") << 8u << 1000u << 1u;
        QTest::newRow("12") << 12u << 2000u << 1u;
        QTest::newRow("16") << 16u << 2000u << 1u;
        QTest::newRow("17") << 17u << 3000u << 3u;
        QTest::newRow("24") << 24u << 3000u << 3u;
        QTest::newRow("32") << 32u << 6000u << 3u;
    }

    // Through the wrapper, so the setting ids 3, 109 and 110 are checked too.
    void imageBytes()
    {
        QFETCH(uint32_t, bits);
        QFETCH(uint32_t, bytes);
        QFETCH(uint32_t, channels);
        fake.settings = {{3, bits}, {109, 100}, {110, 10}};
        CameraDevice device(table);
        QCOMPARE(device.open(0x101), 0u);
        QCOMPARE(device.imageBytes(), bytes);
        QCOMPARE(device.channelCount(), channels);
        QVERIFY(fake.lastHandle == kFakeHandle);
        QVERIFY(fake.lastSettings == device.settings);
        QCOMPARE(imageBytesFor(100, 10, bits), bytes);
        QCOMPARE(channelCountFor(bits), channels);
    }

    // A driver reporting a huge geometry must not wrap to a small size.
    void imageBytesSaturates()
    {
        QCOMPARE(imageBytesFor(65536, 65536, 8), UINT32_MAX);
        QCOMPARE(imageBytesFor(40000, 40000, 48), UINT32_MAX);
        QCOMPARE(imageBytesFor(65535, 65535, 8), 65535u * 65535u);
    }

    void queriesReadZeroWhenDriverSaysNothing()
    {
        CameraDevice device(table);
        QCOMPARE(device.bitsPerPixel(), 0u);
        QCOMPARE(device.imageBytes(), 0u);
    }

    void closedDevicePassesHandleZero()
    {
        CameraDevice device(table);
        uint32_t s[6] = {};
        QCOMPARE(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QVERIFY(fake.lastHandle == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestCameraDevice)
#include "tst_cameradevice.moc"
