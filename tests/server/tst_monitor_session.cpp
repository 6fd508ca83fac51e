// A real monitor on 127.0.0.1: CMD_OPEN and CMD_CLOSE in both modes, the
// status they move through, the image buffers sized at open, and what a stop
// closes.
#include "fakedriver.h"
#include "monitorkit.h"
#include "protocol.h"

#include <QtTest>

#include <memory>

namespace {
constexpr quint16 kPortSeed = 23000;
constexpr uint32_t kCamera = 17;
constexpr uint32_t kRawBase = 0x90000;  // raw file n has device id kRawBase + n
constexpr uint32_t kFailingRaw = 5;
}  // namespace

class TestMonitorSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cameraOpenAndClose();
    void openBeforeEnumeration_data();
    void openBeforeEnumeration();
    void cameraOpenFails();
    void cameraReopens();
    void calibrationFlag_data();
    void calibrationFlag();
    void cameraCloseWithNothingOpen();
    void cameraCloseAfterAnotherDiscovery();
    void rawBuffersOnlyGrow();
    void rawOpenRefusals_data();
    void rawOpenRefusals();
    void rawCloseFollowsTheSelector_data();
    void rawCloseFollowsTheSelector();
    void rawCloseWithNoneOpen();
    void stopBringsTheCameraDown_data();
    void stopBringsTheCameraDown();
    void rawFilesReopenAfterRestart();

private:
    bool startMonitor(MonitorMode mode);
    // Sends and returns the datagrams that answered it.
    QVector<QByteArray> exchange(const QByteArray &request);
    bool enumerate();
    bool openCamera(uint32_t megabytes = 64);
    bool openRaw(uint32_t number);
    int callIndex(const QString &call) const;

    std::unique_ptr<QCameraMonitor> monitor;
    std::unique_ptr<MonitorRecorder> recorder;
    std::unique_ptr<TestClient> client;
    quint16 nextId = 1;
};

void TestMonitorSession::init()
{
    fake::reset();
    fake::setCameras({fake::Device(kCamera, 640, 480, 1)});
    fake::setRawFiles({fake::Device(kRawBase + 0, 640, 480), fake::Device(kRawBase + 1, 320, 240),
                       fake::Device(kRawBase + 3, 100, 100),
                       fake::Device(kRawBase + kFailingRaw, 10, 10)});
    fake::failOpen(kRawBase + kFailingRaw);
}

void TestMonitorSession::cleanup()
{
    client.reset();
    recorder.reset();
    monitor.reset();
}

bool TestMonitorSession::startMonitor(MonitorMode mode)
{
    monitor = std::make_unique<QCameraMonitor>(fake::table());
    monitor->setMode(mode);
    monitor->setLogEnabled(true);
    recorder = std::make_unique<MonitorRecorder>(*monitor);
    client = std::make_unique<TestClient>();
    if (!client->isBound() || !startOnFreePort(*monitor, kPortSeed))
        return false;
    recorder->clear();
    return true;
}

QVector<QByteArray> TestMonitorSession::exchange(const QByteArray &request)
{
    client->send(request, monitor->listenPortNumber());
    return client->repliesBeforeProbe(monitor->listenPortNumber());
}

bool TestMonitorSession::enumerate()
{
    return exchange(enumerateRequest(nextId++)).size() == 1;
}

bool TestMonitorSession::openCamera(uint32_t megabytes)
{
    const quint16 id = nextId++;
    const QVector<QByteArray> replies = exchange(commandRequest(id, CMD_OPEN, {megabytes}));
    if (replies.size() != 1)
        return false;
    const Ack ack = decodeAck(replies[0]);
    return ack.valid && ack.result == 0 && ack.type == PKT_COMMAND && ack.id == id;
}

bool TestMonitorSession::openRaw(uint32_t number)
{
    const quint16 id = nextId++;
    const QVector<QByteArray> replies = exchange(commandRequest(id, CMD_OPEN, {0, number}));
    return replies.size() == 1 && decodeAck(replies[0]).valid && decodeAck(replies[0]).id == id
           && decodeAck(replies[0]).result == 0;
}

int TestMonitorSession::callIndex(const QString &call) const { return fake::calls().indexOf(call); }

