// The texts of the main window: model names, the camera table's value
// column from a DeviceInfo record, status line, adapter label, about text.
#include "camerainfotext.h"
#include "uitestkit.h"

#include <QtTest>

class TestCameraInfoText : public QObject
{
    Q_OBJECT

private slots:
    void modelNames_data();
    void modelNames();
    void pieces_data();
    void pieces();
    void tableFromRecord();
    void shortRecordReadsZeros();
    void statusTexts_data();
    void statusTexts();
    void adapterLabel();
    void aboutNamesThePlatform();
};

void TestCameraInfoText::modelNames_data()
{
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("name");
    const char *names[] = {"Vantrel Iris",  "Vantrel Juniper", "Vantrel Aster", "Vantrel Cedar",
                           "Vantrel Dune",  "Vantrel Fern",    "Vantrel Elm",   "Vantrel Birch",
                           "Vantrel Gale"};
    for (uint code = 46; code <= 54; ++code)
        QTest::addRow("%u", code) << code << QString::fromLatin1(names[code - 46]);
    QTest::newRow("55") << 55u << "Unknown camera";
    QTest::newRow("56") << 56u << "Unknown camera";
    QTest::newRow("57") << 57u << "Vantrel Heath";
    QTest::newRow("45") << 45u << "Unknown camera";
    QTest::newRow("0") << 0u << "Unknown camera";
    QTest::newRow("top bit") << 0x8000002Eu << "Unknown camera";
}

void TestCameraInfoText::modelNames()
{
    QFETCH(uint, code);
    QFETCH(QString, name);
    QCOMPARE(cameraModelName(code), name);
}

void TestCameraInfoText::pieces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("serial 1234567890") << serialText(1234567890u) << "12-3456-7890";
    QTest::newRow("serial 5") << serialText(5u) << "00-0000-0005";
    QTest::newRow("serial max") << serialText(0xFFFFFFFFu) << "42-9496-7295";
    QTest::newRow("serial 10000") << serialText(10000u) << "00-0001-0000";
    QTest::newRow("version lower-case hex") << versionText(0x01020A1Fu) << "0102-0a-1f";
    QTest::newRow("version zero") << versionText(0u) << "0000-00-00";
    QTest::newRow("version max") << versionText(0xFFFFFFFFu) << "ffff-ff-ff";
    QTest::newRow("arvex 7") << arvexVersionText(7u, 0x00030102u) << "4 (0003-01-02)";
    QTest::newRow("arvex 2 wraps") << arvexVersionText(2u, 0x00030102u)
                                   << "4294967295 (0003-01-02)";
    QTest::newRow("arvex 3") << arvexVersionText(3u, 0u) << "0 (0000-00-00)";
}

void TestCameraInfoText::pieces()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TestCameraInfoText::tableFromRecord()
{
    const QByteArray record = uitest::cameraRecord(52, 1234567890u, 0x01020A1F, 7, 0x00030102);
    QCOMPARE(cameraTableValues(record),
             QStringList({"Vantrel Elm", "0102-0a-1f", "0003-01-02", "12-3456-7890",
                          "4 (0003-01-02)"}));
    QCOMPARE(cameraTableLabels(),
             QStringList({"Camera Model", "Microblaze Version", "Firmware Version",
                          "Serial Number", "Arvex Version"}));
}

void TestCameraInfoText::shortRecordReadsZeros()
{
    // Model and serial present, everything from offset 24 on missing.
    const QByteArray record = uitest::cameraRecord(46, 5, 0x11111111, 9, 0x22222222).left(24);
    QCOMPARE(cameraTableValues(record),
             QStringList({"Vantrel Iris", "0000-00-00", "0000-00-00", "00-0000-0005",
                          "4294967293 (0000-00-00)"}));
    QCOMPARE(cameraTableValues(QByteArray()).first(), QStringLiteral("Unknown camera"));
}

void TestCameraInfoText::statusTexts_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Disabled";
    QTest::newRow("1") << 1 << "Enabled";
    QTest::newRow("2") << 2 << "Waiting for remote enumeration...";
    QTest::newRow("3") << 3 << "Waiting for remote connection...";
    QTest::newRow("4") << 4 << "Connected, listening!!!";
    QTest::newRow("5") << 5 << "Sending missing segments!";
    QTest::newRow("6") << 6 << "Disabled";
    QTest::newRow("-1") << -1 << "Disabled";
}

void TestCameraInfoText::statusTexts()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    QCOMPARE(statusText(status), text);
}

void TestCameraInfoText::adapterLabel()
{
    QCOMPARE(adapterLabelText(QStringLiteral("Intel Ethernet"), 0xC0A8030A),
             QStringLiteral("<p  align=center><font color=#FFAA34><b>Intel Ethernet</b></font>"
                            "<br/><font color=white><b>[192.168.3.10]</b></font></p>"));
    // A description is the platform's text, not markup.
    QVERIFY(adapterLabelText(QStringLiteral("a<b>c"), 0).contains(QStringLiteral("a&lt;b&gt;c")));
}

void TestCameraInfoText::aboutNamesThePlatform()
{
    const QString text = aboutText();
    QVERIFY(text.startsWith(QStringLiteral("<p><b>Arvex Remote Control</b><br/>for ")));
    QVERIFY(text.endsWith(QStringLiteral("</p>")));
#ifdef Q_OS_LINUX
    QVERIFY2(text.contains(QStringLiteral("for Linux<br/>")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("Windows")));
#endif
    QVERIFY(text.contains(QStringLiteral("Version 1.00.06")));
}

ARVEX_UI_TEST_MAIN(TestCameraInfoText)
#include "tst_camerainfotext.moc"
