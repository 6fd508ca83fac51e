// Pure parts of the simulated camera: write-to-disk record, volume table,
// setting checks and query selectors.
#include "sim/simcamera.h"
#include "sim/simrawstore.h"
#include "sim/simw2drequest.h"
#include "simtestutil.h"

#include <QtEndian>
#include <QtTest>

#include <cstring>

using namespace sim;


class TestSimModel : public QObject
{
    Q_OBJECT

private slots:
    void w2dRequest_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("letters");  // empty: refused
        QTest::addColumn<QString>("folder");
        QTest::newRow("one volume") << w2dRecord(1, {"D:\\"}, "Rec/Take1") << "D" << "Rec/Take1";
        QTest::newRow("backslashes, lower-case root") << w2dRecord(2, {"d:\\", "E:/"}, "Rec\\Take1")
                                                      << "DE" << "Rec/Take1";
        QTest::newRow("dot and doubled slashes") << w2dRecord(1, {"D:"}, "./Rec//x") << "D" << "Rec/x";
        QTest::newRow("no volumes") << w2dRecord(0, {}, "x") << "" << "";
        QTest::newRow("five volumes") << w2dRecord(5, {"D:\\", "E:\\", "F:\\", "G:\\"}, "x") << "" << "";
        QTest::newRow("empty slot") << w2dRecord(2, {"D:\\"}, "x") << "" << "";
        QTest::newRow("slot not a root") << w2dRecord(1, {"/mnt/x"}, "x") << "" << "";
        QTest::newRow("dot-dot") << w2dRecord(1, {"D:\\"}, "Rec/../../etc/x") << "" << "";
        QTest::newRow("absolute") << w2dRecord(1, {"D:\\"}, "/tmp/x") << "" << "";
        QTest::newRow("drive letter") << w2dRecord(1, {"D:\\"}, "E:\\x") << "" << "";
        QTest::newRow("folder only") << w2dRecord(1, {"D:\\"}, "Rec/") << "" << "";
        QTest::newRow("empty folder") << w2dRecord(1, {"D:\\"}, "") << "" << "";
        QTest::newRow("no NUL") << w2dRecord(1, {"D:\\"}, QByteArray(512, 'a')) << "" << "";
    }

    void w2dRequest()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, letters);
        QFETCH(QString, folder);
        QString reason;
        const auto request = decodeW2dRequest(reinterpret_cast<const uint8_t *>(record.constData()), &reason);
        if (letters.isEmpty()) {
            QVERIFY(!request);
            QVERIFY(!reason.isEmpty());
            return;
        }
        QVERIFY2(request, qPrintable(reason));
        QString got;
        for (QChar c : request->letters)
            got += c;
        QCOMPARE(got, letters);
        QCOMPARE(request->folder, folder);
        QCOMPARE(request->passThrough, -5);
        QCOMPARE(request->options, 3);
    }

    void w2dTargets()
    {
        const QMap<QChar, QString> volumes = parseVolumeTable(
            QStringLiteral("D=/v/d\ne=/v/e\r\nbad line\nF=/v/d\n"));
        QCOMPARE(volumes.size(), 3);
        QCOMPARE(volumes.value('E'), QStringLiteral("/v/e"));
        W2dRequest request;
        request.folder = QStringLiteral("Rec/Take1");
        request.letters = {'D', 'E', 'D', 'F'};
        QString reason;
        const auto files = w2dTargetFiles(request, volumes, &reason);
        QVERIFY2(files, qPrintable(reason));
        // D twice and F (the same folder as D) write one file.
        QCOMPARE(*files, QStringList({"/v/d/Rec/Take1.00.raw", "/v/e/Rec/Take1.00.raw"}));
        request.letters = {'D', 'X'};
        QVERIFY(!w2dTargetFiles(request, volumes, &reason));
        QVERIFY(reason.contains('X'));
    }

    void settingValues_data()
    {
        QTest::addColumn<uint32_t>("id");
        QTest::addColumn<uint32_t>("value");
        QTest::addColumn<uint32_t>("status");
        for (uint32_t bits : {8u, 10u, 12u, 16u, 24u, 48u})
            QTest::addRow("%u bits", bits) << 3u << bits << uint32_t(Ok);
        for (uint32_t bits : {0u, 9u, 14u, 32u, 49u})
            QTest::addRow("%u bits refused", bits) << 3u << bits << uint32_t(OutOfRange);
        QTest::newRow("width 1") << 109u << 1u << uint32_t(Ok);
        QTest::newRow("width 1280") << 109u << 1280u << uint32_t(Ok);
        QTest::newRow("width 0") << 109u << 0u << uint32_t(OutOfRange);
        QTest::newRow("width 1281") << 109u << 1281u << uint32_t(OutOfRange);
        QTest::newRow("height 1025") << 110u << 1025u << uint32_t(OutOfRange);
        QTest::newRow("exposure 10001") << 111u << 10001u << uint32_t(OutOfRange);
        QTest::newRow("frame rate read-only") << 114u << 50u << uint32_t(NotSupported);
        QTest::newRow("frame rate unchanged") << 114u << 100u << uint32_t(Ok);
        QTest::newRow("unknown id") << 999u << 1u << uint32_t(BadArgument);
    }

    void settingValues()
    {
        QFETCH(uint32_t, id);
        QFETCH(uint32_t, value);
        QFETCH(uint32_t, status);
        const Limits limits = Limits::camera();
        const Settings before = limits.defaults();
        Settings after = before;
        QCOMPARE(uint32_t(applySetting(before, limits, id, value, &after)), status);
        if (status == Ok) {
            QVERIFY(settingsAllowed(after, limits, nullptr));
            uint8_t record[ARVEX_CAMERA_SETTINGS_SIZE];
            encodeSettings(after, record);
            QCOMPARE(qFromLittleEndian<uint32_t>(record + settingOffset(id)), value);
        }
    }

    void rawFileFormatIsFixed()
    {
        RawFileHeader header = makeRawFileHeader(320, 200, 14);
        const Limits limits = Limits::rawFile(header);
        const Settings defaults = limits.defaults();
        QCOMPARE(defaults.format, (Format{320, 200, 14}));
        Settings after;
        QCOMPARE(applySetting(defaults, limits, SettingWidth, 100, &after), NotSupported);
        QCOMPARE(applySetting(defaults, limits, SettingWidth, 320, &after), Ok);
        QCOMPARE(applySetting(defaults, limits, SettingExposureUs, 77, &after), Ok);
        uint32_t out = 0;
        QCOMPARE(querySetting(limits, SettingBitsPerPixel, QueryWritable, &out), Ok);
        QCOMPARE(out, 0u);
    }

    void querySelectors_data()
    {
        QTest::addColumn<uint32_t>("id");
        QTest::addColumn<uint32_t>("selector");
        QTest::addColumn<uint32_t>("value");  // 0xFFFFFFFF: refused
        QTest::newRow("depth min") << 3u << 0u << 8u;
        QTest::newRow("depth max") << 3u << 1u << 48u;
        QTest::newRow("depth default") << 3u << 2u << 8u;
        QTest::newRow("depth step") << 3u << 3u << 0u;
        QTest::newRow("depth count") << 3u << 5u << 6u;
        QTest::newRow("depth value 3") << 3u << 0x103u << 16u;
        QTest::newRow("depth value 6") << 3u << 0x106u << 0xFFFFFFFFu;
        QTest::newRow("width max") << 109u << 1u << 1280u;
        QTest::newRow("height default") << 110u << 2u << 1024u;
        QTest::newRow("width writable") << 109u << 4u << 1u;
        QTest::newRow("frame rate writable") << 114u << 4u << 0u;
        QTest::newRow("unknown selector") << 109u << 6u << 0xFFFFFFFFu;
        QTest::newRow("unknown id") << 4u << 0u << 0xFFFFFFFFu;
    }

    void querySelectors()
    {
        QFETCH(uint32_t, id);
        QFETCH(uint32_t, selector);
        QFETCH(uint32_t, value);
        uint32_t out = 0;
        const Status status = querySetting(Limits::camera(), id, selector, &out);
        if (value == 0xFFFFFFFFu) {
            QVERIFY(status != Ok);
        } else {
            QCOMPARE(status, Ok);
            QCOMPARE(out, value);
        }
    }
};

QTEST_GUILESS_MAIN(TestSimModel)
#include "tst_simmodel.moc"
