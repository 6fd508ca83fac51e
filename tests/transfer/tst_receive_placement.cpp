// Reading segments straight into their place in the reassembly: runs in
// order, out of order, with gaps, duplicates, a foreign datagram and
// datagrams of another size in between all end in the bytes that were sent,
// with every segment counted once; what did not land in its planned place is
// moved, never lost or mixed up.
#include "batchsender.h"
#include "datagramreceiver.h"
#include "segmentassembly.h"
#include "transfersegment.h"

#include <QtTest>
#include <QUdpSocket>

#include <poll.h>
#include <sys/socket.h>

#include <vector>

namespace {

constexpr int kReceiveBuffer = 16 * 1024 * 1024;

std::vector<uint8_t> sourceData(uint32_t size)
{
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = uint8_t(i * 7 + (i >> 9));
    return data;
}

// One step of what the sender puts on the wire.
struct Piece {
    enum Kind { Segments, Foreign, OtherSize } kind = Segments;
    QVector<uint32_t> indices;  // Segments: sent back to back in one run
};

struct Outcome {
    int added = 0;
    int duplicates = 0;
    int rejected = 0;
    int foreign = 0;
    uint64_t inPlace = 0;
    bool complete = false;
    QByteArray data;
};

Outcome run(uint32_t size, uint32_t packet, const QVector<Piece> &pieces)
{
    Outcome out;
    QUdpSocket receiving;
    QUdpSocket sending;
    if (!receiving.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0) ||
        !sending.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return out;
    const int fd = int(receiving.socketDescriptor());
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    DatagramReceiver receiver;
    receiver.attach(fd, true);
    SegmentAssembly assembly;
    if (!assembly.reset(size, packet))
        return out;
    receiver.setPlanner([&](uint32_t maxPlaces) {
        ReceivePlan plan;
        plan.packetSize = packet;
        plan.count = assembly.nextRun(maxPlaces, &plan.firstIndex);
        plan.first = plan.count ? assembly.placeOf(plan.firstIndex) : nullptr;
        return plan;
    });

    BatchSender sender;
    sender.attach(int(sending.socketDescriptor()));
    sender.setDestination(QHostAddress(QStringLiteral("127.0.0.1")), receiving.localPort());
    const std::vector<uint8_t> data = sourceData(size);
    const SegmentLayout layout = segmentLayout(size, packet);
    int expected = 0;
    for (const Piece &piece : pieces) {
        std::vector<uint8_t> datagrams;
        uint32_t count = 0;
        size_t datagramSize = packet;
        switch (piece.kind) {
        case Piece::Segments:
            datagrams.resize(size_t(piece.indices.size()) * packet);
            for (uint32_t index : piece.indices)
                buildSegmentDatagram(datagrams.data() + size_t(count++) * packet, data.data(),
                                     layout, index, index + 1 == layout.count);
            break;
        case Piece::Foreign:
            datagrams.assign(176, 0x11);  // a reply-sized datagram, no segment magic
            datagramSize = datagrams.size();
            count = 1;
            break;
        case Piece::OtherSize: {
            // Segment headers in datagrams of another size: rejected on length.
            datagramSize = packet / 2;
            count = 3;
            datagrams.assign(datagramSize * count, 0x22);
            for (uint32_t k = 0; k < count; ++k) {
                SegmentHeader header;
                header.index = k;
                header.length = uint32_t(datagramSize - kSegmentHeaderSize);
                encodeSegmentHeader(datagrams.data() + k * datagramSize, header);
            }
            break;
        }
        }
        if (sender.sendRun(datagrams.data(), datagramSize, count) != count)
            return out;
        expected += int(count);
    }

    int seen = 0;
    while (seen < expected) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 2000) <= 0)
            break;
        seen += receiver.drain([&](const ReceivedDatagram &d) {
            SegmentHeader header;
            if (!decodeSegmentHeader(d.data, d.payload ? kSegmentHeaderSize : d.size, &header)) {
                ++out.foreign;
                return;
            }
            const uint8_t *payload = d.payload ? d.payload : d.data + kSegmentHeaderSize;
            switch (assembly.add(header, payload, d.size - kSegmentHeaderSize)) {
            case SegmentAssembly::Outcome::Added:
                ++out.added;
                break;
            case SegmentAssembly::Outcome::Duplicate:
                ++out.duplicates;
                break;
            case SegmentAssembly::Outcome::Rejected:
                ++out.rejected;
                break;
            }
        });
    }
    out.inPlace = receiver.placedInPlace();
    out.complete = assembly.complete();
    out.data = assembly.data();
    return out;
}

