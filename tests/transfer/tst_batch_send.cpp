// Runs of segment datagrams handed to the kernel in one call: the datagrams
// laid back to back are the ones built one by one, and what arrives through
// segmentation offload (UDP_SEGMENT), through the sendmmsg fallback and from
// a monitor's socket is byte for byte those datagrams, zero filler included.
#include "batchsender.h"
#include "imagedriver.h"
#include "monitorkit.h"
#include "testpattern.h"
#include "transfersegment.h"

#include <QtTest>

#include <sys/socket.h>

#include <vector>

namespace {

// Ports of this test program: 36500 and up.
constexpr quint16 kPortSeed = 36500;
constexpr int kReceiveBuffer = 16 * 1024 * 1024;
constexpr uint8_t kStale = 0xA5;

// `size` bytes of data followed by stale bytes, as an image buffer holds
// them after a larger image.
std::vector<uint8_t> dataWithStaleTail(uint32_t size, uint32_t packetSize)
{
    std::vector<uint8_t> data(size_t(size) + packetSize, kStale);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 13 + (i >> 8));
    return data;
}

QByteArray oneByOne(const std::vector<uint8_t> &data, const SegmentLayout &layout, uint32_t index)
{
    QByteArray datagram(int(kSegmentHeaderSize + layout.payload), char(kStale));
    const size_t size = buildSegmentDatagram(reinterpret_cast<uint8_t *>(datagram.data()),
                                             data.data(), layout, index, index + 1 == layout.count);
    datagram.resize(int(size));
    return datagram;
}

// A receiver on 127.0.0.1 that takes every datagram on its own (no UDP_GRO).
struct Receiver {
    QUdpSocket socket;
    bool bind()
    {
        if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0))
            return false;
        const int fd = int(socket.socketDescriptor());
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
        return true;
    }
    // Up to `count` datagrams, each within a bounded wait.
    QVector<QByteArray> take(int count)
    {
        QVector<QByteArray> out;
        while (out.size() < count && (socket.hasPendingDatagrams() || socket.waitForReadyRead(2000))) {
            while (socket.hasPendingDatagrams() && out.size() < count) {
                QByteArray datagram(int(socket.pendingDatagramSize()), 0);
                socket.readDatagram(datagram.data(), datagram.size());
                out << datagram;
            }
        }
        return out;
    }
};

}  // namespace

class TestBatchSend : public QObject
{
    Q_OBJECT

private slots:
    void laidOutAsBuiltOneByOne_data();
    void laidOutAsBuiltOneByOne();
    void sentAsBuiltOneByOne_data();
    void sentAsBuiltOneByOne();
    void offloadSwitchedOff();
    void notIPv4IsRefused();
    void monitorSocketSendsZeroFiller_data();
    void monitorSocketSendsZeroFiller();
};

namespace {

void sizesTable()
{
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("packet");
    QTest::newRow("10000 in 1500: short last") << 10000u << 1500u;
    QTest::newRow("2968 in 1500: full last") << 2968u << 1500u;
    QTest::newRow("one byte") << 1u << 1500u;
    QTest::newRow("100000 in 1488") << 100000u << 1488u;
    QTest::newRow("200000 in 8988") << 200000u << 8988u;
    QTest::newRow("5000 in 32: 64 a send") << 5000u << 32u;
    QTest::newRow("70000 in 65507: one a send") << 70000u << 65507u;
    QTest::newRow("40000 in 33000: one a send") << 40000u << 33000u;
}

}  // namespace

void TestBatchSend::laidOutAsBuiltOneByOne_data()
{
    sizesTable();
}

void TestBatchSend::laidOutAsBuiltOneByOne()
{
    QFETCH(uint, size);
    QFETCH(uint, packet);
    const SegmentLayout layout = segmentLayout(size, packet);
    const std::vector<uint8_t> data = dataWithStaleTail(size, packet);
    std::vector<uint8_t> stream(segmentStreamBytes(layout) + 64, kStale);
    QCOMPARE(buildSegmentStream(stream.data(), data.data(), layout), segmentStreamBytes(layout));
    QCOMPARE(segmentStreamBytes(layout), size_t(layout.count) * packet);
    for (uint32_t i = 0; i < layout.count; ++i) {
        const QByteArray expected = oneByOne(data, layout, i);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(stream.data()) + size_t(i) * packet,
                            int(packet)),
                 expected);
    }
    // Nothing written past the run.
    QCOMPARE(stream[segmentStreamBytes(layout)], kStale);
    // The filler of the last segment is zero, not the stale bytes behind the data.
    const uint8_t *last = stream.data() + size_t(layout.count - 1) * packet;
    for (uint32_t b = kSegmentHeaderSize + layout.lastLength; b < packet; ++b)
        QCOMPARE(last[b], uint8_t(0));
}

void TestBatchSend::sentAsBuiltOneByOne_data()
{
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("packet");
    QTest::addColumn<bool>("offload");
    const QVector<QPair<uint, uint>> cases = {{10000, 1500}, {2968, 1500}, {1, 1500},
                                              {100000, 1488}, {200000, 8988}, {5000, 32},
                                              {70000, 65507}};
    for (const auto &c : cases) {
        for (bool offload : {true, false})
            QTest::newRow(qPrintable(QStringLiteral("%1 in %2, %3")
                                         .arg(c.first)
                                         .arg(c.second)
                                         .arg(offload ? "UDP_SEGMENT" : "sendmmsg")))
                << c.first << c.second << offload;
    }
}

