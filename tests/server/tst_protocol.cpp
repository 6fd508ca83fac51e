// The wire codecs: header, ack, requests, command replies, the three
// discovery records byte by byte, segment headers and segment arithmetic.
#include "deviceinfo.h"
#include "protocol.h"

#include <QMap>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

// A DeviceInfo whose every u32 names its own offset: 0xD0000000 | offset.
std::vector<uint8_t> markedDeviceInfo(const QByteArray &text)
{
    std::vector<uint8_t> info(kDeviceInfoSize, 0);
    for (int offset = 0; offset + 4 <= kDeviceInfoSize; offset += 4)
        setDeviceInfoU32(info.data(), offset, 0xD0000000u | uint32_t(offset));
    std::memset(info.data() + DeviceInfoOffset::Text, 0, DeviceInfoOffset::TextSize);
    std::memcpy(info.data() + DeviceInfoOffset::Text, text.constData(),
                size_t(qMin(text.size(), int(DeviceInfoOffset::TextSize))));
    return info;
}

constexpr uint32_t marked(int deviceInfoOffset) { return 0xD0000000u | uint32_t(deviceInfoOffset); }

ServerIdentity testIdentity()
{
    ServerIdentity id;
    id.macAddress = 0x001122334455LL;
    id.address = 0x7F000001;
    id.mask = 0xFF000000;
    id.mtu = 9000;
    return id;
}

enum Record { CameraEnum, RawInfo, RawEnum };

// Build one record from a marked DeviceInfo; returns its size.
size_t buildRecord(Record kind, uint8_t *out, const std::vector<uint8_t> &info)
{
    switch (kind) {
    case CameraEnum:
        return buildCameraEnumReply(out, 0x4321, info.data(), testIdentity());
    case RawInfo:
        return buildRawInfoReply(out, 0x4321, info.data(), testIdentity());
    case RawEnum:
        return buildRawEnumReply(out, 0x4321, info.data(), 77, testIdentity());
    }
    return 0;
}

// Every u32 of the record from offset 8 on, except the text at 76..203;
// the words not listed must be 0.
QMap<int, uint32_t> expectedWords(Record kind)
{
    QMap<int, uint32_t> w;
    w[8] = marked(8);
    w[12] = marked(12);
    w[16] = marked(20);
    w[36] = 0x0011;        // MAC high part, first octet high
    w[40] = 0x22334455;    // MAC low part
    w[44] = 0x7F000001;
    w[48] = 0xFF000000;
    w[72] = 9000;
    if (kind == RawEnum) {
        w[204] = 77;
        return w;
    }
    w[20] = marked(32);
    w[24] = marked(280);
    w[32] = kind == CameraEnum ? marked(24) : marked(28);
    w[56] = marked(52);
    w[60] = marked(60);
    w[64] = marked(76);
    w[68] = marked(68);
    if (kind == RawInfo) {
        w[208] = marked(104);
        w[212] = marked(100);
    }
    return w;
}

}  // namespace

Q_DECLARE_METATYPE(Record)

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void shortDatagramsReadAsZero_data();
    void shortDatagramsReadAsZero();
    void ackLayout();
    void requestBuilders();
    void commandReplyRoundTrip();
    void discoveryWords_data();
    void discoveryWords();
    void discoveryText_data();
    void discoveryText();
    void rawEnumWithoutCamera();
    void unknownMacIsAllOnes();
    void decodeShortDiscoveryReply();
    void segmentLayout_data();
    void segmentLayout();
    void segmentHeaderCodec();
};

void TestProtocol::shortDatagramsReadAsZero_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("id");
    QTest::addColumn<quint32>("subCommand");
    QTest::newRow("empty") << QByteArray() << 0 << 0 << 0u;
    QTest::newRow("4-byte enumerate") << QByteArray("\0\0\0\1", 4) << 1 << 0 << 0u;
    QTest::newRow("7 bytes: id cut in half")
        << QByteArray("\0\0\0\xE0\x08\0\x34", 7) << 224 << 0x34 << 0u;
    QTest::newRow("8-byte command")
        << QByteArray("\0\0\0\xE0\x08\0\x34\x12", 8) << 224 << 0x1234 << 0u;
    QTest::newRow("10 bytes: sub-command cut")
        << QByteArray("\0\0\0\xE0\x08\0\x34\x12\x01\x02", 10) << 224 << 0x1234 << 0x0201u;
    QTest::newRow("sub-command -1")
        << QByteArray("\0\0\0\xE0\x08\0\0\0\xFF\xFF\xFF\xFF", 12) << 224 << 0 << 0xFFFFFFFFu;
}

