// A real monitor on 127.0.0.1: PKT_ENUMERATE and PKT_RAW_INFO in both modes,
// the tables behind them, and the camera table the window reads.
#include "deviceinfo.h"
#include "fakedriver.h"
#include "monitorkit.h"
#include "protocol.h"

#include <QtTest>

#include <memory>

namespace {
constexpr quint16 kPortSeed = 22000;

const uint8_t *data(const QByteArray &a) { return reinterpret_cast<const uint8_t *>(a.constData()); }
uint32_t u32(const QByteArray &a, int offset) { return readU32(data(a), size_t(a.size()), size_t(offset)); }
// The fake's marker for DeviceInfo word `offset` of the record with `seed`.
uint32_t marker(uint32_t seed, int offset) { return 0xA0000000u | (seed << 16) | uint32_t(offset); }
}  // namespace

class TestMonitorDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void cameraEnumDescribesOnlyTheFirst();
    void cameraEnumFindingNothing_data();
    void cameraEnumFindingNothing();
    void driverCountIsHeldToTheTable();
    void rawEnum_data();
    void rawEnum();
    void rawInfo_data();
    void rawInfo();
    void rawInfoAnswersFromTheLastEnumeration();
    void cameraTableForTheWindow();

private:
    bool startMonitor(MonitorMode mode);

    std::unique_ptr<QCameraMonitor> monitor;
    std::unique_ptr<MonitorRecorder> recorder;
};

bool TestMonitorDiscovery::startMonitor(MonitorMode mode)
{
    monitor = std::make_unique<QCameraMonitor>(fake::table());
    monitor->setMode(mode);
    monitor->setLogEnabled(true);
    recorder = std::make_unique<MonitorRecorder>(*monitor);
    if (!startOnFreePort(*monitor, kPortSeed))
        return false;
    recorder->clear();
    return true;
}

void TestMonitorDiscovery::cleanup()
{
    recorder.reset();
    monitor.reset();
    fake::reset();
}

void TestMonitorDiscovery::cameraEnumDescribesOnlyTheFirst()
{
    fake::reset();
    fake::setCameras({fake::Device(17, 64, 32, 0, "first camera"), fake::Device(18),
                      fake::Device(19)});
    QVERIFY(startMonitor(CameraMode));
    TestClient client;
    client.send(enumerateRequest(0x0A0B), monitor->listenPortNumber());
    const QByteArray reply = client.receive();
    QCOMPARE(reply.size(), 216);
    QCOMPARE(reply.left(8), QByteArray("\0\0\0\1\xD8\0\x0B\x0A", 8));
    QCOMPARE(u32(reply, 8), 41u);    // model of the first (seed 1)
    QCOMPARE(u32(reply, 16), 1001u);  // its serial number
    QCOMPARE(u32(reply, 32), marker(1, 24));
    QCOMPARE(QByteArray(reply.constData() + 76), QByteArray("first camera"));
    QCOMPARE(u32(reply, 36), uint32_t(kTestMac >> 32));
    QCOMPARE(u32(reply, 40), uint32_t(kTestMac & 0xFFFFFFFF));
    QCOMPARE(u32(reply, 44), kLoopback);
    QCOMPARE(u32(reply, 48), kLoopbackMask);
    QCOMPARE(u32(reply, 72), uint32_t(kTestMtu));
    // Nothing says how many cameras there are.
    QCOMPARE(u32(reply, 204), 0u);

    QVERIFY(recorder->waitForLine(
        QStringLiteral("Received cam enum command from add [127.0.0.1], port %1.").arg(client.port())));
    QCOMPARE(recorder->lines.first(), QStringLiteral("Enumerate Vantrel - Found 3 cameras."));
    QCOMPARE(recorder->statuses, (QVector<int>{StatusAwaitingEnumeration, StatusAwaitingConnection}));
}

void TestMonitorDiscovery::cameraEnumFindingNothing_data()
{
    QTest::addColumn<bool>("driverFails");
    QTest::newRow("no camera attached") << false;
    QTest::newRow("driver enumeration fails") << true;
}

