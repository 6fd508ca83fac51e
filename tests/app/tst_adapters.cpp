// Adapter records and the dotted-quad and MAC text helpers.
#include "adapterrecord.h"
#include "adapters.h"

#include <QtTest>

#include <cstring>
#include <string>

class TestAdapters : public QObject
{
    Q_OBJECT

private slots:
    void dottedQuad_data();
    void dottedQuad();
    void dottedQuadReadsNothingPastItsInput();
    void ipToTextRoundTrip_data();
    void ipToTextRoundTrip();
    void macText_data();
    void macText();
    void record_data();
    void record();
    void realAdapters();
};

void TestAdapters::dottedQuad_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint32>("number");

    QTest::newRow("plain") << "192.168.3.10" << true << 0xC0A8030Au;
    QTest::newRow("zero") << "0.0.0.0" << true << 0u;
    QTest::newRow("all ones") << "255.255.255.255" << true << 0xFFFFFFFFu;
    QTest::newRow("three parts") << "1.2.3" << false << 0xFFFFFFFFu;
    QTest::newRow("five parts, fifth ignored") << "1.2.3.4.5" << true << 0x01020304u;
    QTest::newRow("part above 255") << "1.2.3.256" << false << 0xFFFFFFFFu;
    QTest::newRow("negative part") << "1.2.3.-1" << false << 0xFFFFFFFFu;
    QTest::newRow("bracket closes the last part") << "1.2.3.4]" << true << 0x01020304u;
    QTest::newRow("bracket inside: no part after it is closed") << "1.2.3]4" << false
                                                                << 0xFFFFFFFFu;
    QTest::newRow("empty part") << "1..2.3" << false << 0xFFFFFFFFu;
    QTest::newRow("trailing dot, empty fourth part") << "1.2.3." << false << 0xFFFFFFFFu;
    QTest::newRow("letters") << "a.b.c.d" << false << 0xFFFFFFFFu;
    QTest::newRow("empty text") << "" << false << 0xFFFFFFFFu;
    QTest::newRow("leading spaces as sscanf skips them") << " 10. 0. 0. 1" << true
                                                         << 0x0A000001u;
    QTest::newRow("digits then junk, as sscanf reads") << "10.0.0.1x" << true << 0x0A000001u;
    QTest::newRow("huge number, no overflow") << "1.2.3.99999999999999999999" << false
                                              << 0xFFFFFFFFu;
}

void TestAdapters::dottedQuad()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(quint32, number);

    uint8_t out[4] = {9, 9, 9, 9};
    const QByteArray latin1 = text.toLatin1();
    QCOMPARE(parseDottedQuad(latin1.constData(), out), ok);
    if (ok) {
        QCOMPARE(out[0], uint8_t(number >> 24));
        QCOMPARE(out[3], uint8_t(number & 0xFF));
    } else {
        // Failed parses leave the output zeroed, never half-written.
        QCOMPARE(out[0] | out[1] | out[2] | out[3], 0);
    }
    QCOMPARE(textToIp(text), number);
}

void TestAdapters::dottedQuadReadsNothingPastItsInput()
{
    // Far beyond the 256-byte working buffer the algorithm was written for.
    std::string longText = "10.20.30.40.";
    longText.append(5000, '7');
    uint8_t out[4];
    QVERIFY(parseDottedQuad(longText.c_str(), out));
    QCOMPARE(out[3], uint8_t(40));

    std::string noDots(5000, '1');
    QVERIFY(!parseDottedQuad(noDots.c_str(), out));
    QVERIFY(!parseDottedQuad(nullptr, out));
}

void TestAdapters::ipToTextRoundTrip_data()
{
    QTest::addColumn<quint32>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("private") << 0xC0A8030Au << "192.168.3.10";
    QTest::newRow("zero") << 0u << "0.0.0.0";
    QTest::newRow("loopback") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("broadcast") << 0xFFFFFFFFu << "255.255.255.255";
}

void TestAdapters::ipToTextRoundTrip()
{
    QFETCH(quint32, number);
    QFETCH(QString, text);
    QCOMPARE(ipToText(number), text);
    QCOMPARE(textToIp(ipToText(number)), number);
}