void TestProtocol::shortDatagramsReadAsZero()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, type);
    QFETCH(int, id);
    QFETCH(quint32, subCommand);
    // A heap copy of exactly the datagram's size, so that ASan sees overreads.
    std::vector<uint8_t> bytes(datagram.begin(), datagram.end());
    const uint8_t *data = bytes.empty() ? nullptr : bytes.data();
    const PacketHeader h = decodeHeader(data, bytes.size());
    QCOMPARE(int(h.type), type);
    QCOMPARE(int(h.requestId), id);
    QCOMPARE(readU32(data, bytes.size(), 8), subCommand);
    QCOMPARE(readU32(data, bytes.size(), 16), 0u);
}

void TestProtocol::ackLayout()
{
    uint8_t ack[kAckSize];
    std::memset(ack, 0xEE, sizeof ack);
    QCOMPARE(buildAck(ack, 0xA1B2, PKT_RAW_INFO, RESULT_NO_RAW_FILE), kAckSize);
    const uint8_t expected[] = {4, 0, 0, 225, 8, 0, 0xB2, 0xA1};
    QCOMPARE(QByteArray(reinterpret_cast<char *>(ack), 8),
             QByteArray(reinterpret_cast<const char *>(expected), 8));
}

void TestProtocol::requestBuilders()
{
    uint8_t out[64];
    std::memset(out, 0xEE, sizeof out);
    const uint32_t args[] = {256, 0xFFFFFFFFu};
    QCOMPARE(buildCommandRequest(out, 7, CMD_OPEN, args, 2, 5), size_t(24));
    const uint8_t expected[] = {5, 0, 0, 224, 24, 0, 7, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                                0, 1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 24),
             QByteArray(reinterpret_cast<const char *>(expected), 24));

    QCOMPARE(buildRawInfoRequest(out, 9, -1), size_t(12));
    QCOMPARE(int32_t(readU32(out, 12, 8)), -1);
    QCOMPARE(int(out[3]), int(PKT_RAW_INFO));

    const uint16_t indices[] = {6, 2};
    QCOMPARE(buildResendRequest(out, 3, indices, 2, true), size_t(20));
    QCOMPARE(int(out[3]), int(PKT_RESEND));
    QCOMPARE(readU32(out, 20, 8), 2u);
    QCOMPARE(readU32(out, 20, 12), 1u);
    QCOMPARE(readU16(out, 20, 16), uint16_t(6));
    QCOMPARE(readU16(out, 20, 18), uint16_t(2));
}

void TestProtocol::commandReplyRoundTrip()
{
    uint8_t reply[kCommandReplySize];
    std::memset(reply, 0xEE, sizeof reply);
    initCommandReply(reply, 0x0102, CMD_GET_STATUS, 24);
    writeU32(reply, 16, 11);
    writeU32(reply, 36, 66);
    const CommandReply r = decodeCommandReply(reply, sizeof reply);
    QVERIFY(r.valid);
    QCOMPARE(int(r.result), 0);
    QCOMPARE(int(r.requestId), 0x0102);
    QCOMPARE(r.subCommand, CMD_GET_STATUS);
    QCOMPARE(r.valueLength, 24u);
    QCOMPARE(r.value(0), 11u);
    QCOMPARE(r.value(5), 66u);
    QCOMPARE(r.value(6), 0u);  // cleared, not the 0xEE that was there
    QCOMPARE(readU16(reply, sizeof reply, 4), uint16_t(176));
    QVERIFY(!decodeCommandReply(reply, 175).valid);
}

