// The simulated camera through CameraDevice: enumeration, open/close,
// handle checks, parameters, the settings record, flash and small values.
#include "simtestutil.h"

#include <QtTest>

#include <cstring>
#include <set>
#include <thread>

namespace {

constexpr uint32_t kCamera0 = 0x100;

uint32_t setting(CameraDevice &device, uint32_t id)
{
    uint32_t value = 0xFFFFFFFF;
    device.getSetting(id, &value);
    return value;
}

}  // namespace

class TestSimCamera : public QObject
{
    Q_OBJECT

private slots:
    void enumeratesCameras_data()
    {
        QTest::addColumn<uint32_t>("cameras");
        QTest::addColumn<uint32_t>("capacity");
        QTest::addColumn<uint32_t>("found");
        QTest::newRow("none") << 0u << 4u << 0u;
        QTest::newRow("default one") << 1u << 4u << 1u;
        QTest::newRow("four") << 4u << 4u << 4u;
        QTest::newRow("four, room for two") << 4u << 2u << 2u;
        QTest::newRow("room for none") << 3u << 0u << 0u;
    }

    void enumeratesCameras()
    {
        QFETCH(uint32_t, cameras);
        QFETCH(uint32_t, capacity);
        QFETCH(uint32_t, found);
        SimSession session(0, cameras);
        uint32_t status = 1;
        const auto infos = enumerate(ARVEX_ENUM_CAMERAS, capacity, &status);
        QCOMPARE(status, 0u);
        QCOMPARE(uint32_t(infos.size()), found);
        std::set<uint32_t> ids, serials;
        for (const QByteArray &info : infos) {
            const uint32_t id = infoWord(info, DeviceInfoOffset::DeviceId);
            QVERIFY(id >= 0x100 && id < 0x104);
            QCOMPARE(id & 0xFFFF0000u, 0u);  // never mistaken for a raw file
            const uint32_t model = infoWord(info, DeviceInfoOffset::ModelCode);
            QVERIFY(model >= 46 && model <= 57 && model != 55 && model != 56);
            QVERIFY(infoWord(info, DeviceInfoOffset::MicroblazeVersion) != 0);
            QVERIFY(infoWord(info, DeviceInfoOffset::FirmwareVersion) != 0);
            QCOMPARE(infoWord(info, DeviceInfoOffset::Word24) - 3, 1u);
            QCOMPARE(infoWord(info, DeviceInfoOffset::Word52), 1280u);
            const size_t length = deviceInfoTextLength(reinterpret_cast<const uint8_t *>(info.constData()));
            QVERIFY(length > 0 && length < 128);
            ids.insert(id);
            serials.insert(infoWord(info, DeviceInfoOffset::SerialNumber));
        }
        QCOMPARE(uint32_t(ids.size()), found);
        QCOMPARE(uint32_t(serials.size()), found);
    }

    void enumerationRefusals()
    {
        SimSession session;
        uint8_t infos[kDeviceInfoSize];
        uint32_t count = 1;
        QVERIFY(simDriver().enumerateDevices(infos, &count, 0) != 0);
        QVERIFY(simDriver().enumerateDevices(infos, nullptr, ARVEX_ENUM_CAMERAS) != 0);
        QVERIFY(simDriver().enumerateDevices(nullptr, &count, ARVEX_ENUM_CAMERAS) != 0);
        QVERIFY(setOption(ARVEX_OPTION_SIM_CAMERAS, 5) != 0);
        QCOMPARE(enumerate(ARVEX_ENUM_CAMERAS, 4).size(), size_t(1));
    }

    void openAndClose()
    {
        SimSession session(0, 2);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        QVERIFY(device.isOpen);
        QVERIFY(device.handle != nullptr);
        QCOMPARE(qFromLittleEndian<uint32_t>(device.settings), 1024u);
        QCOMPARE(setting(device, 3), 8u);
        QCOMPARE(setting(device, 109), 1280u);
        QCOMPARE(setting(device, 110), 1024u);
        QCOMPARE(device.imageBytes(), 1280u * 1024u);

        CameraDevice twice(simDriver());
        QVERIFY(twice.open(kCamera0) != 0);   // one owner per camera
        QVERIFY(!twice.isOpen);
        CameraDevice second(simDriver());
        QCOMPARE(second.open(kCamera0 + 1), 0u);
        CameraDevice absent(simDriver());
        QVERIFY(absent.open(kCamera0 + 2) != 0);   // only two cameras
        QVERIFY(absent.open(0x10000) != 0);        // no raw files
        QVERIFY(absent.open(0x7) != 0);

        const ArvexHandle old = device.handle;
        device.close();
        QVERIFY(!device.isOpen);
        QCOMPARE(twice.open(kCamera0), 0u);
        QVERIFY(twice.handle != old);   // a stale handle never comes back
        uint32_t s = 0;
        QVERIFY(simDriver().getStatus(old, &s, &s, &s, &s, &s, &s) != 0);
    }