void TestMonitorSession::cameraOpenAndClose()
{
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    fake::clearCalls();
    QVERIFY(openCamera(256));
    // The allocation goes to the driver before the camera is opened.
    QVERIFY(callIndex("option 10 256") >= 0);
    QVERIFY(callIndex("option 10 256") < callIndex(QStringLiteral("open %1").arg(kCamera)));
    QCOMPARE(fake::openIds(), QVector<uint32_t>{kCamera});
    // Sized for the largest image: 640 x 480 pixels of 6 bytes.
    QCOMPARE(monitor->imageBufferCapacity(), 640u * 480u * 6u);
    QCOMPARE(monitor->currentDevice()->deviceId, kCamera);

    const QStringList expectedOpen{
        QStringLiteral("Received Open Camera cmd from port %1 (Alloc 256 MB)").arg(client->port()),
        QStringLiteral("Open camera OK."), QStringLiteral("Calibration File is detected.")};
    QVERIFY(recorder->waitForLine(expectedOpen.last()));
    QCOMPARE(recorder->lines.mid(recorder->lines.size() - 3), expectedOpen);

    const QVector<QByteArray> closeReplies = exchange(commandRequest(0x4242, CMD_CLOSE));
    QCOMPARE(closeReplies.size(), 1);
    QCOMPARE(closeReplies[0], QByteArray("\0\0\0\xE0\x08\0\x42\x42", 8));
    QCOMPARE(fake::openIds(), QVector<uint32_t>());
    QCOMPARE(monitor->imageBufferCapacity(), 0u);
    QVERIFY(recorder->waitForLine(QStringLiteral("Received Close Camera command.")));

    monitor->stopServer();
    QTRY_COMPARE_WITH_TIMEOUT(recorder->statuses.size(), 5, 2000);
    QCOMPARE(recorder->statuses,
             (QVector<int>{StatusAwaitingEnumeration, StatusAwaitingConnection, StatusConnected,
                           StatusAwaitingConnection, StatusDisabled}));
}

void TestMonitorSession::openBeforeEnumeration_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("camera") << int(CameraMode);
    QTest::newRow("raw file") << int(RawFileMode);
}

void TestMonitorSession::openBeforeEnumeration()
{
    QFETCH(int, mode);
    QVERIFY(startMonitor(MonitorMode(mode)));
    QCOMPARE(exchange(commandRequest(1, CMD_OPEN, {64, 0})).size(), 0);
    QVERIFY(recorder->waitForLine(QStringLiteral("Wrong open parameters. Open error.")));
    QCOMPARE(fake::openIds(), QVector<uint32_t>());
    QCOMPARE(fake::calls().filter(QStringLiteral("option")), QStringList());
}

void TestMonitorSession::cameraOpenFails()
{
    fake::failOpen(kCamera);
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    QVERIFY(!openCamera());
    QVERIFY(recorder->waitForLine(QStringLiteral("Open camera error.")));
    QCOMPARE(monitor->currentStatus(), int(StatusAwaitingConnection));
    QCOMPARE(monitor->imageBufferCapacity(), 0u);
    QVERIFY(!monitor->currentDevice()->isOpen);
}

void TestMonitorSession::cameraReopens()
{
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    fake::clearCalls();
    QVERIFY(openCamera());
    QVERIFY(openCamera());
    const QString open = QStringLiteral("open %1").arg(kCamera);
    const QString close = QStringLiteral("close %1").arg(kCamera);
    QCOMPARE(fake::calls().filter(QRegularExpression("^(open|close)")),
             (QStringList{open, close, open}));
    QCOMPARE(fake::openIds(), QVector<uint32_t>{kCamera});
    QCOMPARE(monitor->imageBufferCapacity(), 640u * 480u * 6u);
}

void TestMonitorSession::calibrationFlag_data()
{
    QTest::addColumn<uint32_t>("flag");
    QTest::addColumn<QString>("line");
    QTest::newRow("absent") << 0u << "Calibration File not detected.";
    QTest::newRow("present") << 7u << "Calibration File is detected.";
}

void TestMonitorSession::calibrationFlag()
{
    QFETCH(uint32_t, flag);
    QFETCH(QString, line);
    fake::setCameras({fake::Device(kCamera, 8, 8, flag)});
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    QVERIFY(openCamera());
    QVERIFY(recorder->waitForLine(line));
}

