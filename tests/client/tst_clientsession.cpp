// The client library against a scripted responder: reply matching, time-outs,
// result codes, discovery records and segment routing; and the text forms of
// sub-commands and arguments.
#include "clientcli.h"
#include "clientsession.h"
#include "commandnames.h"
#include "fakeserver.h"

#include "protocol.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>

namespace {

// Ports of this test program: 27000 and up (see tests/client/CMakeLists.txt).
constexpr quint16 kPortSeed = 27000;

QByteArray ack(const QByteArray &request, uint8_t result)
{
    const auto *d = reinterpret_cast<const uint8_t *>(request.constData());
    const PacketHeader h = decodeHeader(d, size_t(request.size()));
    uint8_t out[kAckSize];
    buildAck(out, h.requestId, h.type, result);
    return QByteArray(reinterpret_cast<const char *>(out), int(kAckSize));
}

uint16_t idOf(const QByteArray &request)
{
    return readU16(reinterpret_cast<const uint8_t *>(request.constData()),
                   size_t(request.size()), 6);
}

QByteArray withId(QByteArray datagram, uint16_t id)
{
    writeU16(reinterpret_cast<uint8_t *>(datagram.data()), 6, id);
    return datagram;
}

SessionOptions loopbackOptions(quint16 base, int timeoutMs = 500)
{
    SessionOptions o;
    o.server = QHostAddress(QHostAddress::LocalHost);
    o.portBase = base;
    o.timeoutMs = timeoutMs;
    o.loopbackOnly = true;
    return o;
}

}  // namespace

class TestClientSession : public QObject
{
    Q_OBJECT

private slots:
    void subCommandText_data();
    void subCommandText();
    void wireNumbers_data();
    void wireNumbers();
    void loopbackPredicate_data();
    void loopbackPredicate();
    void loopbackOnlyRefusesBeforeAnySocket();
    void staleAndForeignRepliesAreSkipped();
    void timeOutNamesServerAndTime();
    void ackResults_data();
    void ackResults();
    void discoveryRecords();
    void commandReplyValues();
    void segmentsGoToTheHandler();
    void cliArguments_data();
    void cliArguments();
};

void TestClientSession::subCommandText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("number");  // -1: refused
    QTest::newRow("decimal") << "34" << qint64(34);
    QTest::newRow("hex") << "0x22" << qint64(34);
    QTest::newRow("name") << "get-status" << qint64(34);
    QTest::newRow("constant") << "CMD_GET_STATUS" << qint64(34);
    QTest::newRow("upper underscores") << "GET_STATUS" << qint64(34);
    QTest::newRow("leading zero is decimal") << "010" << qint64(10);
    QTest::newRow("unknown number still sent") << "99" << qint64(99);
    QTest::newRow("unknown name") << "get-everything" << qint64(-1);
    QTest::newRow("too large") << "4294967296" << qint64(-1);
}

void TestClientSession::subCommandText()
{
    QFETCH(QString, text);
    QFETCH(qint64, number);
    const auto sub = subCommandFromText(text);
    QCOMPARE(sub.has_value(), number >= 0);
    if (sub)
        QCOMPARE(qint64(*sub), number);
}

void TestClientSession::wireNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("number");  // -1: refused
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("largest") << "4294967295" << qint64(0xFFFFFFFF);
    QTest::newRow("minus one") << "-1" << qint64(0xFFFFFFFF);
    QTest::newRow("most negative") << "-2147483648" << qint64(0x80000000);
    QTest::newRow("below int32") << "-2147483649" << qint64(-1);
    QTest::newRow("hex") << "0xCAB74B51" << qint64(0xCAB74B51);
    QTest::newRow("hex too wide") << "0x100000000" << qint64(-1);
    QTest::newRow("hex negative") << "0x-1" << qint64(-1);
    QTest::newRow("junk") << "12abc" << qint64(-1);
    QTest::newRow("empty") << "" << qint64(-1);
}

void TestClientSession::wireNumbers()
{
    QFETCH(QString, text);
    QFETCH(qint64, number);
    const auto v = parseWireNumber(text);
    QCOMPARE(v.has_value(), number >= 0);
    if (v)
        QCOMPARE(qint64(*v), number);
}

