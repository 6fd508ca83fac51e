// A real monitor on 127.0.0.1: datagram framing and routing, replies to the
// sender, the receive loop across stop and start, exclusive binds, the log.
#include "fakedriver.h"
#include "monitorkit.h"
#include "protocol.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <time.h>

namespace {
constexpr quint16 kPortSeed = 21000;

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

double threadCpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
}  // namespace

class TestMonitorFraming : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void framing_data();
    void framing();
    void repliesGoToTheSender();
    void vanishedClientDoesNotDisturbOthers();
    void listensOnBaseAndBasePlusOne();
    void datagramSentWhileStoppedIsNotAnswered();
    void stopAndStartWhileDatagramsArrive();
    void bindFailureIsReported_data();
    void bindFailureIsReported();
    void bindIsExclusive();
    void logOnlyWhenEnabled();
    void transferOptionsLogLine_data();
    void transferOptionsLogLine();
    void idleLoopSleepsInTheKernel();

private:
    bool startMonitor(MonitorMode mode, bool log = true);

    std::unique_ptr<QCameraMonitor> monitor;
    std::unique_ptr<MonitorRecorder> recorder;
};

bool TestMonitorFraming::startMonitor(MonitorMode mode, bool log)
{
    fake::reset();
    fake::setCameras({fake::Device{17}});
    fake::setRawFiles({fake::Device{0x50000}, fake::Device{0x50001}});
    monitor = std::make_unique<QCameraMonitor>(fake::table());
    monitor->setMode(mode);
    monitor->setLogEnabled(log);
    recorder = std::make_unique<MonitorRecorder>(*monitor);
    if (!startOnFreePort(*monitor, kPortSeed))
        return false;
    recorder->clear();
    return true;
}

void TestMonitorFraming::cleanup()
{
    recorder.reset();
    monitor.reset();
}

void TestMonitorFraming::framing_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("datagram");
    // The first 8 bytes of the one reply expected, or empty for none.
    QTest::addColumn<QByteArray>("replyHeader");
    QTest::addColumn<int>("replySize");
    // The log line expected; "" = no line at all; "*" = not looked at.
    QTest::addColumn<QString>("logLine");
    // rawFileSelector() afterwards.
    QTest::addColumn<int>("selector");

    const int cam = CameraMode;
    const int raw = RawFileMode;
    QTest::newRow("4 bytes 0,0,0,1: enumerate with id 0")
        << cam << bytes({0, 0, 0, 1}) << bytes({0, 0, 0, 1, 216, 0, 0, 0}) << 216
        << "Enumerate Vantrel - Found 1 cameras." << 0;
    QTest::newRow("8-byte command: sub-command 0 is unknown")
        << cam << bytes({0, 0, 0, 224, 8, 0, 5, 0}) << QByteArray() << 0
        << "Unknown Command: 0" << 0;
    QTest::newRow("sub-command -1 logged unsigned")
        << cam << bytes({0, 0, 0, 224, 12, 0, 5, 0, 255, 255, 255, 255}) << QByteArray() << 0
        << "Unknown Command: 4294967295" << 0;
    QTest::newRow("sub-command 13 is unknown")
        << cam << commandRequest(5, 13) << QByteArray() << 0 << "Unknown Command: 13" << 0;
    QTest::newRow("type 2: nothing at all")
        << cam << bytes({0, 0, 0, 2, 8, 0, 5, 0}) << QByteArray() << 0 << "" << 0;
    QTest::newRow("type 0: nothing at all")
        << cam << QByteArray(16, 0) << QByteArray() << 0 << "" << 0;
    QTest::newRow("empty datagram dropped") << cam << QByteArray("") << QByteArray() << 0 << ""
                                            << 0;
    QTest::newRow("resend: never answered")
        << cam << bytes({0, 0, 0, 200, 18, 0, 5, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 0})
        << QByteArray() << 0 << "*" << 0;
    for (uint32_t nop : {CMD_NOP, CMD_NOP_2, CMD_NOP_3})
        QTest::addRow("NOP %u: Ack 0, no log", nop)
            << cam << commandRequest(0x1234, nop) << bytes({0, 0, 0, 224, 8, 0, 0x34, 0x12})
            << 8 << "" << 0;
    QTest::newRow("over 8192 bytes: cut, still handled")
        << cam << (commandRequest(0x99, CMD_NOP) + QByteArray(9000, 'x'))
        << bytes({0, 0, 0, 224, 8, 0, 0x99, 0}) << 8 << "" << 0;
    QTest::newRow("camera mode: byte 0 is not a selector")
        << cam << commandRequest(1, CMD_NOP, {}, 5) << bytes({0, 0, 0, 224, 8, 0, 1, 0}) << 8
        << "" << 0;
    QTest::newRow("raw mode: enumerate with byte 0 = 5 sets rawSelector")
        << raw << enumerateRequest(3, 5) << bytes({0, 0, 0, 1, 216, 0, 3, 0}) << 216
        << "Enumerate Raw - Found 2 raw files." << 5;
    QTest::newRow("raw mode: NOP with byte 0 = 9")
        << raw << commandRequest(1, CMD_NOP, {}, 9) << bytes({0, 0, 0, 224, 8, 0, 1, 0}) << 8
        << "" << 9;
    QTest::newRow("raw mode: unknown type still sets rawSelector")
        << raw << bytes({7, 0, 0, 2, 8, 0, 0, 0}) << QByteArray() << 0 << "" << 7;
}

