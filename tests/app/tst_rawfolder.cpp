// Driver options 6 and 7 and the reaction to a new download folder.
#include "rawfolder.h"

#include <QtTest>

namespace {

// What the fake driver's setDriverOption saw last.
struct SeenOption {
    uint32_t option = 0;
    QByteArray text;
    int calls = 0;
    uint32_t answer = 0;
};
SeenOption seen;

uint32_t recordOption(void *, uint32_t option, uintptr_t value, uint32_t)
{
    seen.option = option;
    seen.text = QByteArray(reinterpret_cast<const char *>(value));
    ++seen.calls;
    return seen.answer;
}

DriverTable fakeDriver()
{
    DriverTable table;
    table.setDriverOption = recordOption;
    return table;
}

}  // namespace

class TestRawFolder : public QObject
{
    Q_OBJECT

private slots:
    void init() { seen = SeenOption(); }
    void volumesText();
    void rawFolderChange_data();
    void rawFolderChange();
    void volumesOption();
};

void TestRawFolder::volumesText()
{
    const RecordingVolumes volumes = {{QChar('D'), QStringLiteral("/data/rec")},
                                      {QChar('E'), QStringLiteral("/mnt/ssd")}};
    QCOMPARE(volumesOptionText(volumes), QByteArray("D=/data/rec\nE=/mnt/ssd\n"));
    QCOMPARE(volumesOptionText({}), QByteArray());
}

void TestRawFolder::rawFolderChange_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<uint32_t>("driverAnswer");
    QTest::addColumn<bool>("applied");

    QTest::newRow("plain folder") << QStringLiteral("/data/rec/Take1") << 0u << true;
    QTest::newRow("Latin-1 letters") << QStringLiteral("/data/Aufnahme-\u00e4") << 0u << true;
    // Latin-1 cannot spell it: handing it over would name another folder.
    QTest::newRow("beyond Latin-1") << QStringLiteral("/data/\u65e5\u672c") << 0u << false;
    QTest::newRow("driver refuses") << QStringLiteral("/data/rec") << 3u << false;
}

void TestRawFolder::rawFolderChange()
{
    QFETCH(QString, folder);
    QFETCH(uint32_t, driverAnswer);
    QFETCH(bool, applied);

    seen.answer = driverAnswer;
    const DriverTable driver = fakeDriver();
    QString download = QStringLiteral("/old");
    QString error;
    QCOMPARE(applyRawFolderChange(folder, &download, &error, driver), applied);
    if (applied) {
        QCOMPARE(download, folder);
        QCOMPARE(seen.option, uint32_t(ARVEX_OPTION_RAW_FOLDER));
        QCOMPARE(QString::fromLatin1(seen.text), folder);
    } else {
        QCOMPARE(download, QStringLiteral("/old"));
        QVERIFY(!error.isEmpty());
    }
}

void TestRawFolder::volumesOption()
{
    const DriverTable driver = fakeDriver();
    QVERIFY(setDriverVolumes({{QChar('D'), QStringLiteral("/x")}}, nullptr, driver));
    QCOMPARE(seen.option, uint32_t(ARVEX_OPTION_VOLUMES));
    QCOMPARE(seen.text, QByteArray("D=/x\n"));

    // A newline in a folder would split it into two lines of the option.
    QString error;
    QVERIFY(!setDriverVolumes({{QChar('D'), QStringLiteral("/x\nE=/etc")}}, &error, driver));
    QCOMPARE(seen.calls, 1);

    DriverTable empty;
    QVERIFY(!setDriverRawFolder(QStringLiteral("/x"), &error, empty));
}

QTEST_APPLESS_MAIN(TestRawFolder)
#include "tst_rawfolder.moc"