void TestMonitorSession::cameraCloseWithNothingOpen()
{
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    fake::clearCalls();
    const QVector<QByteArray> replies = exchange(commandRequest(9, CMD_CLOSE));
    QCOMPARE(replies.size(), 1);
    QCOMPARE(decodeAck(replies[0]).result, uint8_t(0));
    QCOMPARE(fake::calls(), QStringList());
    QCOMPARE(monitor->currentStatus(), int(StatusAwaitingConnection));
}

void TestMonitorSession::cameraCloseAfterAnotherDiscovery()
{
    // Another client's discovery moves the status to 3 while the camera is
    // open; closing must still close the camera.
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    QVERIFY(openCamera());
    TestClient other;
    other.send(enumerateRequest(1), monitor->listenPortNumber());
    QCOMPARE(other.receive().size(), 216);
    QCOMPARE(other.repliesBeforeProbe(monitor->listenPortNumber()).size(), 0);
    QCOMPARE(monitor->currentStatus(), int(StatusAwaitingConnection));
    QCOMPARE(exchange(commandRequest(2, CMD_CLOSE)).size(), 1);
    QCOMPARE(fake::openIds(), QVector<uint32_t>());
    QCOMPARE(monitor->imageBufferCapacity(), 0u);
}

void TestMonitorSession::rawBuffersOnlyGrow()
{
    QVERIFY(startMonitor(RawFileMode));
    QVERIFY(enumerate());
    QVERIFY(openRaw(0));  // 640 x 480
    QCOMPARE(monitor->imageBufferCapacity(), 640u * 480u * 6u);
    QVERIFY(openRaw(1));  // 320 x 240: the buffers stay
    QCOMPARE(monitor->imageBufferCapacity(), 640u * 480u * 6u);
    QCOMPARE(monitor->openRawFileCount(), 2);
    QVERIFY(recorder->waitForLine(QStringLiteral("Received Open Raw File 1 cmd from port %1").arg(client->port())));
    QVERIFY(recorder->lines.contains(QStringLiteral("Open Raw File OK.")));
    QCOMPARE(recorder->statuses,
             (QVector<int>{StatusAwaitingEnumeration, StatusAwaitingConnection, StatusConnected,
                           StatusConnected}));
}

void TestMonitorSession::rawOpenRefusals_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("line");
    QTest::newRow("already open") << 3 << "Received Open Raw File 3 cmd (already open)";
    QTest::newRow("unknown number") << 7 << "Open raw file error.";
    QTest::newRow("negative number") << -1 << "Open raw file error.";
    // Only the low 16 bits of a device id name a raw file; 65536 names none.
    QTest::newRow("beyond 16 bits") << 0x10000 << "Open raw file error.";
    QTest::newRow("driver refuses")
        << int(kFailingRaw) << QStringLiteral("Open raw file %1 failed: driver status 5.").arg(kFailingRaw);
}

void TestMonitorSession::rawOpenRefusals()
{
    QFETCH(int, number);
    QFETCH(QString, line);
    QVERIFY(startMonitor(RawFileMode));
    QVERIFY(enumerate());
    QVERIFY(openRaw(3));
    const QVector<uint32_t> openBefore = fake::openIds();
    recorder->clear();
    QCOMPARE(exchange(commandRequest(7, CMD_OPEN, {0, uint32_t(number)})).size(), 0);
    QVERIFY2(recorder->waitForLine(line), qPrintable(recorder->lines.join('|')));
    QCOMPARE(monitor->openRawFileCount(), 1);
    QCOMPARE(fake::openIds(), openBefore);
    QCOMPARE(recorder->statuses, QVector<int>());
}

void TestMonitorSession::rawCloseFollowsTheSelector_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<QVector<uint32_t>>("stillOpen");
    QTest::newRow("selector names file 3")
        << 3 << QVector<uint32_t>{kRawBase + 0};
    QTest::newRow("selector names file 0")
        << 0 << QVector<uint32_t>{kRawBase + 3};
    // Neither matches: the request acts on the fallback device, which holds
    // nothing; both files stay open.
    QTest::newRow("selector names neither")
        << 9 << QVector<uint32_t>{kRawBase + 0, kRawBase + 3};
}