void TestMonitorFraming::framing()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, replyHeader);
    QFETCH(int, replySize);
    QFETCH(QString, logLine);
    QFETCH(int, selector);
    QVERIFY(startMonitor(MonitorMode(mode)));
    TestClient client;
    QVERIFY(client.isBound());
    client.send(datagram, monitor->listenPortNumber());
    // Before the probe, which carries selector 0.
    QTRY_COMPARE_WITH_TIMEOUT(int(monitor->rawFileSelector()), selector, 2000);
    const QVector<QByteArray> replies = client.repliesBeforeProbe(monitor->listenPortNumber());
    if (replyHeader.isEmpty()) {
        QCOMPARE(replies.size(), 0);
    } else {
        QCOMPARE(replies.size(), 1);
        QCOMPARE(replies[0].size(), replySize);
        QCOMPARE(replies[0].left(8), replyHeader);
    }
    QCoreApplication::processEvents();
    if (logLine.isEmpty())
        QCOMPARE(recorder->lines, QStringList());
    else if (logLine != QLatin1String("*"))
        QVERIFY2(recorder->waitForLine(logLine), qPrintable(recorder->lines.join('|')));
}

void TestMonitorFraming::repliesGoToTheSender()
{
    QVERIFY(startMonitor(CameraMode));
    TestClient first(QHostAddress(QStringLiteral("127.0.0.1")));
    TestClient second(QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(first.isBound());
    if (!second.isBound())
        QSKIP("127.0.0.2 is not usable on this machine");
    const quint16 port = monitor->listenPortNumber();

    // The first client discovers and opens; the second sends requests in
    // between and after. Each must see exactly its own answers.
    first.send(enumerateRequest(11), port);
    QHostAddress from;
    const QByteArray enumReply = first.receive(2000, &from);
    QCOMPARE(enumReply.size(), 216);
    QCOMPARE(int(decodeHeader(reinterpret_cast<const uint8_t *>(enumReply.constData()), 216).requestId), 11);
    QCOMPARE(from, QHostAddress(QStringLiteral("127.0.0.1")));

    second.send(commandRequest(21, CMD_NOP), port);
    const Ack secondAck = decodeAck(second.receive());
    QVERIFY(secondAck.valid);
    QCOMPARE(int(secondAck.id), 21);

    first.send(commandRequest(12, CMD_OPEN, {16}), port);
    const Ack openAck = decodeAck(first.receive());
    QVERIFY(openAck.valid);
    QCOMPARE(int(openAck.id), 12);

    // After the first client's open, the second still gets its own replies.
    second.send(rawInfoRequest(22, 0), port);
    const Ack refusal = decodeAck(second.receive());
    QVERIFY(refusal.valid);
    QCOMPARE(int(refusal.id), 22);
    QCOMPARE(int(refusal.result), int(RESULT_NO_RAW_FILE));
    second.send(enumerateRequest(23), port);
    QCOMPARE(second.receive().size(), 216);

    // Nothing of the other's went astray.
    QCOMPARE(first.repliesBeforeProbe(port, 0x1111).size(), 0);
    QCOMPARE(second.repliesBeforeProbe(port, 0x2222).size(), 0);
}

void TestMonitorFraming::vanishedClientDoesNotDisturbOthers()
{
    // Replies to a closed port come back as ICMP errors on the server's
    // socket; the server must keep serving everyone else.
    QVERIFY(startMonitor(CameraMode));
    const quint16 port = monitor->listenPortNumber();
    for (int i = 0; i < 5; ++i) {
        TestClient gone;
        for (int j = 0; j < 4; ++j)
            gone.send(enumerateRequest(uint16_t(j)), port);
    }
    TestClient client;
    client.send(enumerateRequest(0x42), port);
    const QVector<QByteArray> replies = client.repliesBeforeProbe(port);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0].size(), 216);
    // Nor does it spin on a pending error.
    const double cpuBefore = threadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QTest::qWait(200);
    QVERIFY(threadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore < 0.1);
}