void TestProtocol::discoveryWords_data()
{
    QTest::addColumn<Record>("kind");
    QTest::addColumn<int>("type");
    QTest::newRow("CameraEnumReply") << CameraEnum << int(PKT_ENUMERATE);
    QTest::newRow("RawInfoReply") << RawInfo << int(PKT_RAW_INFO);
    QTest::newRow("RawEnumReply") << RawEnum << int(PKT_ENUMERATE);
}

void TestProtocol::discoveryWords()
{
    QFETCH(Record, kind);
    QFETCH(int, type);
    const std::vector<uint8_t> info = markedDeviceInfo(QByteArray());
    uint8_t reply[kDiscoveryReplySize + 8];
    std::memset(reply, 0xEE, sizeof reply);
    QCOMPARE(buildRecord(kind, reply, info), kDiscoveryReplySize);

    const uint8_t header[] = {0, 0, 0, uint8_t(type), 216, 0, 0x21, 0x43};
    QCOMPARE(QByteArray(reinterpret_cast<char *>(reply), 8),
             QByteArray(reinterpret_cast<const char *>(header), 8));
    const QMap<int, uint32_t> expected = expectedWords(kind);
    for (int offset = 8; offset < int(kDiscoveryReplySize); offset += 4) {
        if (offset >= 76 && offset < 204 && kind != RawEnum)
            continue;  // the text, checked on its own
        QVERIFY2(readU32(reply, kDiscoveryReplySize, size_t(offset)) == expected.value(offset, 0),
                 qPrintable(QStringLiteral("offset %1").arg(offset)));
    }
    // Nothing written past the record.
    QCOMPARE(int(reply[kDiscoveryReplySize]), 0xEE);
}

void TestProtocol::discoveryText_data()
{
    QTest::addColumn<Record>("kind");
    QTest::addColumn<int>("textLength");
    QTest::addColumn<int>("expectedLength");
    for (Record kind : {CameraEnum, RawInfo}) {
        const char *name = kind == CameraEnum ? "camera" : "raw info";
        QTest::addRow("%s: empty", name) << kind << 0 << 0;
        QTest::addRow("%s: 5 characters", name) << kind << 5 << 5;
        QTest::addRow("%s: 127 characters fill 76..203", name) << kind << 127 << 127;
        // 128 characters with no NUL in the driver's field: cut to 127 + NUL.
        QTest::addRow("%s: unterminated", name) << kind << 128 << 127;
    }
}

void TestProtocol::discoveryText()
{
    QFETCH(Record, kind);
    QFETCH(int, textLength);
    QFETCH(int, expectedLength);
    QByteArray text(textLength, 'x');
    for (int i = 0; i < textLength; ++i)
        text[i] = char('A' + i % 26);
    const std::vector<uint8_t> info = markedDeviceInfo(text);
    uint8_t reply[kDiscoveryReplySize];
    std::memset(reply, 0xEE, sizeof reply);
    buildRecord(kind, reply, info);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(reply) + 76, expectedLength),
             text.left(expectedLength));
    // The NUL, then zeros up to 203.
    for (int i = 76 + expectedLength; i < 204; ++i)
        QVERIFY2(reply[i] == 0, qPrintable(QStringLiteral("byte %1").arg(i)));
    QCOMPARE(readU32(reply, sizeof reply, 204), 0u);

    const DiscoveryReply decoded = decodeDiscoveryReply(reply, sizeof reply);
    QVERIFY(decoded.valid);
    QCOMPARE(QByteArray(decoded.text), text.left(expectedLength));
}

void TestProtocol::rawEnumWithoutCamera()
{
    uint8_t reply[kDiscoveryReplySize];
    std::memset(reply, 0xEE, sizeof reply);
    buildRawEnumReply(reply, 1, nullptr, 2, testIdentity());
    QCOMPARE(readU32(reply, sizeof reply, 8), 48u);
    QCOMPARE(readU32(reply, sizeof reply, 12), 1u);
    QCOMPARE(readU32(reply, sizeof reply, 16), 3401010001u);
    QCOMPARE(readU32(reply, sizeof reply, 204), 2u);
    const DiscoveryReply decoded = decodeDiscoveryReply(reply, sizeof reply);
    QCOMPARE(decoded.modelCode, 48u);
    QCOMPARE(decoded.serialNumber, 3401010001u);
    QCOMPARE(decoded.rawCount, 2);
    QCOMPARE(decoded.identity.macAddress, qint64(0x001122334455LL));
    QCOMPARE(decoded.identity.mtu, 9000);
}

