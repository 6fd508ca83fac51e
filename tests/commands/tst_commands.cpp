// The parameter, settings and status commands through the monitor's datagram
// seam on the recording driver: answers byte by byte, log lines, and the
// driver calls with their arguments, in the order they happen.
#include "commanddriver.h"
#include "fakedriver.h"
#include "monitorkit.h"
#include "protocol.h"
#include "replysink.h"

#include <QtTest>

#include <memory>

namespace {

const QHostAddress kSender(QStringLiteral("127.0.0.9"));
constexpr quint16 kSenderPort = 4567;
constexpr uint32_t kCameraId = 17;
constexpr uint16_t kRequestId = 0x1234;
constexpr int kAnswerIsReply = -1;

QByteArray words(std::initializer_list<uint32_t> values)
{
    QByteArray out;
    for (const uint32_t v : values) {
        char bytes[4];
        qToLittleEndian<uint32_t>(v, bytes);
        out.append(bytes, 4);
    }
    return out;
}

// What a driver writes into the text area: the bytes, then a NUL if asked.
QByteArray text(const QByteArray &bytes, bool nul = true)
{
    return nul ? bytes + QByteArray(1, '\0') : bytes;
}

QByteArray pattern(int size, int start)
{
    QByteArray out(size, 0);
    for (int i = 0; i < size; ++i)
        out[i] = char(start + i);
    return out;
}

// One monitor on the recording driver, its log lines noted among the calls.
struct Fixture {
    explicit Fixture(MonitorMode mode = CameraMode)
    {
        cmdfake::reset();
        fake::setCameras({fake::Device(kCameraId, 64, 32)});
        fake::setRawFiles({fake::Device(0x90000, 64, 32), fake::Device(0x90001, 32, 16)});
        monitor = std::make_unique<QCameraMonitor>(cmdfake::table());
        monitor->setMode(mode);
        monitor->setReplySink(&sink);
        monitor->setLogEnabled(true);
        // Emitted on this thread, so the line lands between the calls it
        // was written between.
        QObject::connect(monitor.get(), &QCameraMonitor::plainLog, [](const QString &line) {
            const int split = line.indexOf(QLatin1String("  "));
            cmdfake::note(QStringLiteral("log ") + line.mid(split + 2));
        });
        monitor->startOffline(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0);
    }

    void feed(const QByteArray &datagram)
    {
        monitor->handleDatagram(reinterpret_cast<const uint8_t *>(datagram.constData()),
                                size_t(datagram.size()), kSender, kSenderPort);
    }

    bool openCamera()
    {
        feed(enumerateRequest(1));
        feed(commandRequest(2, CMD_OPEN, {16}));
        return settle();
    }

    bool openRawFiles()
    {
        feed(enumerateRequest(1));
        feed(commandRequest(2, CMD_OPEN, {0, 0}));
        feed(commandRequest(3, CMD_OPEN, {0, 1}));
        return settle();
    }

    // Forgets what opening said and did.
    bool settle()
    {
        const bool opened = !sink.datagrams.isEmpty() &&
                            decodeAck(sink.datagrams.last().bytes).valid;
        sink.datagrams.clear();
        cmdfake::clearEvents();
        return opened;
    }

    // The one datagram the last request was answered with.
    QByteArray onlyAnswer()
    {
        if (sink.datagrams.size() != 1)
            return QByteArray();
        const auto &d = sink.datagrams.first();
        if (d.address != kSender || d.port != kSenderPort)
            return QByteArray("sent elsewhere");
        return d.bytes;
    }

    RecordingReplySink sink;
    std::unique_ptr<QCameraMonitor> monitor;
};

}  // namespace

Q_DECLARE_METATYPE(cmdfake::Behaviour)

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void pivConfigFromRequest();
    void liveFlagFollowsRequest_data();
    void liveFlagFollowsRequest();
    void calibrationProgress_data();
    void calibrationProgress();
    void rawFileSelectorPicksDevice();
    void withoutOpenDevice_data();
    void withoutOpenDevice();
};

