// The image commands on a monitor fed without a socket: the reply record,
// segment cutting and pacing, resends with their back-off, every bound on
// requests and resend lists, the JPEG formats and the small grab, trigger,
// zero-value and calibration commands.
#include "imagedriver.h"
#include "monitorkit.h"
#include "protocol.h"
#include "testpattern.h"
#include "transferprobe.h"

#include "cameradevice.h"

#include <QtTest>

#include <memory>
#include <thread>

namespace {

const QHostAddress kClient(QStringLiteral("127.0.0.7"));
constexpr quint16 kClientPort = 40100;
constexpr quint16 kDataPort = 40200;

struct Segment {
    SegmentHeader header;
    QByteArray payload;
    QHostAddress address;
    quint16 port = 0;
    int size = 0;
};

QByteArray pattern(uint32_t w, uint32_t h, uint32_t bits, uint32_t frame)
{
    QByteArray out(int(imageBytesFor(w, h, bits)), 0);
    renderTestPattern(reinterpret_cast<uint8_t *>(out.data()), w, h, bits, frame);
    return out;
}

QByteArray readRequest(uint16_t id, uint32_t source, uint32_t index, uint32_t packet,
                       uint32_t dataPortWord = kDataPort)
{
    return commandRequest(id, CMD_READ_IMAGE, {source, index, dataPortWord, 0, packet});
}

QByteArray resendRequest(const QVector<uint16_t> &indices, bool last)
{
    QByteArray out(int(16 + 2 * indices.size()), 0);
    buildResendRequest(reinterpret_cast<uint8_t *>(out.data()), 0x77, indices.constData(),
                       uint32_t(indices.size()), last);
    return out;
}

// A resend datagram whose n says `declared` whatever it carries.
QByteArray resendClaiming(uint32_t declared, const QVector<uint16_t> &carried, bool last)
{
    QByteArray out = resendRequest(carried, last);
    writeU32(reinterpret_cast<uint8_t *>(out.data()), 8, declared);
    return out;
}

QVector<uint16_t> cycling(int count, int modulo)
{
    QVector<uint16_t> out;
    for (int i = 0; i < count; ++i)
        out << uint16_t(i % modulo);
    return out;
}

// A camera-mode monitor without a socket, the fake camera enumerated and open.
struct Rig {
    explicit Rig(int delayUs = 0, int format = 0, bool open = true) : sink(monitor), recorder(monitor)
    {
        monitor.setReplySink(&sink);
        monitor.setLogEnabled(true);
        monitor.startOffline(kLoopback, kLoopbackMask, kTestMac, kTestMtu, delayUs, format);
        if (open) {
            feed(enumerateRequest(1));
            feed(commandRequest(2, CMD_OPEN, {64}));
        }
        clear();
    }
    void feed(const QByteArray &datagram, const QHostAddress &from = kClient,
              quint16 port = kClientPort)
    {
        monitor.handleDatagram(reinterpret_cast<const uint8_t *>(datagram.constData()),
                               size_t(datagram.size()), from, port);
    }
    void clear()
    {
        sink.clear();
        recorder.clear();
        imagefake::clearCalls();
    }
    QVector<Segment> segments() const
    {
        QVector<Segment> out;
        for (const auto &d : sink.datagrams) {
            Segment s;
            const auto *data = reinterpret_cast<const uint8_t *>(d.bytes.constData());
            if (!decodeSegmentHeader(data, size_t(d.bytes.size()), &s.header))
                continue;
            s.payload = d.bytes.mid(int(kSegmentHeaderSize));
            s.address = d.address;
            s.port = d.port;
            s.size = d.bytes.size();
            out << s;
        }
        return out;
    }
    // The first datagram, decoded as a reply to the client.
    CommandReply reply() const
    {
        if (sink.datagrams.isEmpty())
            return CommandReply();
        const QByteArray &b = sink.datagrams.first().bytes;
        return decodeCommandReply(reinterpret_cast<const uint8_t *>(b.constData()),
                                  size_t(b.size()));
    }
    Ack onlyAck() const
    {
        return sink.datagrams.size() == 1 ? decodeAck(sink.datagrams.first().bytes) : Ack();
    }
    bool logged(const QString &prefix) const
    {
        for (const QString &line : recorder.lines)
            if (line.startsWith(prefix))
                return true;
        return false;
    }