void TestMonitorFraming::listensOnBaseAndBasePlusOne()
{
    fake::reset();
    fake::setCameras({fake::Device{17}});
    fake::setRawFiles({fake::Device{0x50000}});
    QCameraMonitor camera(fake::table());
    QCameraMonitor raw(fake::table());
    camera.setMode(CameraMode);
    raw.setMode(RawFileMode);
    QVERIFY(startPairOnFreePort(camera, raw, kPortSeed + 200));
    QCOMPARE(int(raw.listenPortNumber()), camera.listenPortNumber() + 1);

    TestClient client;
    client.send(enumerateRequest(1), camera.listenPortNumber());
    const QByteArray cameraReply = client.receive();
    client.send(enumerateRequest(2), raw.listenPortNumber());
    const QByteArray rawReply = client.receive();
    QCOMPARE(cameraReply.size(), 216);
    QCOMPARE(rawReply.size(), 216);
    const auto *c = reinterpret_cast<const uint8_t *>(cameraReply.constData());
    const auto *r = reinterpret_cast<const uint8_t *>(rawReply.constData());
    QCOMPARE(readU32(c, 216, 204), 0u);
    QCOMPARE(readU32(r, 216, 204), 1u);
    QCOMPARE(readU32(c, 216, 44), kLoopback);
    QCOMPARE(readU32(r, 216, 44), kLoopback);
}

void TestMonitorFraming::datagramSentWhileStoppedIsNotAnswered()
{
    QVERIFY(startMonitor(CameraMode));
    const quint16 port = monitor->listenPortNumber();
    monitor->stopServer();
    TestClient client;
    client.send(enumerateRequest(7), port);
    client.send(commandRequest(8, CMD_NOP), port);
    QVERIFY(monitor->startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
}

void TestMonitorFraming::stopAndStartWhileDatagramsArrive()
{
    QVERIFY(startMonitor(CameraMode));
    const quint16 port = monitor->listenPortNumber();
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        QUdpSocket udp;
        udp.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        const QByteArray enumerate = enumerateRequest(1);
        const QByteArray open = commandRequest(2, CMD_OPEN, {1});
        const QByteArray close = commandRequest(3, CMD_CLOSE);
        const QHostAddress server(QStringLiteral("127.0.0.1"));
        for (int i = 0; sending; ++i) {
            const QByteArray &d = i % 3 == 0 ? enumerate : (i % 3 == 1 ? open : close);
            udp.writeDatagram(d, server, port);
            if (i % 64 == 0) {
                // Drain the replies now and then; unread ones are just lost.
                while (udp.hasPendingDatagrams())
                    udp.readDatagram(nullptr, 0);
            }
            if (i % 8 == 0)
                QThread::usleep(100);
        }
    });
    for (int cycle = 0; cycle < 8; ++cycle) {
        monitor->stopServer();
        QCOMPARE(monitor->currentStatus(), int(StatusDisabled));
        QVERIFY(!monitor->isRunning());
        QVERIFY(monitor->startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
    }
    sending = false;
    sender.join();
    // Whatever was in flight, the server answers a fresh client correctly.
    TestClient client;
    client.send(enumerateRequest(0x77), port);
    QVector<QByteArray> replies = client.repliesBeforeProbe(port);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0].size(), 216);
    monitor->stopServer();
    QTRY_COMPARE_WITH_TIMEOUT(recorder->statuses.isEmpty() ? -1 : recorder->statuses.last(),
                              int(StatusDisabled), 2000);
}

void TestMonitorFraming::bindFailureIsReported_data()
{
    QTest::addColumn<bool>("occupantShares");
    QTest::addColumn<bool>("logEnabled");
    QTest::newRow("exclusive occupant, log off") << false << false;
    QTest::newRow("sharing occupant, log on") << true << true;
}