void TestCommands::answers_data()
{
    QTest::addColumn<uint32_t>("sub");
    QTest::addColumn<QVector<uint32_t>>("args");
    QTest::addColumn<cmdfake::Behaviour>("driver");
    QTest::addColumn<int>("answer");            // ack result, or kAnswerIsReply
    QTest::addColumn<uint32_t>("valueLength");  // of a reply
    QTest::addColumn<QByteArray>("value");      // reply bytes from 16; zeros after
    QTest::addColumn<QStringList>("events");    // driver calls and log lines, in order

    const cmdfake::Behaviour none;
    auto with = [](auto change) {
        cmdfake::Behaviour b;
        change(b);
        return b;
    };
    const QString dev = QString::number(kCameraId);
    const QString rec = QStringLiteral(" 1024");  // the device's own settings record

    // Parameters.
    QTest::newRow("numeric parameter")
        << CMD_GET_PARAMETER << QVector<uint32_t>{77}
        << with([](cmdfake::Behaviour &b) { b.parameters[77] = {11, 4000000000u}; })
        << kAnswerIsReply << 8u << words({11, 4000000000u})
        << QStringList{"getParameter " + dev + " 77 out2"};
    QTest::newRow("numeric parameter the driver refuses: zeros, length 8")
        << CMD_GET_PARAMETER << QVector<uint32_t>{78} << none << kAnswerIsReply << 8u
        << QByteArray() << QStringList{"getParameter " + dev + " 78 out2"};
    QTest::newRow("text parameter 35")
        << CMD_GET_PARAMETER << QVector<uint32_t>{35}
        << with([](cmdfake::Behaviour &b) { b.parameterBytes[35] = text("Camera 0"); })
        << kAnswerIsReply << 8u << QByteArray("Camera 0")
        << QStringList{"getParameter " + dev + " 35 null"};
    QTest::newRow("empty text: length 0")
        << CMD_GET_PARAMETER << QVector<uint32_t>{35}
        << with([](cmdfake::Behaviour &b) { b.parameterBytes[35] = text(""); })
        << kAnswerIsReply << 0u << QByteArray()
        << QStringList{"getParameter " + dev + " 35 null"};
    QTest::newRow("text up to the first NUL")
        << CMD_GET_PARAMETER << QVector<uint32_t>{1016}
        << with([](cmdfake::Behaviour &b) { b.parameterBytes[1016] = text("v1") + "tail"; })
        << kAnswerIsReply << 2u << text("v1") + "tail"
        << QStringList{"getParameter " + dev + " 1016 null"};
    QTest::newRow("text filling the area without a NUL: 160")
        << CMD_GET_PARAMETER << QVector<uint32_t>{1016}
        << with([](cmdfake::Behaviour &b) { b.parameterBytes[1016] = QByteArray(160, 'x'); })
        << kAnswerIsReply << 160u << QByteArray(160, 'x')
        << QStringList{"getParameter " + dev + " 1016 null"};
    QTest::newRow("1013 written: 28")
        << CMD_GET_PARAMETER << QVector<uint32_t>{1013}
        << with([](cmdfake::Behaviour &b) { b.parameterBytes[1013] = pattern(28, 1); })
        << kAnswerIsReply << 28u << pattern(28, 1)
        << QStringList{"getParameter " + dev + " 1013 null"};
    QTest::newRow("1013 not written: still 28")
        << CMD_GET_PARAMETER << QVector<uint32_t>{1013} << none << kAnswerIsReply << 28u
        << QByteArray() << QStringList{"getParameter " + dev + " 1013 null"};
    QTest::newRow("set parameter: the value twice")
        << CMD_SET_PARAMETER << QVector<uint32_t>{5, 7} << none << 0 << 0u << QByteArray()
        << QStringList{"setParameter " + dev + " 5 7 7"};

    // The settings record.
    QTest::newRow("read default settings")
        << CMD_READ_DEFAULT_SETTINGS << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received ReadDefaultSettings.", "readDefaultSettings " + dev + rec};
    QTest::newRow("read camera settings")
        << CMD_READ_CAMERA_SETTINGS << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received ReadCameraSettings.", "readCameraSettings " + dev + rec};
    QTest::newRow("refresh: log, driver, image bytes")
        << CMD_REFRESH_CAMERA_SETTINGS << QVector<uint32_t>{}
        << with([](cmdfake::Behaviour &b) { b.settings = {{3, 12}, {109, 640}, {110, 480}}; })
        << kAnswerIsReply << 4u << words({640 * 480 * 2})
        << QStringList{"log Received RefreshCameraSettings.", "refreshCameraSettings " + dev + rec};
    QTest::newRow("validate")
        << CMD_VALIDATE_CAMERA_SETTINGS << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received ValidateCameraSettings.",
                       "validateCameraSettings " + dev + rec};
    QTest::newRow("query setting")
        << CMD_QUERY_SETTING << QVector<uint32_t>{111, 1}
        << with([](cmdfake::Behaviour &b) { b.queryValue = 1000000; }) << kAnswerIsReply << 4u
        << words({1000000}) << QStringList{"querySetting " + dev + rec + " 111 1"};
    QTest::newRow("get setting")
        << CMD_GET_SETTING << QVector<uint32_t>{111}
        << with([](cmdfake::Behaviour &b) { b.settings[111] = 5000; }) << kAnswerIsReply << 4u
        << words({5000}) << QStringList{"getSetting " + dev + rec + " 111"};
    QTest::newRow("get setting the driver refuses: 0")
        << CMD_GET_SETTING << QVector<uint32_t>{999} << none << kAnswerIsReply << 4u
        << QByteArray() << QStringList{"getSetting " + dev + rec + " 999"};
    QTest::newRow("set setting")
        << CMD_SET_SETTING << QVector<uint32_t>{109, 640} << none << 0 << 0u << QByteArray()
        << QStringList{"setSetting " + dev + rec + " 109 640"};
    QTest::newRow("read settings from flash")
        << CMD_READ_SETTINGS_FROM_FLASH << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received ReadSettingsFromFlash.", "readSettingsFromFlash " + dev + rec};
    QTest::newRow("write settings to flash")
        << CMD_WRITE_SETTINGS_TO_FLASH << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received WriteSettingsToFlash.", "writeSettingsToFlash " + dev + rec};

    // Actions and values.
    QTest::newRow("action 20") << CMD_ACTION_20 << QVector<uint32_t>{} << none << 0 << 0u
                               << QByteArray() << QStringList{"deviceAction25 " + dev};
    QTest::newRow("action 40") << CMD_ACTION_40 << QVector<uint32_t>{} << none << 0 << 0u
                               << QByteArray() << QStringList{"deviceAction47 " + dev};
    QTest::newRow("value 24") << CMD_VALUE_24 << QVector<uint32_t>{4294967295u} << none << 0 << 0u
                              << QByteArray() << QStringList{"deviceValue30 " + dev + " 4294967295"};
    QTest::newRow("reset: driver, then log")
        << CMD_RESET << QVector<uint32_t>{} << none << 0 << 0u << QByteArray()
        << QStringList{"resetDevice " + dev, "log Received Reset command."};
    QTest::newRow("get device value")
        << CMD_GET_DEVICE_VALUE << QVector<uint32_t>{0x100}
        << with([](cmdfake::Behaviour &b) { b.deviceValues[0x100] = 77; }) << kAnswerIsReply << 4u
        << words({77}) << QStringList{"getDeviceValue " + dev + " 256"};
    QTest::newRow("set device value")
        << CMD_SET_DEVICE_VALUE << QVector<uint32_t>{9, 8} << none << 0 << 0u << QByteArray()
        << QStringList{"setDeviceValue " + dev + " 9 8"};
    for (const uint32_t nop : {CMD_NOP, CMD_NOP_2, CMD_NOP_3}) {
        QTest::addRow("nop %u: nothing but the ack", nop)
            << nop << QVector<uint32_t>{1, 2} << none << 0 << 0u << QByteArray() << QStringList{};
    }

    // Status and progress.
    QTest::newRow("status: six words, three logged unsigned")
        << CMD_GET_STATUS << QVector<uint32_t>{}
        << with([](cmdfake::Behaviour &b) {
               const uint32_t s[6] = {4294967295u, 0, 30, 4, 5, 6};
               std::copy(s, s + 6, b.status);
           })
        << kAnswerIsReply << 24u << words({4294967295u, 0, 30, 4, 5, 6})
        << QStringList{"getStatus " + dev, "log Received GetStatus = 4294967295.0.30."};
    QTest::newRow("live 2: log, then driver")
        << CMD_LIVE << QVector<uint32_t>{2} << none << 0 << 0u << QByteArray()
        << QStringList{"log Received Live(2).", "setLive " + dev + " 2"};
    QTest::newRow("live off") << CMD_LIVE << QVector<uint32_t>{0} << none << 0 << 0u << QByteArray()
                              << QStringList{"log Received Live(0).", "setLive " + dev + " 0"};
    QTest::newRow("geometry: 64 bytes, length 16")
        << CMD_GET_STREAMING_GEOMETRY << QVector<uint32_t>{}
        << with([](cmdfake::Behaviour &b) { b.geometry = pattern(64, 0x40); }) << kAnswerIsReply
        << 16u << pattern(64, 0x40)
        << QStringList{"getStreamingGeometry " + dev, "log Received GetStreamingGeometry."};
    QTest::newRow("geometry failure: Ack 2 alone")
        << CMD_GET_STREAMING_GEOMETRY << QVector<uint32_t>{}
        << with([](cmdfake::Behaviour &b) {
               b.geometryFails = true;
               b.geometry = pattern(64, 1);
           })
        << 2 << 0u << QByteArray() << QStringList{"getStreamingGeometry " + dev};
    QTest::newRow("write-to-disk progress before any") << CMD_GET_W2D_PROGRESS << QVector<uint32_t>{}
                                                       << none << kAnswerIsReply << 16u
                                                       << QByteArray() << QStringList{};
    QTest::newRow("calibration progress before any")
        << CMD_GET_CALIBRATION_PROGRESS << QVector<uint32_t>{} << none << kAnswerIsReply << 12u
        << QByteArray() << QStringList{};
}