    QCameraMonitor monitor{imagefake::table()};
    DelayNotingSink sink;
    MonitorRecorder recorder;
};

}  // namespace

class TestTransferServer : public QObject
{
    Q_OBJECT

private slots:
    void init() { imagefake::reset(); }
    void segmentsOfAnImage_data();
    void segmentsOfAnImage();
    void imageSources_data();
    void imageSources();
    void readFailures_data();
    void readFailures();
    void refusedBeforeTheRead_data();
    void refusedBeforeTheRead();
    void resendOfTwoSegments();
    void resendAcrossDatagrams_data();
    void resendAcrossDatagrams();
    void unfinishedResendKeepsBackOff();
    void zeroDelaySendsBackToBack();
    void resendBounds_data();
    void resendBounds();
    void resendIgnored_data();
    void resendIgnored();
    void jpegFormats_data();
    void jpegFormats();
    void replyCommands_data();
    void replyCommands();
    void memoryGrabFlag();
    void calibrateRunsQueued();
};

void TestTransferServer::segmentsOfAnImage_data()
{
    QTest::addColumn<uint>("width");
    QTest::addColumn<uint>("height");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<uint>("packet");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastLength");
    QTest::newRow("10000 bytes at 1500") << 100u << 100u << 8u << 1500u << 7 << 1096;
    QTest::newRow("exact multiple of the payload") << 742u << 4u << 8u << 1500u << 2 << 1484;
    QTest::newRow("12 bits") << 50u << 20u << 12u << 1000u << 3 << 32;
    QTest::newRow("48 bits") << 20u << 10u << 48u << 532u << 3 << 168;
    QTest::newRow("smallest packet") << 10u << 10u << 8u << 32u << 7 << 4;
    QTest::newRow("largest packet") << 128u << 96u << 48u << 65507u << 2 << 8237;
    QTest::newRow("empty image") << 0u << 10u << 8u << 1500u << 0 << 0;
}

void TestTransferServer::segmentsOfAnImage()
{
    QFETCH(uint, width);
    QFETCH(uint, height);
    QFETCH(uint, bits);
    QFETCH(uint, packet);
    QFETCH(int, count);
    QFETCH(int, lastLength);
    Rig rig;
    // A full buffer of an earlier image first: no byte of it may show up as
    // filler of the short last segment.
    imagefake::config().width = 128;
    imagefake::config().height = 96;
    imagefake::config().bitsPerPixel = 48;
    rig.feed(readRequest(3, 2, 77, 1500));
    rig.clear();

    imagefake::config().width = width;
    imagefake::config().height = height;
    imagefake::config().bitsPerPixel = bits;
    rig.feed(readRequest(4, 2, 5, packet));
    QCOMPARE(imagefake::calls(), QStringList{QStringLiteral("index 0 0 5")});

    const CommandReply reply = rig.reply();
    QVERIFY(reply.valid);
    QCOMPARE(rig.sink.datagrams.first().address, kClient);
    QCOMPARE(rig.sink.datagrams.first().port, kClientPort);
    QCOMPARE(int(reply.result), 0);
    QCOMPARE(reply.requestId, uint16_t(4));
    QCOMPARE(reply.subCommand, CMD_READ_IMAGE);
    QCOMPARE(reply.valueLength, 20u);
    const QByteArray expected = pattern(width, height, bits, 5);
    QCOMPARE(reply.value(0), 0u);
    QCOMPARE(reply.value(1), uint32_t(expected.size()));
    QCOMPARE(reply.value(2), width);
    QCOMPARE(reply.value(3), height);
    QCOMPARE(reply.value(4), bits);

    const QVector<Segment> segments = rig.segments();
    QCOMPARE(segments.size(), count);
    QCOMPARE(rig.sink.datagrams.size(), count + 1);
    const int payload = int(packet) - 16;
    for (int i = 0; i < count; ++i) {
        const Segment &s = segments[i];
        const bool last = i == count - 1;
        QCOMPARE(s.size, int(packet));
        QCOMPARE(s.address, kClient);
        QCOMPARE(s.port, kDataPort);
        QCOMPARE(s.header.index, uint32_t(i));
        QCOMPARE(s.header.length, uint32_t(last ? lastLength : payload));
        QCOMPARE(s.header.last, last ? 1u : 0u);
        QCOMPARE(s.payload.left(int(s.header.length)), expected.mid(i * payload, payload));
        QCOMPARE(s.payload.mid(int(s.header.length)),
                 QByteArray(payload - int(s.header.length), 0));
    }
}