    // Handle 0, a stale handle and a made-up one are refused by every
    // operation that takes a handle, without touching the outputs.
    void badHandlesRefused_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("zero") << 0;
        QTest::newRow("stale") << 1;
        QTest::newRow("garbage") << 2;
    }

    void badHandlesRefused()
    {
        QFETCH(int, kind);
        SimSession session;
        ArvexHandle h = nullptr;
        if (kind == 1) {
            QCOMPARE(simDriver().openDevice(kCamera0, &h), 0u);
            QCOMPARE(simDriver().closeDevice(h), 0u);
        } else if (kind == 2) {
            h = reinterpret_cast<ArvexHandle>(uintptr_t(0xDEADBEEF));
        }
        const DriverTable &t = simDriver();
        uint8_t settings[ARVEX_CAMERA_SETTINGS_SIZE] = {};
        qToLittleEndian<uint32_t>(1024, settings);
        std::vector<uint8_t> image(64);
        QByteArray d = descriptorFor(image.data(), 64);
        auto *desc = reinterpret_cast<uint8_t *>(d.data());
        uint8_t record[ARVEX_W2D_REQUEST_SIZE] = {};
        uint32_t o[6] = {};
        uint32_t k = 0;
        const uint32_t results[] = {
            t.closeDevice(h),
            t.getParameter(h, 14, &o[0], &o[1]),
            t.readDefaultSettings(h, settings),
            t.readCameraSettings(h, settings),
            t.refreshCameraSettings(h, settings),
            t.validateCameraSettings(h, settings),
            t.querySetting(h, settings, 3, 0, &o[0]),
            t.getSetting(h, settings, 3, &o[0]),
            t.setSetting(h, settings, 3, 10),
            t.captureLiveImage(h, desc, 5000),
            t.startMemoryGrab(h, 0, 0, 1, 0, Recorder::onGrab, 3, nullptr),
            t.stopMemoryGrab(h, &o[0]),
            t.readImageByIndex(h, 0, 0, 0, image.data()),
            t.getTriggerIndex(h, &o[0], &o[1], &o[2], &o[3]),
            t.calibrateDevice(h, 0, Recorder::onCalibration, nullptr),
            t.deviceAction25(h),
            t.resetDevice(h),
            t.readMemoryImage(h, desc, &k),
            t.deviceValue30(h, 1),
            t.saveToFile(h, "/tmp/never.raw", 0, 0, 0, 0, 0),
            t.readSettingsFromFlash(h, settings),
            t.writeSettingsToFlash(h, settings),
            t.setParameter(h, 500, 1, 1),
            t.getStatus(h, &o[0], &o[1], &o[2], &o[3], &o[4], &o[5]),
            t.deviceAction47(h),
            t.setWriteToDisk(h, 1, record, Recorder::onW2d, nullptr),
            t.setLive(h, 1),
            t.setPivConfig(h, record),
            t.getDeviceValue(h, 0, &o[0]),
            t.setDeviceValue(h, 5000, 1),
            t.getStreamingGeometry(h, record),
        };
        for (size_t i = 0; i < sizeof(results) / sizeof(results[0]); ++i)
            QVERIFY2(results[i] != 0, qPrintable(QStringLiteral("operation %1 accepted the handle").arg(i)));
        for (uint32_t v : o)
            QCOMPARE(v, 0u);
        QCOMPARE(qFromLittleEndian<uint32_t>(settings + 8), 0u);
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/never.raw")));
    }

    void parameters()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        uint32_t a = 9, b = 9;
        QCOMPARE(device.getParameter(14, &a, &b), 0u);
        QCOMPARE(a, 1280u);
        QCOMPARE(device.getParameter(15, &a, &b), 0u);
        QCOMPARE(a, 1024u);
        QCOMPARE(device.getParameter(19, &a, &b), 0u);
        QCOMPARE(a, 0u);   // no calibration yet

        for (uint32_t id : {35u, 1016u}) {
            char text[160];
            std::memset(text, 'x', sizeof(text));
            QCOMPARE(device.getParameter(id, text, nullptr), 0u);
            const void *nul = std::memchr(text, 0, sizeof(text));
            QVERIFY(nul);
            QVERIFY(static_cast<const char *>(nul) - text > 0);
        }
        uint8_t block[160] = {};
        QCOMPARE(device.getParameter(1013, block, nullptr), 0u);
        QCOMPARE(qFromLittleEndian<uint32_t>(block), 1280u);
        QCOMPARE(qFromLittleEndian<uint32_t>(block + 4), 1024u);
        QCOMPARE(block[28], uint8_t(0));   // 28 bytes only

        QCOMPARE(device.setParameter(500, 7, 8), 0u);
        QCOMPARE(device.getParameter(500, &a, &b), 0u);
        QCOMPARE(a, 7u);
        QCOMPARE(b, 8u);
        QVERIFY(device.getParameter(501, &a, &b) != 0);
        QVERIFY(device.setParameter(14, 64, 64) != 0);   // read-only
        QCOMPARE(device.getParameter(14, &a, &b), 0u);
        QCOMPARE(a, 1280u);
        QVERIFY(device.getParameter(14, nullptr, nullptr) != 0);
    }

    void settingChanges_data()
    {
        QTest::addColumn<uint32_t>("id");
        QTest::addColumn<uint32_t>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<uint32_t>("imageBytes");
        QTest::newRow("10 bits") << 3u << 10u << true << 1280u * 1024u * 2u;
        QTest::newRow("24 bits") << 3u << 24u << true << 1280u * 1024u * 3u;
        QTest::newRow("48 bits") << 3u << 48u << true << 1280u * 1024u * 6u;
        QTest::newRow("width 640") << 109u << 640u << true << 640u * 1024u;
        QTest::newRow("height 1") << 110u << 1u << true << 1280u;
        QTest::newRow("14 bits") << 3u << 14u << false << 0u;
        QTest::newRow("32 bits") << 3u << 32u << false << 0u;
        QTest::newRow("width 0") << 109u << 0u << false << 0u;
        QTest::newRow("width 1281") << 109u << 1281u << false << 0u;
        QTest::newRow("height 1025") << 110u << 1025u << false << 0u;
        QTest::newRow("unknown id") << 4u << 1u << false << 0u;
    }

    // setSetting applies at once: the record and the camera agree afterwards,
    // and a refused value changes neither.
    void settingChanges()
    {
        QFETCH(uint32_t, id);
        QFETCH(uint32_t, value);
        QFETCH(bool, accepted);
        QFETCH(uint32_t, imageBytes);
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        QByteArray before(reinterpret_cast<const char *>(device.settings), sizeof(device.settings));
        const uint32_t status = device.setSetting(id, value);
        QCOMPARE(status == 0, accepted);
        if (!accepted) {
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(device.settings), sizeof(device.settings)), before);
            imageBytes = 1280u * 1024u;
        } else {
            QCOMPARE(setting(device, id), value);
        }
        QCOMPARE(device.imageBytes(), imageBytes);
        // The camera's own settings read into the record say the same.
        std::memset(device.settings + 4, 0, sizeof(device.settings) - 4);
        QCOMPARE(device.readCameraSettings(), 0u);
        QCOMPARE(device.imageBytes(), imageBytes);
    }

    void wholeRecordOperations()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        // refresh applies the record as it stands (width is at offset 12)
        qToLittleEndian<uint32_t>(320, device.settings + 12);
        QCOMPARE(device.validateCameraSettings(), 0u);
        QCOMPARE(device.refreshCameraSettings(), 0u);
        std::memset(device.settings + 4, 0, sizeof(device.settings) - 4);
        QCOMPARE(device.readCameraSettings(), 0u);
        QCOMPARE(device.imageWidth(), 320u);

        // an invalid record is refused by validate and refresh, unchanged
        qToLittleEndian<uint32_t>(2000, device.settings + 12);
        QVERIFY(device.validateCameraSettings() != 0);
        QVERIFY(device.refreshCameraSettings() != 0);
        QCOMPARE(device.readCameraSettings(), 0u);
        QCOMPARE(device.imageWidth(), 320u);

        // a record without its size word is not read
        qToLittleEndian<uint32_t>(512, device.settings);
        QVERIFY(device.readCameraSettings() != 0);
        qToLittleEndian<uint32_t>(1024, device.settings);

        QCOMPARE(device.readDefaultSettings(), 0u);
        QCOMPARE(device.imageWidth(), 1280u);
        std::memset(device.settings + 4, 0, sizeof(device.settings) - 4);
        QCOMPARE(device.readCameraSettings(), 0u);
        QCOMPARE(device.imageWidth(), 1280u);
    }

    void flashKeepsSettingsPerCamera()
    {
        SimSession session(0, 2);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        QCOMPARE(device.readSettingsFromFlash(), 0u);   // factory flash: defaults
        QCOMPARE(device.imageWidth(), 1280u);
        QCOMPARE(device.setSetting(109, 640), 0u);
        QCOMPARE(device.setSetting(3, 12), 0u);
        QCOMPARE(device.writeSettingsToFlash(), 0u);
        QCOMPARE(device.readDefaultSettings(), 0u);
        QCOMPARE(device.imageWidth(), 1280u);
        device.close();

        CameraDevice other(simDriver());
        QCOMPARE(other.open(kCamera0 + 1), 0u);
        QCOMPARE(other.readSettingsFromFlash(), 0u);
        QCOMPARE(other.imageWidth(), 1280u);

        QCOMPARE(device.open(kCamera0), 0u);
        QCOMPARE(device.readSettingsFromFlash(), 0u);
        QCOMPARE(device.imageWidth(), 640u);
        QCOMPARE(device.bitsPerPixel(), 12u);
        QCOMPARE(device.imageBytes(), 640u * 1024u * 2u);
    }

    void statusAndValues()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        uint32_t s[6] = {};
        QCOMPARE(device.setLive(1), 0u);
        QCOMPARE(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QCOMPARE(s[0], 0x3u);   // open, live
        QCOMPARE(s[1], 0u);     // nothing recorded
        QCOMPARE(s[2], uint32_t((2048ull << 20) / (1280 * 1024)));
        QCOMPARE(s[5], 350u);

        uint32_t v = 0;
        QCOMPARE(device.getDeviceValue(0, &v), 0u);
        QCOMPARE(v, 100u);
        QVERIFY(device.setDeviceValue(0, 5) != 0);
        QVERIFY(device.getDeviceValue(5000, &v) != 0);
        QCOMPARE(device.setDeviceValue(5000, 42), 0u);
        QCOMPARE(device.getDeviceValue(5000, &v), 0u);
        QCOMPARE(v, 42u);
        QCOMPARE(device.deviceValue30(9), 0u);
        QCOMPARE(device.getDeviceValue(30, &v), 0u);
        QCOMPARE(v, 9u);
        QCOMPARE(device.deviceAction25(), 0u);
        QCOMPARE(device.deviceAction25(), 0u);
        QCOMPARE(device.getDeviceValue(25, &v), 0u);
        QCOMPARE(v, 2u);

        uint8_t piv[ARVEX_PIV_CONFIG_SIZE];
        for (int i = 0; i < ARVEX_PIV_CONFIG_SIZE; ++i)
            piv[i] = uint8_t(i);
        QCOMPARE(device.setPivConfig(piv), 0u);
        QCOMPARE(device.getDeviceValue(0x108, &v), 0u);
        QCOMPARE(v, qFromLittleEndian<uint32_t>(piv + 32));

        QCOMPARE(device.setSetting(109, 100), 0u);
        QCOMPARE(device.setSetting(3, 16), 0u);
        uint8_t geometry[ARVEX_STREAMING_GEOMETRY_SIZE];
        std::memset(geometry, 0xFF, sizeof(geometry));
        QCOMPARE(device.getStreamingGeometry(geometry), 0u);
        QCOMPARE(qFromLittleEndian<uint32_t>(geometry), 100u);
        QCOMPARE(qFromLittleEndian<uint32_t>(geometry + 4), 1024u);
        QCOMPARE(qFromLittleEndian<uint32_t>(geometry + 8), 16u);
        QCOMPARE(qFromLittleEndian<uint32_t>(geometry + 12), 200u);
        QCOMPARE(geometry[63], uint8_t(0));

        QCOMPARE(device.resetDevice(), 0u);
        QVERIFY(device.getDeviceValue(5000, &v) != 0);
        QCOMPARE(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QCOMPARE(s[0], 0x1u);
    }

    // Several threads on one camera: every live frame number is handed out
    // once, and status calls interleave safely.
    void concurrentCallers()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        QCOMPARE(device.setSetting(109, 8), 0u);
        QCOMPARE(device.setSetting(110, 2), 0u);
        QCOMPARE(device.setSetting(3, 16), 0u);
        constexpr int kPerThread = 300;
        std::vector<uint32_t> frames[2];
        auto capture = [&](int t) {
            std::vector<uint8_t> image(32);
            for (int i = 0; i < kPerThread; ++i) {
                if (captureLive(device, image) != 0)
                    return;
                // pixel (0, 0) is 3n at 16 bits: tells the frame number
                frames[t].push_back(uint32_t(image[0] | image[1] << 8) / 3);
                uint32_t s[6];
                simDriver().getStatus(device.handle, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5]);
            }
        };
        std::thread a(capture, 0), b(capture, 1);
        a.join();
        b.join();
        std::set<uint32_t> all(frames[0].begin(), frames[0].end());
        all.insert(frames[1].begin(), frames[1].end());
        QCOMPARE(int(all.size()), 2 * kPerThread);
        QCOMPARE(*all.rbegin(), uint32_t(2 * kPerThread - 1));
        uint32_t s[6] = {};
        QCOMPARE(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QCOMPARE(s[3], uint32_t(2 * kPerThread));
    }
};

QTEST_GUILESS_MAIN(TestSimCamera)
#include "tst_simcamera.moc"