void TestMonitorDiscovery::cameraEnumFindingNothing()
{
    QFETCH(bool, driverFails);
    fake::reset();
    if (driverFails) {
        fake::setCameras({fake::Device(17)});
        fake::setEnumerateStatus(9);
    }
    QVERIFY(startMonitor(CameraMode));
    TestClient client;
    client.send(enumerateRequest(1), monitor->listenPortNumber());
    QCOMPARE(client.repliesBeforeProbe(monitor->listenPortNumber()).size(), 0);
    QVERIFY(recorder->waitForLine(QStringLiteral("Enumerate Vantrel - Found 0 cameras.")));
    QCOMPARE(recorder->lines.size(), 1);
    QCOMPARE(recorder->statuses, QVector<int>{StatusEnabled});
    QCOMPARE(monitor->cameraTable().size(), 0);
}

void TestMonitorDiscovery::driverCountIsHeldToTheTable()
{
    fake::reset();
    fake::setCameras({fake::Device(17)});
    fake::setReportedCameraCount(99);
    QVERIFY(startMonitor(CameraMode));
    TestClient client;
    client.send(enumerateRequest(1), monitor->listenPortNumber());
    QCOMPARE(client.receive().size(), 216);
    QVERIFY(recorder->waitForLine(QStringLiteral("Enumerate Vantrel - Found 4 cameras.")));
    QCOMPARE(monitor->cameraTable().size(), 4);
}

void TestMonitorDiscovery::rawEnum_data()
{
    QTest::addColumn<int>("files");
    QTest::newRow("two raw files") << 2;
    QTest::newRow("no raw file") << 0;
}

void TestMonitorDiscovery::rawEnum()
{
    QFETCH(int, files);
    fake::reset();
    fake::setCameras({fake::Device(17)});  // the raw-file server never looks at cameras
    QVector<fake::Device> raw;
    for (int i = 0; i < files; ++i)
        raw << fake::Device(uint32_t(0x70000 + i));
    fake::setRawFiles(raw);
    QVERIFY(startMonitor(RawFileMode));
    TestClient client;
    client.send(enumerateRequest(0x55), monitor->listenPortNumber());
    const QVector<QByteArray> replies = client.repliesBeforeProbe(monitor->listenPortNumber());
    QVERIFY(recorder->waitForLine(QStringLiteral("Enumerate Raw - Found %1 raw files.").arg(files)));
    if (files == 0) {
        QCOMPARE(replies.size(), 0);
        QCOMPARE(recorder->statuses, QVector<int>{StatusEnabled});
        return;
    }
    QCOMPARE(replies.size(), 1);
    const QByteArray &reply = replies[0];
    QCOMPARE(reply.size(), 216);
    QCOMPARE(reply.left(8), QByteArray("\0\0\0\1\xD8\0\x55\0", 8));
    QCOMPARE(u32(reply, 8), 48u);
    QCOMPARE(u32(reply, 12), 1u);
    QCOMPARE(u32(reply, 16), 3401010001u);
    QCOMPARE(u32(reply, 204), uint32_t(files));
    QCOMPARE(u32(reply, 44), kLoopback);
    QCOMPARE(u32(reply, 72), uint32_t(kTestMtu));
    QCOMPARE(u32(reply, 20), 0u);
    QCOMPARE(reply[76], '\0');
    QVERIFY(recorder->waitForLine(
        QStringLiteral("Received raw enum command from add [127.0.0.1], port %1.").arg(client.port())));
    QCOMPARE(recorder->statuses, (QVector<int>{StatusAwaitingEnumeration, StatusAwaitingConnection}));
}

void TestMonitorDiscovery::rawInfo_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("answered");  // false: refusal with result 4
    QTest::newRow("first file") << int(RawFileMode) << 0 << true;
    QTest::newRow("last file") << int(RawFileMode) << 2 << true;
    QTest::newRow("index = rawCount") << int(RawFileMode) << 3 << false;
    QTest::newRow("negative") << int(RawFileMode) << -1 << false;
    QTest::newRow("largest int") << int(RawFileMode) << 0x7FFFFFFF << false;
    QTest::newRow("camera mode refuses every index") << int(CameraMode) << 0 << false;
}