void TestTransferServer::imageSources_data()
{
    QTest::addColumn<uint>("source");
    QTest::addColumn<uint>("index");
    QTest::addColumn<QString>("call");
    QTest::addColumn<uint>("frame");
    QTest::addColumn<bool>("descriptor");
    QTest::newRow("live") << 0u << 9u << "live 5000" << 0u << true;
    QTest::newRow("memory") << 1u << 3u << "memory 3" << 3u << true;
    QTest::newRow("by index") << 2u << 4u << "index 0 0 4" << 4u << false;
}

void TestTransferServer::imageSources()
{
    QFETCH(uint, source);
    QFETCH(uint, index);
    QFETCH(QString, call);
    QFETCH(uint, frame);
    QFETCH(bool, descriptor);
    Rig rig;
    // Only the low 16 bits of the word name the data port.
    rig.feed(readRequest(5, source, index, 1500, 0xABCD0000u | kDataPort));
    QCOMPARE(imagefake::calls(), QStringList{call});
    if (descriptor) {
        const QByteArray d = imagefake::lastDescriptor();
        QCOMPARE(d.size(), 40);
        const auto *p = reinterpret_cast<const uint8_t *>(d.constData());
        QVERIFY(qFromLittleEndian<uint64_t>(p) != 0);
        QCOMPARE(readU32(p, 40, 8), 10000u);
        QCOMPARE(readU32(p, 40, 12), 1u);
        QCOMPARE(d.mid(16), QByteArray(24, 0));
    }
    QByteArray data;
    for (const Segment &s : rig.segments()) {
        QCOMPARE(s.port, kDataPort);
        data += s.payload.left(int(s.header.length));
    }
    QCOMPARE(data, pattern(100, 100, 8, frame));
}

void TestTransferServer::readFailures_data()
{
    QTest::addColumn<uint>("source");
    QTest::addColumn<uint>("readStatus");
    QTest::addColumn<uint>("width");  // of the current image; the buffers hold 128 x 96 x 6
    QTest::addColumn<bool>("driverCalled");
    QTest::newRow("source mode 3") << 3u << 0u << 100u << false;
    QTest::newRow("driver fails") << 2u << 6u << 100u << true;
    QTest::newRow("image larger than the buffer") << 2u << 0u << 800u << false;
}

void TestTransferServer::readFailures()
{
    QFETCH(uint, source);
    QFETCH(uint, readStatus);
    QFETCH(uint, width);
    QFETCH(bool, driverCalled);
    Rig rig;
    rig.feed(readRequest(6, 2, 1, 1500));
    rig.clear();

    imagefake::config().readStatus = readStatus;
    imagefake::config().width = width;
    imagefake::config().bitsPerPixel = 16;
    rig.feed(readRequest(7, source, 2, 700, 40999));
    const Ack ack = rig.onlyAck();
    QVERIFY(ack.valid);
    QCOMPARE(int(ack.result), int(RESULT_READ_FAILED));
    QCOMPARE(ack.id, uint16_t(7));
    QCOMPARE(rig.sink.datagrams.first().port, kClientPort);
    QCOMPARE(!imagefake::calls().isEmpty(), driverCalled);

    // The previous transfer stands: its packet size, port and data.
    rig.clear();
    rig.feed(resendRequest({6}, true));
    const QVector<Segment> segments = rig.segments();
    QCOMPARE(segments.size(), 1);
    QCOMPARE(segments[0].size, 1500);
    QCOMPARE(segments[0].port, kDataPort);
    QCOMPARE(segments[0].payload.left(1096), pattern(100, 100, 8, 1).mid(6 * 1484));
}

void TestTransferServer::refusedBeforeTheRead_data()
{
    QTest::addColumn<uint>("packet");
    QTest::addColumn<uint>("maxSide");
    QTest::addColumn<uint>("side");
    QTest::addColumn<bool>("refused");
    QTest::newRow("packet 0") << 0u << 128u << 100u << true;
    QTest::newRow("packet 16") << 16u << 128u << 100u << true;
    QTest::newRow("packet 31") << 31u << 128u << 100u << true;
    QTest::newRow("packet 65508") << 65508u << 128u << 100u << true;
    QTest::newRow("packet 2^32 - 1") << 0xFFFFFFFFu << 128u << 100u << true;
    // 1025 x 1025 bytes in 16-byte payloads: 65666 segments.
    QTest::newRow("65537 segments and more") << 32u << 1100u << 1025u << true;
    QTest::newRow("exactly 65536 segments") << 32u << 1100u << 1024u << false;
}