void TestMonitorFraming::bindFailureIsReported()
{
    QFETCH(bool, occupantShares);
    QFETCH(bool, logEnabled);
    QUdpSocket occupant;
    QVERIFY(occupant.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0,
                          occupantShares ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                         : QAbstractSocket::DontShareAddress));
    fake::reset();
    QCameraMonitor server(fake::table());
    server.setLogEnabled(logEnabled);
    MonitorRecorder record(server);
    server.setPortBase(occupant.localPort());
    QVERIFY(!server.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
    QVERIFY(!server.isRunning());
    QCOMPARE(server.currentStatus(), int(StatusDisabled));
    const QString port = QString::number(occupant.localPort());
    QVERIFY2(server.lastError().contains(port), qPrintable(server.lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(!record.statuses.isEmpty() && record.statuses.last() == 0, 2000);
    // The reason reaches the log whatever the log switch says.
    const QString expected = QStringLiteral("Cannot listen on 127.0.0.1 port %1").arg(port);
    const auto logged = [&] {
        for (const QString &line : record.lines)
            if (line.startsWith(expected))
                return true;
        return false;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(logged(), qPrintable(record.lines.join('|')), 2000);
    // A later start on a free port works.
    QVERIFY(startOnFreePort(server, kPortSeed + 400));
    QVERIFY(server.lastError().isEmpty());
}

void TestMonitorFraming::bindIsExclusive()
{
    QVERIFY(startMonitor(CameraMode));
    QUdpSocket intruder;
    QVERIFY(!intruder.bind(QHostAddress(QStringLiteral("127.0.0.1")), monitor->listenPortNumber(),
                           QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint));
    QCameraMonitor second(fake::table());
    second.setPortBase(monitor->listenPortNumber());
    QVERIFY(!second.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
}

void TestMonitorFraming::logOnlyWhenEnabled()
{
    QVERIFY(startMonitor(CameraMode, false));
    TestClient client;
    const quint16 port = monitor->listenPortNumber();
    client.send(enumerateRequest(1), port);
    client.send(commandRequest(2, 13), port);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 1);
    monitor->setTransferOptions(10, 0);
    QCoreApplication::processEvents();
    QCOMPARE(recorder->lines, QStringList());
    QCOMPARE(recorder->htmlLines, QStringList());

    monitor->setLogEnabled(true);
    client.send(commandRequest(3, 13), port);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    QVERIFY(recorder->waitForLine(QStringLiteral("Unknown Command: 13")));
    QCOMPARE(recorder->htmlLines.size(), recorder->lines.size());
    const QString html = recorder->htmlLines.last();
    QVERIFY2(html.startsWith(QLatin1String("<p><font color=gray>")), qPrintable(html));
    QVERIFY2(html.endsWith(QLatin1String("  </font><font color=white>Unknown Command: 13</font><br/></p>")),
             qPrintable(html));
}

void TestMonitorFraming::transferOptionsLogLine_data()
{
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("line");
    QTest::newRow("uncompressed") << 4 << 0 << "Network Performance: 4 - Image Format: uncompressed.";
    QTest::newRow("fast JPEG") << 250 << 1 << "Network Performance: 250 - Image Format: compressed.";
    QTest::newRow("JPEG") << 0 << 2 << "Network Performance: 0 - Image Format: compressed.";
}

void TestMonitorFraming::transferOptionsLogLine()
{
    QFETCH(int, delay);
    QFETCH(int, format);
    QFETCH(QString, line);
    QVERIFY(startMonitor(CameraMode));
    monitor->setTransferOptions(delay, format);
    QVERIFY(recorder->waitForLine(line));
}

void TestMonitorFraming::idleLoopSleepsInTheKernel()
{
    // A spinning loop burns a whole core; waiting in the kernel almost none.
    // The bound is loose on purpose: this tells spinning from waiting, it
    // does not measure speed.
    QVERIFY(startMonitor(CameraMode));
    const double cpuBefore = threadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(500);
    const double cpu = threadCpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;
    QVERIFY2(cpu < 0.2 * elapsed,
             qPrintable(QStringLiteral("%1 s of CPU in %2 s").arg(cpu).arg(elapsed)));
}

QTEST_GUILESS_MAIN(TestMonitorFraming)
#include "tst_monitor_framing.moc"
