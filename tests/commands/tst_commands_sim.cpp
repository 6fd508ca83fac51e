// The settings, parameter and status commands against the simulated camera
// over a real socket on 127.0.0.1: what a client changes is what the camera
// then reports, and what the camera refuses leaves the settings as they were.
#include "monitorkit.h"
#include "protocol.h"

#include <QtTest>

#include <memory>

namespace {

// Ports of this test program: 29000 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 29000;
constexpr uint32_t kSettingBitsPerPixel = 3;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;
// What word() gives when the answer was not the reply it expected.
constexpr uint32_t kNoReply = 0xDEADBEEF;

}  // namespace

class TestCommandsSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void settingsRoundTrip();
    void refusedSettingsChangeNothing_data();
    void refusedSettingsChangeNothing();
    void flashKeepsSettings();
    void textParameter();
    void liveShowsInStatus();
    void geometryAndProgress();

private:
    // The answer to one command: an AckReply or a CommandReply.
    QByteArray command(uint32_t sub, const QVector<uint32_t> &args = {});
    bool acked(uint32_t sub, const QVector<uint32_t> &args = {});
    // The first value word of a CommandReply to `sub`, or kNoReply.
    uint32_t word(uint32_t sub, const QVector<uint32_t> &args = {},
                                 uint32_t valueLength = 4);
    uint32_t setting(uint32_t id) { return word(CMD_GET_SETTING, {id}); }

    std::unique_ptr<QCameraMonitor> monitor;
    std::unique_ptr<MonitorRecorder> recorder;
    std::unique_ptr<TestClient> client;
    uint16_t nextId = 100;
};

void TestCommandsSim::initTestCase()
{
    monitor = std::make_unique<QCameraMonitor>();
    recorder = std::make_unique<MonitorRecorder>(*monitor);
    monitor->setLogEnabled(true);
    QVERIFY(startOnFreePort(*monitor, kPortSeed));
    client = std::make_unique<TestClient>();
    QVERIFY(client->isBound());
    client->send(enumerateRequest(1), monitor->listenPortNumber());
    QCOMPARE(client->receive().size(), int(kDiscoveryReplySize));
    QVERIFY(acked(CMD_OPEN, {16}));
}

void TestCommandsSim::cleanupTestCase()
{
    if (monitor)
        monitor->stopServer();
}

void TestCommandsSim::init()
{
    // Every case starts from the camera's defaults.
    QVERIFY(acked(CMD_READ_DEFAULT_SETTINGS));
}

QByteArray TestCommandsSim::command(uint32_t sub, const QVector<uint32_t> &args)
{
    const uint16_t id = nextId++;
    client->send(commandRequest(id, sub, args), monitor->listenPortNumber());
    for (;;) {
        const QByteArray datagram = client->receive();
        if (datagram.isNull())
            return datagram;
        if (datagram.size() >= 8 && readU16(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                            size_t(datagram.size()), 6) == id)
            return datagram;
    }
}

bool TestCommandsSim::acked(uint32_t sub, const QVector<uint32_t> &args)
{
    const Ack ack = decodeAck(command(sub, args));
    return ack.valid && ack.result == RESULT_OK;
}

uint32_t TestCommandsSim::word(uint32_t sub, const QVector<uint32_t> &args,
                                              uint32_t valueLength)
{
    const QByteArray got = command(sub, args);
    const CommandReply reply =
        decodeCommandReply(reinterpret_cast<const uint8_t *>(got.constData()), size_t(got.size()));
    if (got.size() != int(kCommandReplySize) || !reply.valid || reply.result != 0 ||
        reply.subCommand != sub || reply.valueLength != valueLength)
        return kNoReply;
    return reply.value(0);
}

void TestCommandsSim::settingsRoundTrip()
{
    QVERIFY(acked(CMD_SET_SETTING, {kSettingBitsPerPixel, 12}));
    QVERIFY(acked(CMD_SET_SETTING, {kSettingWidth, 640}));
    QCOMPARE(setting(kSettingBitsPerPixel), 12u);
    QCOMPARE(setting(kSettingWidth), 640u);
    const uint32_t height = setting(kSettingHeight);
    QVERIFY(height > 0 && height <= 1024);
    QCOMPARE(word(CMD_REFRESH_CAMERA_SETTINGS), 640 * height * 2);
    QVERIFY(recorder->waitForLine(QStringLiteral("Received RefreshCameraSettings.")));
    // Back to the defaults: the size follows.
    QVERIFY(acked(CMD_READ_DEFAULT_SETTINGS));
    const uint32_t width = setting(kSettingWidth);
    QCOMPARE(word(CMD_REFRESH_CAMERA_SETTINGS),
             width * height * ((setting(kSettingBitsPerPixel) + 7) / 8));
}