void TestTransferServer::refusedBeforeTheRead()
{
    QFETCH(uint, packet);
    QFETCH(uint, maxSide);
    QFETCH(uint, side);
    QFETCH(bool, refused);
    imagefake::config().maxWidth = maxSide;
    imagefake::config().maxHeight = maxSide;
    Rig rig;
    rig.feed(readRequest(8, 2, 1, 1500));
    rig.clear();

    imagefake::config().width = side;
    imagefake::config().height = side;
    rig.feed(readRequest(9, 2, 3, packet, 41000));
    if (!refused) {
        QCOMPARE(rig.segments().size(), 65536);
        QCOMPARE(rig.segments().last().header.last, 1u);
        return;
    }
    const Ack ack = rig.onlyAck();
    QVERIFY(ack.valid);
    QCOMPARE(int(ack.result), int(RESULT_REFUSED));
    QVERIFY(imagefake::calls().isEmpty());
    QVERIFY(rig.logged(QStringLiteral("Read image refused: ")));

    rig.clear();
    rig.feed(resendRequest({0}, true));
    const QVector<Segment> segments = rig.segments();
    QCOMPARE(segments.size(), 1);
    QCOMPARE(segments[0].size, 1500);
    QCOMPARE(segments[0].port, kDataPort);
    QCOMPARE(segments[0].payload, pattern(100, 100, 8, 1).left(1484));
}

void TestTransferServer::resendOfTwoSegments()
{
    Rig rig;
    rig.feed(readRequest(10, 2, 2, 1500));
    rig.clear();
    rig.feed(resendRequest({6, 2}, true));
    const QVector<Segment> segments = rig.segments();
    QCOMPARE(rig.sink.datagrams.size(), 2);  // and no answer of any kind
    QCOMPARE(segments.size(), 2);
    const QByteArray expected = pattern(100, 100, 8, 2);
    QCOMPARE(segments[0].size, 1500);
    QCOMPARE(segments[0].header.index, 6u);
    QCOMPARE(segments[0].header.length, 1096u);
    QCOMPARE(segments[0].header.last, 0u);
    QCOMPARE(segments[0].payload, expected.mid(6 * 1484) + QByteArray(1484 - 1096, 0));
    QCOMPARE(segments[1].size, 1500);
    QCOMPARE(segments[1].header.index, 2u);
    QCOMPARE(segments[1].header.length, 1484u);
    QCOMPARE(segments[1].header.last, 1u);
    QCOMPARE(segments[1].payload, expected.mid(2 * 1484, 1484));
    QCOMPARE(rig.recorder.statuses, (QVector<int>{StatusResending, StatusConnected}));
    QVERIFY(rig.recorder.lines.contains(QStringLiteral("Resending image data: 2 packets")));
}

void TestTransferServer::resendAcrossDatagrams_data()
{
    QTest::addColumn<uint>("packet");
    QTest::addColumn<int>("step");
    QTest::newRow("1500 bytes") << 1500u << 2;
    QTest::newRow("9000 bytes") << 9000u << 12;
}

void TestTransferServer::resendAcrossDatagrams()
{
    QFETCH(uint, packet);
    QFETCH(int, step);
    Rig rig(10);
    rig.feed(readRequest(11, 2, 0, packet));
    rig.clear();
    rig.feed(resendRequest({1}, false));
    rig.feed(resendRequest({0, 1}, false));
    QVERIFY(rig.sink.datagrams.isEmpty());
    QCOMPARE(TransferProbe::currentDelay(rig.monitor), 10 + 2 * step);
    rig.feed(resendRequest({0}, true));
    QCOMPARE(rig.segments().size(), 4);
    QCOMPARE(rig.sink.delays, QVector<int>(4, 10 + 3 * step));
    QCOMPARE(TransferProbe::currentDelay(rig.monitor), 10);
    QVERIFY(rig.recorder.lines.contains(QStringLiteral("Resending image data: 4 packets")));
    QCOMPARE(TransferProbe::resendCount(rig.monitor), 0u);
}