void TestClientSession::loopbackPredicate_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("127.255.0.9") << "127.255.0.9" << true;
    QTest::newRow("128.0.0.1") << "128.0.0.1" << false;
    QTest::newRow("126.255.255.255") << "126.255.255.255" << false;
    QTest::newRow("10.10.10.20") << "10.10.10.20" << false;
    QTest::newRow("IPv6 loopback") << "::1" << false;
}

void TestClientSession::loopbackPredicate()
{
    QFETCH(QString, address);
    QFETCH(bool, loopback);
    QCOMPARE(isLoopbackAddress(QHostAddress(address)), loopback);
}

void TestClientSession::loopbackOnlyRefusesBeforeAnySocket()
{
    // The guard acts in start(), before a socket exists, so nothing can leave.
    SessionOptions o = loopbackOptions(kPortSeed);
    o.server = QHostAddress(QStringLiteral("192.0.2.1"));
    ClientSession session;
    QVERIFY(!session.start(o));
    QCOMPARE(session.lastError().kind, ClientErrorKind::NotAllowed);
    QCOMPARE(session.localPort(), quint16(0));
    QVERIFY(!session.nop(Channel::Camera));
}

void TestClientSession::staleAndForeignRepliesAreSkipped()
{
    // Every wrong answer carries result 5, so taking one fails the nop.
    FakeServer server;
    std::atomic<quint16> clientPort{0};
    QVERIFY(server.start(kPortSeed, [&](int channel, const QByteArray &request) {
        // The right id from the other server's port: not the reply of this request.
        server.sendFrom(1 - channel, ack(request, 5), clientPort);
        return QVector<QByteArray>{withId(ack(request, 5), uint16_t(idOf(request) - 1)),  // stale
                                   QByteArray("\x00\x00", 2),                                 // runt
                                   ack(request, 0)};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase())));
    clientPort = session.localPort();
    for (int i = 0; i < 3; ++i)
        QVERIFY2(session.nop(Channel::Camera), qPrintable(session.lastError().message));
    QCOMPARE(session.lastError().kind, ClientErrorKind::None);
    // The foreign-port copy may still be in flight after the last nop.
    QVERIFY(session.counters().strayDatagrams >= 8);
}

void TestClientSession::timeOutNamesServerAndTime()
{
    FakeServer server;
    QVERIFY(server.start(kPortSeed + 100, [](int, const QByteArray &) {
        return QVector<QByteArray>{};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase(), 150)));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!session.nop(Channel::RawFile, 3));
    QVERIFY(clock.elapsed() >= 150);
    QCOMPARE(session.lastError().kind, ClientErrorKind::TimedOut);
    QCOMPARE(session.lastError().message,
             QStringLiteral("no reply from 127.0.0.1 port %1 within 150 ms")
                 .arg(server.portBase() + 1));

    // The request went to base + 1 with the selector in byte 0.
    const QVector<QByteArray> got = server.received();
    QCOMPARE(got.size(), 1);
    QCOMPARE(uint8_t(got[0][0]), uint8_t(3));
    QCOMPARE(readU32(reinterpret_cast<const uint8_t *>(got[0].constData()), size_t(got[0].size()),
                     8),
             CMD_NOP);
}

void TestClientSession::ackResults_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("kind");
    QTest::newRow("done") << 0 << int(ClientErrorKind::None);
    QTest::newRow("refused") << 9 << int(ClientErrorKind::ErrorResult);
    QTest::newRow("read failed") << 7 << int(ClientErrorKind::ErrorResult);
}

void TestClientSession::ackResults()
{
    QFETCH(int, result);
    QFETCH(int, kind);
    FakeServer server;
    QVERIFY(server.start(kPortSeed + 200, [result](int, const QByteArray &request) {
        return QVector<QByteArray>{ack(request, uint8_t(result))};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase())));
    QCOMPARE(session.close(Channel::Camera), result == 0);
    QCOMPARE(int(session.lastError().kind), kind);
    if (result != 0) {
        QCOMPARE(int(session.lastError().result), result);
        QVERIFY(session.lastError().message.contains(QString::number(result)));
    }
}