void TestBatchSend::sentAsBuiltOneByOne()
{
    QFETCH(uint, size);
    QFETCH(uint, packet);
    QFETCH(bool, offload);
    Receiver receiver;
    QVERIFY(receiver.bind());
    QUdpSocket sending;
    QVERIFY(sending.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));

    const SegmentLayout layout = segmentLayout(size, packet);
    const std::vector<uint8_t> data = dataWithStaleTail(size, packet);
    std::vector<uint8_t> stream(segmentStreamBytes(layout));
    buildSegmentStream(stream.data(), data.data(), layout);

    BatchSender sender;
    sender.setOffload(offload ? BatchSender::Offload::Auto : BatchSender::Offload::Off);
    sender.attach(int(sending.socketDescriptor()));
    QVERIFY(sender.setDestination(QHostAddress(QStringLiteral("127.0.0.1")),
                                  receiver.socket.localPort()));
    QCOMPARE(sender.sendRun(stream.data(), packet, layout.count), layout.count);

    const QVector<QByteArray> got = receiver.take(int(layout.count));
    QCOMPARE(got.size(), int(layout.count));
    for (uint32_t i = 0; i < layout.count; ++i)
        QCOMPARE(got[int(i)], oneByOne(data, layout, i));

    const BatchSender::Counters &c = sender.counters();
    QCOMPARE(c.dropped, 0u);
    const bool runs = layout.count >= 2 && kMaxOffloadBytes / packet >= 2;
    if (!offload || !runs) {
        QCOMPARE(c.offloadSends, 0u);
    } else if (c.offloadSends == 0) {
        // A kernel without UDP_SEGMENT: the fallback carried it all.
        QVERIFY(!sender.offloadUsable(packet));
        QVERIFY(c.batchCalls > 0);
    } else {
        // Full runs, then the rest as one more run, or alone when it is one.
        const uint64_t perSend = std::min<uint64_t>(kMaxRunDatagrams, kMaxOffloadBytes / packet);
        const uint64_t rest = layout.count % perSend;
        QCOMPARE(c.offloadSends, layout.count / perSend + (rest >= 2 ? 1 : 0));
        QCOMPARE(c.singleSends, rest == 1 ? 1u : 0u);
    }
}

void TestBatchSend::offloadSwitchedOff()
{
    BatchSender sender;
    QCOMPARE(sender.runCapacity(1488), 44u);
    QCOMPARE(sender.runCapacity(8988), 7u);
    QCOMPARE(sender.runCapacity(32), kMaxRunDatagrams);
    QVERIFY(sender.offloadUsable(1488));
    QVERIFY(!sender.offloadUsable(40000));
    sender.setOffload(BatchSender::Offload::Off);
    QVERIFY(!sender.offloadUsable(1488));
    QCOMPARE(sender.runCapacity(1488), kMaxRunDatagrams);
}

void TestBatchSend::notIPv4IsRefused()
{
    BatchSender sender;
    QVERIFY(!sender.setDestination(QHostAddress(QStringLiteral("::1")), 5000));
    uint8_t datagram[64] = {};
    QCOMPARE(sender.sendRun(datagram, sizeof datagram, 1), 0u);
    QCOMPARE(sender.counters().dropped, 1u);
}

void TestBatchSend::monitorSocketSendsZeroFiller_data()
{
    QTest::addColumn<uint>("packet");
    QTest::addColumn<int>("delay");
    QTest::newRow("1500, delay 0: runs") << 1500u << 0;
    QTest::newRow("8988, delay 0: runs") << 8988u << 0;
    QTest::newRow("1500, delay 2: one by one") << 1500u << 2;
}

void TestBatchSend::monitorSocketSendsZeroFiller()
{
    QFETCH(uint, packet);
    QFETCH(int, delay);
    imagefake::Config config;
    config.maxWidth = 200;
    config.maxHeight = 200;
    config.width = 200;
    config.height = 100;  // 20000 bytes, then 5000: the filler lies over the first image
    imagefake::reset(config);
    QCameraMonitor monitor(imagefake::table());
    QVERIFY(startOnFreePort(monitor, kPortSeed));
    monitor.setTransferOptions(delay, 0);
    TestClient client;
    QVERIFY(client.isBound());
    const int fd = int(client.socket.socketDescriptor());
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer);
    const quint16 port = monitor.listenPortNumber();
    client.send(enumerateRequest(1), port);
    QVERIFY(!client.receive().isNull());
    client.send(commandRequest(2, CMD_OPEN, {16}), port);
    QVERIFY(!client.receive().isNull());

    for (uint32_t frame = 0; frame < 2; ++frame) {
        if (frame == 1) {
            imagefake::config().width = 100;
            imagefake::config().height = 50;
        }
        const uint32_t w = imagefake::config().width;
        const uint32_t h = imagefake::config().height;
        std::vector<uint8_t> image(imageBytesFor(w, h, 8) + packet, kStale);
        renderTestPattern(image.data(), w, h, 8, frame);
        const SegmentLayout layout = segmentLayout(imageBytesFor(w, h, 8), packet);

        client.send(commandRequest(uint16_t(10 + frame), CMD_READ_IMAGE,
                                   {0, 0, client.port(), 0, packet}),
                    port);
        const QByteArray reply = client.receive();
        QCOMPARE(reply.size(), int(kCommandReplySize));
        for (uint32_t i = 0; i < layout.count; ++i) {
            const QByteArray datagram = client.receive();
            QCOMPARE(datagram, oneByOne(image, layout, i));
        }
    }
    monitor.stopServer();
}

QTEST_GUILESS_MAIN(TestBatchSend)
#include "tst_batch_send.moc"