void TestTransferServer::unfinishedResendKeepsBackOff()
{
    Rig rig(10);
    rig.feed(readRequest(12, 2, 0, 1500));
    rig.feed(resendRequest({1, 2}, false));
    rig.clear();
    // The steps of a request that never completed stay for the next image;
    // its indices do not.
    rig.feed(readRequest(13, 2, 0, 1500));
    QCOMPARE(rig.segments().size(), 7);
    QCOMPARE(rig.sink.delays.mid(1), QVector<int>(7, 12));
    QCOMPARE(TransferProbe::resendCount(rig.monitor), 0u);
    rig.clear();
    rig.feed(resendRequest({5}, true));
    QCOMPARE(rig.segments().size(), 1);
    QCOMPARE(rig.segments()[0].header.index, 5u);
    QCOMPARE(TransferProbe::currentDelay(rig.monitor), 10);
}

void TestTransferServer::zeroDelaySendsBackToBack()
{
    Rig rig(0);
    rig.feed(readRequest(14, 2, 0, 1500));
    rig.feed(resendRequest({0, 1}, true));
    // 1500 / 724 = 2 during the resend, 0 again after it.
    QCOMPARE(rig.sink.delays, QVector<int>(8, 0) + QVector<int>(2, 2));
    QCOMPARE(TransferProbe::currentDelay(rig.monitor), 0);
}

void TestTransferServer::resendBounds_data()
{
    QTest::addColumn<uint>("side");    // square 8-bit image
    QTest::addColumn<uint>("packet");
    QTest::addColumn<QVector<QByteArray>>("requests");
    QTest::addColumn<int>("resent");
    QTest::addColumn<QVector<int>>("firstIndices");

    QTest::newRow("indices at or above the count dropped")
        << 100u << 1500u << QVector<QByteArray>{resendRequest({7, 3, 65535, 6}, true)} << 2
        << QVector<int>{3, 6};
    QTest::newRow("n beyond the received bytes")
        << 100u << 1500u << QVector<QByteArray>{resendClaiming(100, {1, 2}, true)} << 2
        << QVector<int>{1, 2};
    QTest::newRow("n of zero with indices behind it")
        << 100u << 1500u << QVector<QByteArray>{resendClaiming(0, {1, 2}, true)} << 0
        << QVector<int>{};
    // 5000 indices in a 10016-byte datagram: the receive buffer keeps 8192.
    QTest::newRow("more than a datagram carries")
        << 100u << 1500u << QVector<QByteArray>{resendRequest(cycling(5000, 7), true)} << 4088
        << QVector<int>{0, 1, 2, 3, 4, 5, 6, 0};
    QVector<QByteArray> many;
    for (int i = 0; i < 13; ++i)
        many << resendRequest(cycling(4088, 7), i == 12);
    QTest::newRow("more than the list holds") << 10u << 32u << many << 50000
                                              << QVector<int>{0, 1, 2};
}

void TestTransferServer::resendBounds()
{
    QFETCH(uint, side);
    QFETCH(uint, packet);
    QFETCH(QVector<QByteArray>, requests);
    QFETCH(int, resent);
    QFETCH(QVector<int>, firstIndices);
    imagefake::config().width = side;
    imagefake::config().height = side;
    Rig rig;
    rig.feed(readRequest(15, 2, 4, packet));
    const QByteArray expected = pattern(side, side, 8, 4);
    rig.clear();
    for (const QByteArray &request : requests)
        rig.feed(request);
    const QVector<Segment> segments = rig.segments();
    QCOMPARE(segments.size(), resent);
    QCOMPARE(rig.sink.datagrams.size(), resent);
    const int payload = int(packet) - 16;
    for (int i = 0; i < firstIndices.size(); ++i)
        QCOMPARE(segments[i].header.index, uint32_t(firstIndices[i]));
    for (const Segment &s : segments) {
        QVERIFY(s.header.index * uint32_t(payload) < uint32_t(expected.size()));
        QCOMPARE(s.payload.left(int(s.header.length)),
                 expected.mid(int(s.header.index) * payload, payload));
    }
    if (resent)
        QCOMPARE(segments.last().header.last, 1u);
    QVERIFY(rig.recorder.lines.contains(QStringLiteral("Resending image data: %1 packets").arg(resent)));
}