void TestCommands::answers()
{
    QFETCH(uint32_t, sub);
    QFETCH(QVector<uint32_t>, args);
    QFETCH(cmdfake::Behaviour, driver);
    QFETCH(int, answer);
    QFETCH(uint32_t, valueLength);
    QFETCH(QByteArray, value);
    QFETCH(QStringList, events);

    Fixture f;
    QVERIFY(f.openCamera());
    cmdfake::behaviour() = driver;
    f.feed(commandRequest(kRequestId, sub, args));
    QCOMPARE(cmdfake::events(), events);

    const QByteArray got = f.onlyAnswer();
    if (answer != kAnswerIsReply) {
        const Ack ack = decodeAck(got);
        QVERIFY2(ack.valid, got.toHex().constData());
        QCOMPARE(int(ack.result), answer);
        QCOMPARE(ack.type, PKT_COMMAND);
        QCOMPARE(ack.id, kRequestId);
        return;
    }
    QCOMPARE(got.size(), int(kCommandReplySize));
    const auto *bytes = reinterpret_cast<const uint8_t *>(got.constData());
    const PacketHeader header = decodeHeader(bytes, size_t(got.size()));
    QCOMPARE(int(header.resultOrSelector), 0);
    QCOMPARE(got.mid(1, 2), QByteArray(2, '\0'));
    QCOMPARE(header.type, PKT_COMMAND);
    QCOMPARE(int(header.length), int(kCommandReplySize));
    QCOMPARE(header.requestId, kRequestId);
    QCOMPARE(readU32(bytes, kCommandReplySize, 8), sub);
    QCOMPARE(readU32(bytes, kCommandReplySize, 12), valueLength);
    QByteArray expected = value;
    expected.append(QByteArray(int(kCommandValueSize) - value.size(), '\0'));
    QCOMPARE(got.mid(int(kCommandValueOffset)).toHex(), expected.toHex());
}