void TestMonitorSession::rawCloseFollowsTheSelector()
{
    QFETCH(int, selector);
    QFETCH(QVector<uint32_t>, stillOpen);
    QVERIFY(startMonitor(RawFileMode));
    QVERIFY(enumerate());
    QVERIFY(openRaw(0));
    QVERIFY(openRaw(3));
    const QVector<QByteArray> replies =
        exchange(commandRequest(5, CMD_CLOSE, {}, uint8_t(selector)));
    QCOMPARE(replies.size(), 1);
    QCOMPARE(decodeAck(replies[0]).result, uint8_t(0));
    QCOMPARE(fake::openIds(), stillOpen);
    QCOMPARE(monitor->openRawFileCount(), stillOpen.size());
    QCOMPARE(monitor->currentStatus(), int(StatusAwaitingConnection));
    // One file left: the next close takes it whatever the selector.
    if (stillOpen.size() == 1) {
        QCOMPARE(exchange(commandRequest(6, CMD_CLOSE, {}, 77)).size(), 1);
        QCOMPARE(monitor->openRawFileCount(), 0);
        QCOMPARE(fake::openIds(), QVector<uint32_t>());
        QCOMPARE(monitor->imageBufferCapacity(), 0u);
    }
}

void TestMonitorSession::rawCloseWithNoneOpen()
{
    QVERIFY(startMonitor(RawFileMode));
    QVERIFY(enumerate());
    fake::clearCalls();
    recorder->clear();
    const QVector<QByteArray> replies = exchange(commandRequest(5, CMD_CLOSE));
    QCOMPARE(replies.size(), 1);
    QCOMPARE(decodeAck(replies[0]).result, uint8_t(0));
    QCOMPARE(fake::calls(), QStringList());
    QVERIFY(recorder->waitForLine(QStringLiteral("Received Close Raw file command.")));
    QCOMPARE(recorder->statuses, QVector<int>{StatusAwaitingConnection});
    QCOMPARE(monitor->currentDevice()->handle, nullptr);
}

void TestMonitorSession::stopBringsTheCameraDown_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("grabbing");
    QTest::addColumn<QStringList>("calls");
    const QString close = QStringLiteral("close %1").arg(kCamera);
    QTest::newRow("idle") << false << false << QStringList{close};
    QTest::newRow("live") << true << false
                          << QStringList{QStringLiteral("live %1 0").arg(kCamera), close};
    QTest::newRow("grabbing") << false << true
                              << QStringList{QStringLiteral("stopgrab %1").arg(kCamera), close};
    QTest::newRow("live and grabbing: the grab is stopped, not live")
        << true << true << QStringList{QStringLiteral("stopgrab %1").arg(kCamera), close};
}

void TestMonitorSession::stopBringsTheCameraDown()
{
    QFETCH(bool, live);
    QFETCH(bool, grabbing);
    QFETCH(QStringList, calls);
    QVERIFY(startMonitor(CameraMode));
    QVERIFY(enumerate());
    QVERIFY(openCamera());
    // The live and grab commands set these flags; the worker is idle now.
    monitor->currentDevice()->isLive = live;
    monitor->currentDevice()->isGrabbing = grabbing;
    fake::clearCalls();
    monitor->stopServer();
    QCOMPARE(fake::calls(), calls);
    QVERIFY(!monitor->currentDevice()->isOpen);
    // Stopping again finds nothing to close.
    fake::clearCalls();
    monitor->stopServer();
    QCOMPARE(fake::calls(), QStringList());
}

void TestMonitorSession::rawFilesReopenAfterRestart()
{
    QVERIFY(startMonitor(RawFileMode));
    QVERIFY(enumerate());
    QVERIFY(openRaw(0));
    QVERIFY(openRaw(1));
    monitor->stopServer();
    QCOMPARE(fake::openIds(), QVector<uint32_t>());
    QCOMPARE(monitor->openRawFileCount(), 0);
    QVERIFY(monitor->startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
    // The table survives the restart, and the files open again.
    QVERIFY(openRaw(0));
    QCOMPARE(monitor->openRawFileCount(), 1);
    QCOMPARE(monitor->imageBufferCapacity(), 640u * 480u * 6u);
}

QTEST_GUILESS_MAIN(TestMonitorSession)
#include "tst_monitor_session.moc"