void TestClientSession::discoveryRecords()
{
    uint8_t info[356] = {};
    writeU32(info, 8, 50);           // model code
    writeU32(info, 20, 1234567890);  // serial number
    std::strcpy(reinterpret_cast<char *>(info + 152), "Simulated camera 0");
    ServerIdentity identity;
    identity.macAddress = 0x001B213A4F5C;
    identity.address = 0x7F000001;
    identity.mask = 0xFF000000;
    identity.mtu = 1500;

    FakeServer server;
    QVERIFY(server.start(kPortSeed + 300, [&](int channel, const QByteArray &request) {
        const auto *d = reinterpret_cast<const uint8_t *>(request.constData());
        const PacketHeader h = decodeHeader(d, size_t(request.size()));
        uint8_t out[kDiscoveryReplySize];
        if (h.type == PKT_ENUMERATE && channel == 0)
            buildCameraEnumReply(out, h.requestId, info, identity);
        else if (h.type == PKT_ENUMERATE)
            buildRawEnumReply(out, h.requestId, nullptr, 2, identity);
        else if (readU32(d, size_t(request.size()), 8) < 2)
            buildRawInfoReply(out, h.requestId, info, identity);
        else
            return QVector<QByteArray>{ack(request, RESULT_NO_RAW_FILE)};
        return QVector<QByteArray>{QByteArray(reinterpret_cast<char *>(out), sizeof(out))};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase())));

    const auto camera = session.enumerateCameras();
    QVERIFY2(camera, qPrintable(session.lastError().message));
    QCOMPARE(camera->modelCode, 50u);
    QCOMPARE(camera->serialNumber, 1234567890u);
    QCOMPARE(QString::fromLatin1(camera->text), QStringLiteral("Simulated camera 0"));
    QCOMPARE(camera->identity.macAddress, qint64(0x001B213A4F5C));
    QCOMPARE(camera->identity.mtu, 1500);

    QCOMPARE(session.enumerateRawFiles(), std::optional<int32_t>(2));
    QVERIFY(session.rawInfo(1));
    QVERIFY(!session.rawInfo(2));
    QCOMPARE(session.lastError().kind, ClientErrorKind::ErrorResult);
    QCOMPARE(int(session.lastError().result), int(RESULT_NO_RAW_FILE));
}

void TestClientSession::commandReplyValues()
{
    FakeServer server;
    QVERIFY(server.start(kPortSeed + 400, [](int, const QByteArray &request) {
        const auto *d = reinterpret_cast<const uint8_t *>(request.constData());
        const size_t n = size_t(request.size());
        uint8_t out[kCommandReplySize];
        initCommandReply(out, readU16(d, n, 6), readU32(d, n, 8), 8);
        // Echo the two arguments, so the test sees what was sent where.
        writeU32(out, 16, readU32(d, n, 16));
        writeU32(out, 20, readU32(d, n, 20));
        return QVector<QByteArray>{QByteArray(reinterpret_cast<char *>(out), sizeof(out))};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase())));
    const auto reply = session.command(Channel::Camera, CMD_GET_PARAMETER, {14, 0xFFFFFFFF});
    QVERIFY2(reply, qPrintable(session.lastError().message));
    const CommandReply values = reply->command();
    QVERIFY(values.valid);
    QCOMPARE(values.subCommand, CMD_GET_PARAMETER);
    QCOMPARE(values.value(0), 14u);
    QCOMPARE(values.value(1), 0xFFFFFFFFu);

    // An ack is expected of close: a 176-byte reply is malformed there.
    QVERIFY(!session.close(Channel::Camera));
    QCOMPARE(session.lastError().kind, ClientErrorKind::BadReply);
}