QVector<uint32_t> range(uint32_t from, uint32_t to)
{
    QVector<uint32_t> out;
    for (uint32_t i = from; i < to; ++i)
        out << i;
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(QVector<Piece>)

class TestReceivePlacement : public QObject
{
    Q_OBJECT

private slots:
    void orders_data();
    void orders();
    void smallPacketsAreCopied();
};

void TestReceivePlacement::orders_data()
{
    QTest::addColumn<uint>("packet");
    QTest::addColumn<QVector<Piece>>("pieces");
    QTest::addColumn<int>("duplicates");
    QTest::addColumn<int>("rejected");
    QTest::addColumn<int>("foreign");
    QTest::addColumn<bool>("someInPlace");
    // 40 segments of 8972 bytes, the last one short.
    const auto segs = [](QVector<uint32_t> indices) {
        Piece p;
        p.indices = indices;
        return p;
    };
    Piece foreign;
    foreign.kind = Piece::Foreign;
    Piece otherSize;
    otherSize.kind = Piece::OtherSize;
    QTest::newRow("in order, runs of 7")
        << 8988u
        << QVector<Piece>{segs(range(0, 7)), segs(range(7, 14)), segs(range(14, 21)),
                          segs(range(21, 28)), segs(range(28, 35)), segs(range(35, 40))}
        << 0 << 0 << 0 << true;
    QTest::newRow("a gap filled later")
        << 8988u
        << QVector<Piece>{segs(range(0, 7)), segs(range(10, 17)), segs(range(7, 10)),
                          segs(range(17, 24)), segs(range(24, 40))}
        << 0 << 0 << 0 << true;
    QTest::newRow("reversed")
        << 8988u
        << QVector<Piece>{segs(range(33, 40)), segs(range(26, 33)), segs(range(19, 26)),
                          segs(range(12, 19)), segs(range(5, 12)), segs(range(0, 5))}
        << 0 << 0 << 0 << false;
    QTest::newRow("duplicates inside and across runs")
        << 8988u
        << QVector<Piece>{segs({0, 1, 2, 2, 3, 4, 5}), segs(range(3, 10)), segs(range(10, 40)),
                          segs({39, 0})}
        << 6 << 0 << 0 << true;
    QTest::newRow("foreign and other-size datagrams between runs")
        << 8988u
        << QVector<Piece>{segs(range(0, 7)), foreign, segs(range(7, 14)), otherSize,
                          segs(range(14, 40))}
        << 0 << 3 << 1 << true;
    // Each segment lands in the place of the one before it: putting it in
    // its own place straight away would overwrite one not yet looked at.
    QTest::newRow("a run shifted by one")
        << 8988u << QVector<Piece>{segs({1, 2, 3, 4, 5, 6, 0}), segs(range(7, 40))} << 0 << 0
        << 0 << true;
    QTest::newRow("interleaved halves")
        << 8988u
        << QVector<Piece>{segs({0, 2, 4, 6, 8, 10, 12}), segs({1, 3, 5, 7, 9, 11, 13}),
                          segs(range(14, 40))}
        << 0 << 0 << 0 << true;
    QTest::newRow("jumbo 32000: one per read")
        << 32000u << QVector<Piece>{segs(range(0, 6)), segs(range(8, 12)), segs(range(6, 8))}
        << 0 << 0 << 0 << true;
}

void TestReceivePlacement::orders()
{
    QFETCH(uint, packet);
    QFETCH(QVector<Piece>, pieces);
    QFETCH(int, duplicates);
    QFETCH(int, rejected);
    QFETCH(int, foreign);
    QFETCH(bool, someInPlace);
    const uint32_t size = packet == 8988 ? 39 * 8972 + 1000 : 11 * 31984 + 77;
    const Outcome out = run(size, packet, pieces);
    QVERIFY(out.complete);
    const std::vector<uint8_t> data = sourceData(size);
    QCOMPARE(out.data, QByteArray(reinterpret_cast<const char *>(data.data()), int(size)));
    QCOMPARE(out.added, int(segmentLayout(size, packet).count));
    QCOMPARE(out.duplicates, duplicates);
    QCOMPARE(out.rejected, rejected);
    QCOMPARE(out.foreign, foreign);
    if (someInPlace)
        QVERIFY(out.inPlace > 0);
}

void TestReceivePlacement::smallPacketsAreCopied()
{
    // Below the size where reading into place pays, nothing is planned.
    Piece all;
    all.indices = range(0, 80);
    const uint32_t size = 79 * 1472 + 5;
    const Outcome out = run(size, 1488, {all});
    QVERIFY(out.complete);
    QCOMPARE(out.inPlace, 0u);
    const std::vector<uint8_t> data = sourceData(size);
    QCOMPARE(out.data, QByteArray(reinterpret_cast<const char *>(data.data()), int(size)));
}

QTEST_GUILESS_MAIN(TestReceivePlacement)
#include "tst_receive_placement.moc"