void TestAdapters::macText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("number");
    QTest::newRow("upper") << QByteArray("00:1B:21:3A:4F:5C") << qint64(0x001B213A4F5C);
    QTest::newRow("lower") << QByteArray("00:1b:21:3a:4f:5c") << qint64(0x001B213A4F5C);
    QTest::newRow("dashes") << QByteArray("00-1B-21-3A-4F-5C") << qint64(0x001B213A4F5C);
    QTest::newRow("all ones") << QByteArray("FF:FF:FF:FF:FF:FF") << qint64(0xFFFFFFFFFFFF);
    QTest::newRow("text after the six octets") << QByteArray("01:02:03:04:05:06:07")
                                               << qint64(0x010203040506);
    // Refused instead of read past the end or turned into arbitrary octets.
    QTest::newRow("too short") << QByteArray("00:1B:21") << qint64(-1);
    QTest::newRow("empty") << QByteArray("") << qint64(-1);
    QTest::newRow("not hex") << QByteArray("00:1G:21:3A:4F:5C") << qint64(-1);
}

void TestAdapters::macText()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, number);
    QCOMPARE(macTextToNumber(text.constData()), number);
    uint8_t out[6];
    QCOMPARE(parseMacText(text.constData(), out), number >= 0);
}

void TestAdapters::record_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<int>("mtu");
    QTest::addColumn<QString>("wantDescription");
    QTest::addColumn<QString>("wantMac");
    QTest::addColumn<quint32>("wantMtu");

    QTest::newRow("description cut before \" - \"")
        << "Ethernet Adapter - Packet Scheduler Miniport" << "00:1b:21:3a:4f:5c" << 9000
        << "Ethernet Adapter" << "00:1B:21:3A:4F:5C" << 9000u;
    QTest::newRow("a dash without spaces stays") << "eth-0" << "AA:BB:CC:DD:EE:FF" << 1500
                                                 << "eth-0" << "AA:BB:CC:DD:EE:FF" << 1500u;
    QTest::newRow("no hardware address, MTU unknown") << "tun0" << "" << 0 << "tun0"
                                                      << "00:00:00:00:00:00" << 1500u;
    QTest::newRow("long hardware address: first six bytes")
        << "ib0" << "80:00:00:48:FE:80:00:00:00:00" << -1 << "ib0" << "80:00:00:48:FE:80"
        << 1500u;
}

void TestAdapters::record()
{
    QFETCH(QString, description);
    QFETCH(QString, hardware);
    QFETCH(int, mtu);
    QFETCH(QString, wantDescription);
    QFETCH(QString, wantMac);
    QFETCH(quint32, wantMtu);

    AdapterInfo info;
    std::memset(&info, 0x5A, sizeof(info));
    fillAdapterInfo(&info, QStringLiteral("if0"), description, hardware, 0x0A000001, 0xFF000000,
                    mtu);
    QCOMPARE(QString::fromLatin1(info.name), QStringLiteral("if0"));
    QCOMPARE(QString::fromLatin1(info.description), wantDescription);
    QCOMPARE(QString::fromLatin1(info.macText), wantMac);
    QCOMPARE(info.ipAddress, 0x0A000001u);
    QCOMPARE(info.ipMask, 0xFF000000u);
    QCOMPARE(info.mtu, wantMtu);

    // A name longer than the field is cut and still terminated.
    fillAdapterInfo(&info, QString(400, QLatin1Char('n')), description, hardware, 0, 0, mtu);
    QCOMPARE(std::strlen(info.name), size_t(255));
}

void TestAdapters::realAdapters()
{
    AdapterInfo list[MaxAdapters];
    const int count = enumerateAdapters(list, MaxAdapters);
    QVERIFY(count >= 1);
    QCOMPARE(enumerateAdapters(list, 0), 0);

    AdapterInfo loopback;
    if (!findAdapterByAddress(0x7F000001, &loopback))
        QSKIP("no adapter with 127.0.0.1 on this machine");
    QCOMPARE(loopback.ipMask, 0xFF000000u);
    QVERIFY(loopback.mtu > 0);
    QCOMPARE(std::strlen(loopback.macText), size_t(17));
    QVERIFY(macTextToNumber(loopback.macText) >= 0);

    AdapterInfo byName;
    std::memset(&byName, 0, sizeof(byName));
    QCOMPARE(findAdapter(QString::fromLatin1(loopback.name), &byName), 1);
    QCOMPARE(byName.ipAddress, 0x7F000001u);

    // An unknown name leaves the record untouched.
    AdapterInfo untouched;
    std::memset(&untouched, 0x33, sizeof(untouched));
    QCOMPARE(findAdapter(QStringLiteral("no-such-adapter-name"), &untouched), 1);
    QCOMPARE(untouched.mtu, 0x33333333u);

    AdapterInfo none;
    QVERIFY(!findAdapterByAddress(0xCB007107, &none));  // 203.0.113.7, documentation range
}

QTEST_APPLESS_MAIN(TestAdapters)
#include "tst_adapters.moc"