void TestClientSession::segmentsGoToTheHandler()
{
    FakeServer server;
    QVERIFY(server.start(kPortSeed + 500, [](int, const QByteArray &request) {
        uint8_t segment[kSegmentHeaderSize + 4];
        SegmentHeader header;
        header.index = 6;
        header.length = 3;
        header.last = 1;
        encodeSegmentHeader(segment, header);
        std::memcpy(segment + kSegmentHeaderSize, "abcd", 4);
        return QVector<QByteArray>{QByteArray(reinterpret_cast<char *>(segment), sizeof(segment)),
                                   ack(request, 0)};
    }));
    ClientSession session;
    QVERIFY(session.start(loopbackOptions(server.portBase())));
    QVector<uint32_t> indices;
    QByteArray payload;
    session.setSegmentHandler([&](const SegmentHeader &h, const uint8_t *data, size_t size) {
        indices << h.index;
        payload = QByteArray(reinterpret_cast<const char *>(data), int(qMin<size_t>(h.length, size)));
    });
    QVERIFY(session.nop(Channel::Camera));
    QCOMPARE(indices, QVector<uint32_t>{6});
    QCOMPARE(payload, QByteArray("abc"));
    QCOMPARE(session.counters().segmentsReceived, uint64_t(1));
    QVERIFY(session.receiveBufferBytes() > 0);
}

void TestClientSession::cliArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");  // empty: accepted
    QTest::addColumn<QString>("command");

    QTest::newRow("discover") << QStringList{"discover", "127.0.0.1"} << "" << "discover";
    QTest::newRow("options first") << QStringList{"--port-base", "2000", "--timeout", "50", "nop",
                                                  "127.0.0.1"}
                                   << "" << "nop";
    QTest::newRow("raw-info") << QStringList{"raw-info", "127.0.0.1", "3"} << "" << "raw-info";
    QTest::newRow("open raw") << QStringList{"open", "127.0.0.1", "--raw", "2"} << "" << "open";
    QTest::newRow("generic with negative") << QStringList{"command", "127.0.0.1", "live", "-1"}
                                           << "" << "command";
    QTest::newRow("no command") << QStringList{} << "no command" << "";
    QTest::newRow("unknown command") << QStringList{"fly", "127.0.0.1"} << "fly" << "";
    QTest::newRow("no address") << QStringList{"nop"} << "address" << "";
    QTest::newRow("bad address") << QStringList{"nop", "127.1"} << "127.1" << "";
    QTest::newRow("raw-info without index") << QStringList{"raw-info", "127.0.0.1"} << "index"
                                            << "";
    QTest::newRow("raw-info negative") << QStringList{"raw-info", "127.0.0.1", "-1"} << "-1" << "";
    QTest::newRow("both raw and memory") << QStringList{"open", "127.0.0.1", "--raw", "1",
                                                        "--memory", "5"}
                                         << "one" << "";
    QTest::newRow("memory on close") << QStringList{"close", "127.0.0.1", "--memory", "5"}
                                     << "--memory" << "";
    QTest::newRow("raw on discover") << QStringList{"discover", "127.0.0.1", "--raw", "1"}
                                     << "--raw" << "";
    QTest::newRow("bad timeout") << QStringList{"--timeout", "0", "nop", "127.0.0.1"}
                                 << "--timeout" << "";
    QTest::newRow("bad port base") << QStringList{"--port-base", "65535", "nop", "127.0.0.1"}
                                   << "--port-base" << "";
    QTest::newRow("unknown sub-command") << QStringList{"command", "127.0.0.1", "warp"}
                                         << "sub-command" << "";
    QTest::newRow("bad argument") << QStringList{"command", "127.0.0.1", "3", "1.5"} << "1.5"
                                  << "";
    QTest::newRow("extra argument") << QStringList{"nop", "127.0.0.1", "7"} << "7" << "";
    QTest::newRow("unknown option") << QStringList{"--fast", "nop", "127.0.0.1"} << "--fast" << "";
}

void TestClientSession::cliArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(QString, command);
    ClientInvocation inv;
    QString message;
    const bool ok = parseClientArguments(QStringList{"arvex-client"} + args, &inv, &message);
    QCOMPARE(ok, error.isEmpty());
    if (ok)
        QCOMPARE(inv.command, command);
    else
        QVERIFY2(message.contains(error), qPrintable(message));
}

QTEST_GUILESS_MAIN(TestClientSession)
#include "tst_clientsession.moc"