void TestTransferServer::resendIgnored_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("before any transfer") << "none";
    QTest::newRow("another port") << "port";
    QTest::newRow("another address") << "address";
    QTest::newRow("after the camera was closed") << "closed";
}

void TestTransferServer::resendIgnored()
{
    QFETCH(QString, situation);
    Rig rig(10);
    if (situation != QLatin1String("none"))
        rig.feed(readRequest(16, 2, 0, 1500));
    if (situation == QLatin1String("closed"))
        rig.feed(commandRequest(17, CMD_CLOSE));
    rig.clear();
    QHostAddress from = kClient;
    quint16 port = kClientPort;
    if (situation == QLatin1String("port"))
        port = kDataPort;  // the data port did not ask for the image
    if (situation == QLatin1String("address"))
        from = QHostAddress(QStringLiteral("127.0.0.8"));
    rig.feed(resendRequest({0, 1}, false), from, port);
    rig.feed(resendRequest({2}, true), from, port);
    QVERIFY(rig.sink.datagrams.isEmpty());
    QCOMPARE(TransferProbe::currentDelay(rig.monitor), 10);
    QVERIFY(rig.recorder.statuses.isEmpty());
    QVERIFY(rig.logged(QStringLiteral("Resend request from %1 port %2 ignored: ")
                           .arg(from.toString())
                           .arg(port)));
}

void TestTransferServer::jpegFormats_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<uint>("bits");
    QTest::addColumn<int>("sentFormat");
    QTest::addColumn<bool>("data");
    QTest::newRow("fast JPEG, 8 bits") << 1 << 8u << 1 << true;
    QTest::newRow("fast JPEG, 12 bits") << 1 << 12u << 1 << true;
    QTest::newRow("fast JPEG, RGB 48") << 1 << 48u << 1 << true;
    QTest::newRow("JPEG, 16 bits") << 2 << 16u << 2 << true;
    QTest::newRow("JPEG, RGB 24") << 2 << 24u << 2 << true;
    // 32 bits is stored as 6 bytes a pixel, a layout no encoder takes.
    QTest::newRow("fast JPEG refused: no parts") << 1 << 32u << 1 << false;
    QTest::newRow("JPEG refused: no data") << 2 << 32u << 2 << false;
    QTest::newRow("unknown format sends raw pixels") << 7 << 8u << 0 << true;
}

void TestTransferServer::jpegFormats()
{
    QFETCH(int, format);
    QFETCH(uint, bits);
    QFETCH(int, sentFormat);
    QFETCH(bool, data);
    imagefake::config().bitsPerPixel = bits;
    Rig rig(0, format);
    rig.feed(readRequest(18, 2, 1, 1500));
    const CommandReply reply = rig.reply();
    QVERIFY(reply.valid);
    QCOMPARE(reply.value(0), uint32_t(sentFormat));
    QCOMPARE(reply.value(2), 100u);
    QCOMPARE(reply.value(3), 100u);
    QCOMPARE(reply.value(4), bits);  // the device's depth, also when compressed
    const uint32_t sendSize = reply.value(1);
    QByteArray sent;
    for (const Segment &s : rig.segments())
        sent += s.payload.left(int(s.header.length));
    QCOMPARE(uint32_t(sent.size()), sendSize);
    QCOMPARE(sendSize != 0, data);
    if (sentFormat == 0) {
        QCOMPARE(reply.valueLength, 20u);
        QCOMPARE(sent, pattern(100, 100, bits, 1));
        return;
    }
    if (!data)
        QVERIFY(rig.logged(QStringLiteral("JPEG compression of 100 x 100 at 32 bits failed")));
    if (sentFormat == 2) {
        QCOMPARE(reply.valueLength, 20u);
        if (data)
            QVERIFY(sent.startsWith("\xFF\xD8") && sent.endsWith("\xFF\xD9"));
        return;
    }
    const uint32_t count = reply.value(5);
    QCOMPARE(reply.valueLength, 24 + 4 * count);
    QVERIFY(count <= kMaxJpegPartsInReply);
    QCOMPARE(count != 0, data);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const QByteArray part = sent.mid(int(offset), int(reply.value(6 + i)));
        QVERIFY2(part.startsWith("\xFF\xD8") && part.endsWith("\xFF\xD9"), qPrintable(QString::number(i)));
        offset += reply.value(6 + i);
    }
    QCOMPARE(offset, sendSize);
    QCOMPARE(reply.value(6 + count), 0u);
}