void TestMonitorDiscovery::rawInfo()
{
    QFETCH(int, mode);
    QFETCH(int, index);
    QFETCH(bool, answered);
    fake::reset();
    fake::setCameras({fake::Device(17)});
    fake::setRawFiles({fake::Device(0x70000, 64, 32, 0, "take 1"), fake::Device(0x70001),
                       fake::Device(0x70002, 64, 32, 0, "take 3")});
    QVERIFY(startMonitor(MonitorMode(mode)));
    TestClient client;
    const quint16 port = monitor->listenPortNumber();
    client.send(enumerateRequest(1), port);
    client.receive();
    // The probe's answer comes after the enumeration has fully finished.
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    recorder->clear();

    client.send(rawInfoRequest(0x3344, index), port);
    const QByteArray reply = client.receive();
    if (!answered) {
        QCOMPARE(reply, QByteArray("\x04\0\0\xE1\x08\0\x44\x33", 8));
    } else {
        const uint32_t seed = uint32_t(index) + 1;
        QCOMPARE(reply.size(), 216);
        QCOMPARE(reply.left(8), QByteArray("\0\0\0\xE1\xD8\0\x44\x33", 8));
        QCOMPARE(u32(reply, 8), 40 + seed);
        QCOMPARE(u32(reply, 16), 1000 + seed);
        QCOMPARE(u32(reply, 32), marker(seed, 28));
        QCOMPARE(u32(reply, 208), marker(seed, 104));
        QCOMPARE(u32(reply, 212), marker(seed, 100));
        QCOMPARE(QByteArray(reply.constData() + 76), index == 0 ? QByteArray("take 1") : QByteArray("take 3"));
        QCOMPARE(u32(reply, 44), kLoopback);
    }
    QVERIFY(recorder->waitForLine(QStringLiteral("Received raw info command for raw file %1.").arg(index)));
    // Answering raw info changes no status.
    QCOMPARE(recorder->statuses, QVector<int>());
}

void TestMonitorDiscovery::rawInfoAnswersFromTheLastEnumeration()
{
    fake::reset();
    fake::setRawFiles({fake::Device(0x70000), fake::Device(0x70001)});
    QVERIFY(startMonitor(RawFileMode));
    TestClient client;
    const quint16 port = monitor->listenPortNumber();
    // Before any enumeration the table is empty.
    client.send(rawInfoRequest(1, 0), port);
    QCOMPARE(decodeAck(client.receive()).result, RESULT_NO_RAW_FILE);

    client.send(enumerateRequest(2), port);
    QCOMPARE(client.receive().size(), 216);
    // Files vanish on disk: raw info still answers from the table, also
    // across a restart.
    fake::setRawFiles({});
    monitor->stopServer();
    QVERIFY(monitor->startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
    client.send(rawInfoRequest(3, 1), port);
    QCOMPARE(client.receive().size(), 216);
    // The next enumeration empties it.
    client.send(enumerateRequest(4), port);
    client.send(rawInfoRequest(5, 0), port);
    QCOMPARE(decodeAck(client.receive()).result, RESULT_NO_RAW_FILE);
}

void TestMonitorDiscovery::cameraTableForTheWindow()
{
    fake::reset();
    fake::setCameras({fake::Device(17), fake::Device(18)});
    QCameraMonitor window(fake::table());
    MonitorRecorder record(window);
    // While the server is stopped a refresh fills the table but leaves the
    // status alone: nothing listens yet.
    window.enumerateCameras();
    QCOMPARE(window.currentStatus(), int(StatusDisabled));
    const QVector<QByteArray> table = window.cameraTable();
    QCOMPARE(table.size(), 2);
    QCOMPARE(table[0], fake::deviceInfo(fake::Device(17), 1));
    QCOMPARE(table[1], fake::deviceInfo(fake::Device(18), 2));
    QCOMPARE(record.statuses, QVector<int>());

    QVERIFY(startOnFreePort(window, kPortSeed + 200));
    record.clear();
    window.enumerateCameras();
    QCOMPARE(window.currentStatus(), int(StatusAwaitingEnumeration));
    fake::setCameras({});
    window.enumerateCameras();
    QCOMPARE(window.cameraTable().size(), 0);
    QCOMPARE(record.statuses, (QVector<int>{StatusAwaitingEnumeration, StatusEnabled}));
}

QTEST_GUILESS_MAIN(TestMonitorDiscovery)
#include "tst_monitor_discovery.moc"
