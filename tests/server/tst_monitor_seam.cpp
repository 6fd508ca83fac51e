// Datagrams handed in without a socket: the same answers as over the
// network, status 0 drops everything, and random datagrams in both modes
// neither crash nor answer anyone but their sender.
#include "fakedriver.h"
#include "monitorkit.h"
#include "protocol.h"
#include "replysink.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
constexpr quint16 kPortSeed = 24000;

const QHostAddress kSender(QStringLiteral("127.0.0.9"));
constexpr quint16 kSenderPort = 4567;

void feed(QCameraMonitor &monitor, const QByteArray &datagram)
{
    monitor.handleDatagram(reinterpret_cast<const uint8_t *>(datagram.constData()),
                           size_t(datagram.size()), kSender, kSenderPort);
}

void configureDriver()
{
    fake::reset();
    fake::setCameras({fake::Device(17, 64, 32, 0, "camera"), fake::Device(18)});
    fake::setRawFiles({fake::Device(0x90000, 64, 32), fake::Device(0x90001, 32, 16),
                       fake::Device(0x90002, 16, 16)});
}
}  // namespace

class TestMonitorSeam : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void sameAnswersAsTheSocket_data();
    void sameAnswersAsTheSocket();
    void disabledMonitorDropsEverything();
    void randomDatagrams_data();
    void randomDatagrams();
};

void TestMonitorSeam::init() { configureDriver(); }

void TestMonitorSeam::sameAnswersAsTheSocket_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QVector<QByteArray>>("requests");
    const QVector<QByteArray> session{enumerateRequest(1), rawInfoRequest(2, 1),
                                      commandRequest(3, CMD_OPEN, {64, 1}),
                                      commandRequest(4, CMD_NOP_2), commandRequest(5, 99),
                                      commandRequest(6, CMD_CLOSE), rawInfoRequest(7, 3)};
    QTest::newRow("camera") << int(CameraMode) << session;
    QTest::newRow("raw file") << int(RawFileMode) << session;
}

void TestMonitorSeam::sameAnswersAsTheSocket()
{
    QFETCH(int, mode);
    QFETCH(QVector<QByteArray>, requests);

    QVector<QByteArray> overTheNetwork;
    QStringList networkCalls;
    {
        QCameraMonitor monitor(fake::table());
        monitor.setMode(MonitorMode(mode));
        QVERIFY(startOnFreePort(monitor, kPortSeed));
        TestClient client;
        for (const QByteArray &request : requests) {
            client.send(request, monitor.listenPortNumber());
            overTheNetwork += client.repliesBeforeProbe(monitor.listenPortNumber());
        }
        networkCalls = fake::calls();
    }
    configureDriver();
    RecordingReplySink sink;
    QCameraMonitor monitor(fake::table());
    monitor.setMode(MonitorMode(mode));
    monitor.setReplySink(&sink);
    monitor.startOffline(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0);
    for (const QByteArray &request : requests)
        feed(monitor, request);
    QVector<QByteArray> offline;
    for (const auto &d : sink.datagrams) {
        QCOMPARE(d.address, kSender);
        QCOMPARE(d.port, kSenderPort);
        offline << d.bytes;
    }
    QCOMPARE(offline, overTheNetwork);
    QVERIFY(!offline.isEmpty());
    QCOMPARE(fake::calls().filter(QRegularExpression("^(enum|open|close|option)")),
             networkCalls.filter(QRegularExpression("^(enum|open|close|option)")));
}

void TestMonitorSeam::disabledMonitorDropsEverything()
{
    RecordingReplySink sink;
    QCameraMonitor monitor(fake::table());
    monitor.setReplySink(&sink);
    fake::clearCalls();
    feed(monitor, enumerateRequest(1));
    feed(monitor, commandRequest(2, CMD_NOP));
    QCOMPARE(sink.datagrams.size(), 0);
    QCOMPARE(fake::calls(), QStringList());

    monitor.startOffline(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0);
    feed(monitor, commandRequest(3, CMD_NOP));
    QCOMPARE(sink.datagrams.size(), 1);
    monitor.stopServer();
    feed(monitor, commandRequest(4, CMD_NOP));
    QCOMPARE(sink.datagrams.size(), 1);
}

void TestMonitorSeam::randomDatagrams_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("camera") << int(CameraMode);
    QTest::newRow("raw file") << int(RawFileMode);
}

void TestMonitorSeam::randomDatagrams()
{
    QFETCH(int, mode);
    RecordingReplySink sink;
    QCameraMonitor monitor(fake::table());
    monitor.setMode(MonitorMode(mode));
    monitor.setReplySink(&sink);
    monitor.startOffline(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 0, 0);
    QRandomGenerator random(0x5EED + quint32(mode));
    const uint8_t types[] = {PKT_ENUMERATE, PKT_RAW_INFO, PKT_COMMAND, PKT_COMMAND, PKT_RESEND, 0, 2};
    QByteArray datagram;
    for (int i = 0; i < 20000; ++i) {
        // Mostly well-formed headers with hostile bodies; now and then a
        // length past the receive buffer.
        const int length = random.bounded(10) == 0 ? random.bounded(9000) : random.bounded(64);
        datagram.resize(length);
        for (int j = 0; j < length; ++j)
            datagram[j] = char(random.bounded(256));
        if (length > 3)
            datagram[3] = char(types[random.bounded(int(sizeof types))]);
        if (length > 0)
            datagram[0] = char(random.bounded(4));
        if (length >= 12 && random.bounded(2))
            qToLittleEndian<uint32_t>(uint32_t(random.bounded(80)), datagram.data() + 8);
        if (length >= 24 && random.bounded(2))
            qToLittleEndian<uint32_t>(uint32_t(random.bounded(4)), datagram.data() + 20);
        feed(monitor, datagram);
        if (i % 4096 == 0) {
            for (const auto &d : sink.datagrams)
                QCOMPARE(d.address, kSender);
            sink.datagrams.clear();
        }
    }
    for (const auto &d : sink.datagrams)
        QCOMPARE(d.address, kSender);
    monitor.stopServer();
    QCOMPARE(fake::openIds(), QVector<uint32_t>());
    QCOMPARE(monitor.openRawFileCount(), 0);
}

QTEST_GUILESS_MAIN(TestMonitorSeam)
#include "tst_monitor_seam.moc"