void TestCommands::pivConfigFromRequest()
{
    Fixture f;
    QVERIFY(f.openCamera());
    // High halves of the first two arguments do not reach the record.
    f.feed(commandRequest(kRequestId, CMD_PIV,
                          {0xFFFF8001u, 0x12345678u, 1, 2, 3, 4, 0x05060708u, 6, 7, 0xFFFFFFFFu,
                           0xEEEEEEEEu}));
    QCOMPARE(cmdfake::events(),
             (QStringList{"setPivConfig 17", "log Received PIV command: enabled mask 32769"}));
    QCOMPARE(cmdfake::lastPivConfig().toHex(),
             (QByteArray::fromHex("0180") + QByteArray::fromHex("7856") +
              words({1, 2, 3, 4, 0x05060708u, 6, 7, 0xFFFFFFFFu}))
                 .toHex());
    const Ack ack = decodeAck(f.onlyAnswer());
    QVERIFY(ack.valid);
    QCOMPARE(int(ack.result), 0);
}

void TestCommands::liveFlagFollowsRequest_data()
{
    QTest::addColumn<uint32_t>("on");
    QTest::addColumn<bool>("isLive");
    QTest::newRow("0") << 0u << false;
    QTest::newRow("1") << 1u << true;
    QTest::newRow("2") << 2u << true;
    QTest::newRow("0x80000000") << 0x80000000u << true;
}