void TestProtocol::unknownMacIsAllOnes()
{
    ServerIdentity identity = testIdentity();
    identity.macAddress = -1;
    uint8_t reply[kDiscoveryReplySize];
    buildRawEnumReply(reply, 1, nullptr, 1, identity);
    QCOMPARE(readU32(reply, sizeof reply, 36), 0xFFFFFFFFu);
    QCOMPARE(readU32(reply, sizeof reply, 40), 0xFFFFFFFFu);
    QCOMPARE(decodeDiscoveryReply(reply, sizeof reply).identity.macAddress, qint64(-1));
}

void TestProtocol::decodeShortDiscoveryReply()
{
    uint8_t reply[kDiscoveryReplySize];
    buildRawEnumReply(reply, 1, nullptr, 5, testIdentity());
    // Exactly 80 bytes on the heap: the decoder must stop at the length.
    std::vector<uint8_t> cut(reply, reply + 80);
    const DiscoveryReply decoded = decodeDiscoveryReply(cut.data(), cut.size());
    QVERIFY(!decoded.valid);
    QCOMPARE(decoded.modelCode, 48u);
    QCOMPARE(decoded.identity.mtu, 9000);
    QCOMPARE(decoded.rawCount, 0);
    QCOMPARE(decoded.text[0], '\0');
}

void TestProtocol::segmentLayout_data()
{
    QTest::addColumn<quint32>("sendSize");
    QTest::addColumn<quint32>("packetSize");
    QTest::addColumn<quint32>("payload");
    QTest::addColumn<quint32>("count");
    QTest::addColumn<quint32>("lastLength");
    QTest::newRow("10000 at 1500") << 10000u << 1500u << 1484u << 7u << 1096u;
    QTest::newRow("exact multiple") << 2968u << 1500u << 1484u << 2u << 1484u;
    QTest::newRow("one byte") << 1u << 1500u << 1484u << 1u << 1u;
    QTest::newRow("nothing to send") << 0u << 1500u << 1484u << 0u << 0u;
    QTest::newRow("smallest packet") << 33u << 32u << 16u << 3u << 1u;
    QTest::newRow("largest packet") << 65491u << 65507u << 65491u << 1u << 65491u;
    QTest::newRow("48-bit 1280x1024 at 9000") << 7864320u << 9000u << 8984u << 876u << 3320u;
    QTest::newRow("packet too small") << 10000u << 31u << 0u << 0u << 0u;
    QTest::newRow("packet too large") << 10000u << 65508u << 0u << 0u << 0u;
    QTest::newRow("no overflow near 4 GiB") << 0xFFFFFFFFu << 32u << 16u << 0x10000000u << 15u;
}

void TestProtocol::segmentLayout()
{
    QFETCH(quint32, sendSize);
    QFETCH(quint32, packetSize);
    QFETCH(quint32, payload);
    QFETCH(quint32, count);
    QFETCH(quint32, lastLength);
    const SegmentLayout s = ::segmentLayout(sendSize, packetSize);
    QCOMPARE(s.payload, payload);
    QCOMPARE(s.count, count);
    QCOMPARE(s.lastLength, lastLength);
    QCOMPARE(packetSizeAllowed(packetSize), payload != 0);
}

void TestProtocol::segmentHeaderCodec()
{
    uint8_t out[kSegmentHeaderSize];
    encodeSegmentHeader(out, SegmentHeader{kSegmentMagic, 6, 1096, 1});
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 4), QByteArray("KvRn"));
    SegmentHeader decoded;
    QVERIFY(decodeSegmentHeader(out, sizeof out, &decoded));
    QCOMPARE(decoded.index, 6u);
    QCOMPARE(decoded.length, 1096u);
    QCOMPARE(decoded.last, 1u);
    QVERIFY(!decodeSegmentHeader(out, 15, &decoded));
    out[0] = 'X';
    QVERIFY(!decodeSegmentHeader(out, sizeof out, &decoded));
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