void TestTransferServer::replyCommands_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QVector<uint>>("words");  // [8], [12], [16], ...
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("call");
    QByteArray zero = commandRequest(21, CMD_ZERO_VALUE_QUERY, {5, 6, 7, 8});
    QTest::newRow("zero-value query") << zero << QVector<uint>{18, 4, 0, 0} << QString()
                                      << QString();
    QTest::newRow("stop grab") << commandRequest(21, CMD_MEMORY_STOP_GRAB)
                               << QVector<uint>{16, 4, 12, 0}
                               << "Received MemoryStopGrab = 12." << "stopgrab";
    QTest::newRow("trigger index") << commandRequest(21, CMD_GET_TRIGGER_INDEX)
                                   << QVector<uint>{17, 16, 40, 30, 7, 70, 0}
                                   << "Received Get Trigger Index: 7 (Time 70)." << "trigger";
}

void TestTransferServer::replyCommands()
{
    QFETCH(QByteArray, request);
    QFETCH(QVector<uint>, words);
    QFETCH(QString, log);
    QFETCH(QString, call);
    imagefake::config().stopGrabFrames = 12;
    imagefake::config().trigger[0] = 40;
    imagefake::config().trigger[1] = 30;
    imagefake::config().trigger[2] = 7;
    imagefake::config().trigger[3] = 70;
    Rig rig;
    rig.feed(request);
    QCOMPARE(rig.sink.datagrams.size(), 1);
    QCOMPARE(rig.sink.datagrams.first().port, kClientPort);
    const CommandReply reply = rig.reply();
    QVERIFY(reply.valid);
    QCOMPARE(reply.requestId, uint16_t(21));
    QCOMPARE(reply.subCommand, uint32_t(words[0]));
    QCOMPARE(reply.valueLength, uint32_t(words[1]));
    for (int i = 2; i < words.size(); ++i)
        QCOMPARE(reply.value(size_t(i - 2)), uint32_t(words[i]));
    if (!log.isEmpty())
        QVERIFY(rig.recorder.lines.contains(log));
    QCOMPARE(imagefake::calls(), call.isEmpty() ? QStringList() : QStringList{call});
}

void TestTransferServer::memoryGrabFlag()
{
    Rig rig;
    rig.feed(commandRequest(22, CMD_MEMORY_START_GRAB, {10, 4}));
    QCOMPARE(int(rig.onlyAck().result), 0);
    QCOMPARE(imagefake::calls(), QStringList{QStringLiteral("startgrab 10 4 3")});
    QVERIFY(rig.recorder.lines.contains(QStringLiteral("Received MemoryStartGrab(10,4).")));
    QVERIFY(TransferProbe::cameraGrabbing(rig.monitor));

    // The completion arrives on a driver thread of its own.
    const ArvexGrabFinishedCallback callback = imagefake::grabCallback();
    QVERIFY(callback);
    void *context = imagefake::grabContext();
    std::thread driverThread([callback, context] { callback(context); });
    driverThread.join();
    QVERIFY(!TransferProbe::cameraGrabbing(rig.monitor));

    // A grab the driver refuses never calls back, so no flag is left set.
    imagefake::config().startGrabStatus = 3;
    rig.clear();
    rig.feed(commandRequest(23, CMD_MEMORY_START_GRAB, {0, 0}));
    QCOMPARE(int(rig.onlyAck().result), 0);
    QVERIFY(!TransferProbe::cameraGrabbing(rig.monitor));
}

void TestTransferServer::calibrateRunsQueued()
{
    Rig rig;
    QSignalSpy calibrate(&rig.monitor, &QCameraMonitor::calibrate);
    rig.feed(commandRequest(24, CMD_CALIBRATE, {2}));
    QCOMPARE(int(rig.onlyAck().result), 0);
    QVERIFY(rig.recorder.lines.contains(QStringLiteral("Received Calibrate command: 2")));
    QCOMPARE(calibrate.size(), 1);
    QCOMPARE(calibrate.first().first().toInt(), 2);
    // Not on the handler's stack: the slot comes through the event loop.
    QVERIFY(imagefake::calls().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(imagefake::calls(), QStringList{QStringLiteral("calibrate 2")}, 2000);
}

QTEST_GUILESS_MAIN(TestTransferServer)
#include "tst_transfer_server.moc"