void TestCommands::liveFlagFollowsRequest()
{
    QFETCH(uint32_t, on);
    QFETCH(bool, isLive);
    Fixture f;
    QVERIFY(f.openCamera());
    f.feed(commandRequest(kRequestId, CMD_LIVE, {on}));
    QCOMPARE(f.monitor->currentDevice()->isLive.load(), isLive);
    // The flag is what the stop sequence acts on.
    cmdfake::clearEvents();
    f.monitor->stopServer();
    const QStringList stop = cmdfake::events().filter(QStringLiteral("setLive"));
    QCOMPARE(stop, isLive ? QStringList{"setLive 17 0"} : QStringList{});
}

void TestCommands::calibrationProgress_data()
{
    QTest::addColumn<uint32_t>("done");
    QTest::addColumn<uint32_t>("total");
    QTest::addColumn<uint32_t>("complete");
    QTest::newRow("5 of 5") << 5u << 5u << 1u;
    QTest::newRow("3 of 10") << 3u << 10u << 0u;
    QTest::newRow("past the total") << 11u << 10u << 1u;
    QTest::newRow("total 0") << 5u << 0u << 0u;
    QTest::newRow("0 of 0") << 0u << 0u << 0u;
}

void TestCommands::calibrationProgress()
{
    QFETCH(uint32_t, done);
    QFETCH(uint32_t, total);
    QFETCH(uint32_t, complete);
    Fixture f;
    QVERIFY(f.openCamera());
    cmdfake::behaviour().calibrationDone = done;
    cmdfake::behaviour().calibrationTotal = total;
    f.monitor->calibrateCamera(1);
    f.feed(commandRequest(kRequestId, CMD_GET_CALIBRATION_PROGRESS));
    const QByteArray got = f.onlyAnswer();
    const CommandReply reply =
        decodeCommandReply(reinterpret_cast<const uint8_t *>(got.constData()), size_t(got.size()));
    QVERIFY(reply.valid);
    QCOMPARE(reply.valueLength, 12u);
    QCOMPARE(reply.value(0), done);
    QCOMPARE(reply.value(1), total);
    QCOMPARE(reply.value(2), complete);
    QCOMPARE(reply.value(3), 0u);
}

void TestCommands::rawFileSelectorPicksDevice()
{
    Fixture f(RawFileMode);
    QVERIFY(f.openRawFiles());
    f.feed(commandRequest(kRequestId, CMD_GET_STATUS, {}, 1));
    f.feed(commandRequest(kRequestId, CMD_SET_SETTING, {3, 16}, 0));
    f.feed(commandRequest(kRequestId, CMD_GET_PARAMETER, {35}, 1));
    QCOMPARE(cmdfake::events(),
             (QStringList{"getStatus 589825", "log Received GetStatus = 0.0.0.",
                          "setSetting 589824 1024 3 16", "getParameter 589825 35 null"}));
    QCOMPARE(f.sink.datagrams.size(), 3);
}

void TestCommands::withoutOpenDevice_data()
{
    QTest::addColumn<uint32_t>("sub");
    QTest::addColumn<QVector<uint32_t>>("args");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("call");
    QTest::newRow("parameter") << CMD_GET_PARAMETER << QVector<uint32_t>{77} << int(kCommandReplySize)
                               << "getParameter none 77 out2";
    QTest::newRow("status") << CMD_GET_STATUS << QVector<uint32_t>{} << int(kCommandReplySize)
                            << "getStatus none";
    QTest::newRow("live") << CMD_LIVE << QVector<uint32_t>{1} << int(kAckSize) << "setLive none 1";
    QTest::newRow("refresh") << CMD_REFRESH_CAMERA_SETTINGS << QVector<uint32_t>{}
                             << int(kCommandReplySize) << "refreshCameraSettings none 0";
}

void TestCommands::withoutOpenDevice()
{
    QFETCH(uint32_t, sub);
    QFETCH(QVector<uint32_t>, args);
    QFETCH(int, size);
    QFETCH(QString, call);
    // Nothing open: the driver sees handle 0 and the client still gets its
    // answer with result 0.
    Fixture f;
    f.feed(commandRequest(kRequestId, sub, args));
    QVERIFY(cmdfake::events().contains(call));
    const QByteArray got = f.onlyAnswer();
    QCOMPARE(got.size(), size);
    QCOMPARE(int(got[0]), 0);
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