void TestCommandsSim::refusedSettingsChangeNothing_data()
{
    QTest::addColumn<uint32_t>("id");
    QTest::addColumn<uint32_t>("value");
    QTest::newRow("11 bits per pixel") << kSettingBitsPerPixel << 11u;
    QTest::newRow("32 bits per pixel") << kSettingBitsPerPixel << 32u;
    QTest::newRow("width above the maximum") << kSettingWidth << 1281u;
    QTest::newRow("width 0") << kSettingWidth << 0u;
    QTest::newRow("height above the maximum") << kSettingHeight << 1025u;
}

void TestCommandsSim::refusedSettingsChangeNothing()
{
    QFETCH(uint32_t, id);
    QFETCH(uint32_t, value);
    QVERIFY(acked(CMD_SET_SETTING, {kSettingBitsPerPixel, 12}));
    QVERIFY(acked(CMD_SET_SETTING, {kSettingWidth, 640}));
    const uint32_t before = word(CMD_REFRESH_CAMERA_SETTINGS);
    QCOMPARE(before, 640u * 1024u * 2u);
    // The driver's refusal is not reported: the ack still says 0.
    QVERIFY(acked(CMD_SET_SETTING, {id, value}));
    QCOMPARE(setting(kSettingBitsPerPixel), 12u);
    QCOMPARE(setting(kSettingWidth), 640u);
    QCOMPARE(word(CMD_REFRESH_CAMERA_SETTINGS), before);
}

void TestCommandsSim::flashKeepsSettings()
{
    QVERIFY(acked(CMD_SET_SETTING, {kSettingWidth, 320}));
    QVERIFY(acked(CMD_SET_SETTING, {kSettingBitsPerPixel, 16}));
    QVERIFY(acked(CMD_WRITE_SETTINGS_TO_FLASH));
    QVERIFY(acked(CMD_READ_DEFAULT_SETTINGS));
    QVERIFY(setting(kSettingWidth) != 320u);
    QVERIFY(acked(CMD_READ_SETTINGS_FROM_FLASH));
    QCOMPARE(setting(kSettingWidth), 320u);
    QCOMPARE(setting(kSettingBitsPerPixel), 16u);
    QVERIFY(recorder->waitForLine(QStringLiteral("Received WriteSettingsToFlash.")));
    QVERIFY(recorder->waitForLine(QStringLiteral("Received ReadSettingsFromFlash.")));
}

void TestCommandsSim::textParameter()
{
    const QByteArray got = command(CMD_GET_PARAMETER, {35});
    QCOMPARE(got.size(), int(kCommandReplySize));
    const CommandReply reply =
        decodeCommandReply(reinterpret_cast<const uint8_t *>(got.constData()), size_t(got.size()));
    const QByteArray text(reinterpret_cast<const char *>(reply.values));
    QVERIFY2(text.startsWith("Arvex simulated camera 0"), text.constData());
    QCOMPARE(reply.valueLength, uint32_t(text.size()));
    // A numeric parameter: the maximum width.
    QCOMPARE(word(CMD_GET_PARAMETER, {14}, 8), 1280u);
}

void TestCommandsSim::liveShowsInStatus()
{
    constexpr uint32_t kLiveBit = 0x2;  // status word 0 of the simulated camera
    QVERIFY(acked(CMD_LIVE, {1}));
    QVERIFY(recorder->waitForLine(QStringLiteral("Received Live(1).")));
    const uint32_t on = word(CMD_GET_STATUS, {}, 24);
    QVERIFY(on != kNoReply);
    QVERIFY(on & kLiveBit);
    QVERIFY(acked(CMD_LIVE, {0}));
    const uint32_t off = word(CMD_GET_STATUS, {}, 24);
    QVERIFY(off != kNoReply);
    QVERIFY(!(off & kLiveBit));
}

void TestCommandsSim::geometryAndProgress()
{
    QVERIFY(word(CMD_GET_STREAMING_GEOMETRY, {}, 16) != kNoReply);
    QVERIFY(recorder->waitForLine(QStringLiteral("Received GetStreamingGeometry.")));
    QCOMPARE(word(CMD_GET_W2D_PROGRESS, {}, 16), 0u);
    QVERIFY(word(CMD_GET_CALIBRATION_PROGRESS, {}, 12) != kNoReply);
}

QTEST_GUILESS_MAIN(TestCommandsSim)
#include "tst_commands_sim.moc"
