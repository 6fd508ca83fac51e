// Raw files in the simulator: listing (sorted, each real file once, bad
// files skipped), serving a file as a device, and write-to-disk recordings
// that are listed and served frame by frame.
#include "simtestutil.h"

#include "rawfile.h"
#include "testpattern.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr uint32_t kCamera0 = 0x100;
constexpr int kWaitMs = 10000;

// A raw file whose frame k holds pattern number first + k.
void writeRaw(const QString &path, uint32_t w, uint32_t h, uint32_t bits, uint32_t frames,
              uint32_t first)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    RawFileHeader header = makeRawFileHeader(w, h, bits);
    header.firstFrame = first;
    RawFileWriter writer;
    QString error;
    QVERIFY2(writer.create(path, header, &error), qPrintable(error));
    std::vector<uint8_t> frame(header.frameBytes);
    for (uint32_t k = 0; k < frames; ++k) {
        renderTestPattern(frame.data(), w, h, bits, first + k);
        QVERIFY(writer.appendFrame(frame.data(), &error));
    }
}

QString infoText(const QByteArray &info)
{
    return QString::fromUtf8(info.constData() + DeviceInfoOffset::Text);
}

bool readsAsPattern(CameraDevice &device, uint32_t k, uint32_t n)
{
    std::vector<uint8_t> image(device.imageBytes());
    return device.readImageByIndex(0, 0, k, image.data()) == 0
           && findTestPatternMismatch(image.data(), image.size(), device.imageWidth(),
                                      device.imageHeight(), device.bitsPerPixel(), n)
                  == -1;
}

uint32_t startW2d(CameraDevice &device, const QByteArray &record, Recorder &recorder)
{
    QByteArray copy = record;
    return device.setWriteToDisk(1, reinterpret_cast<uint8_t *>(copy.data()), Recorder::onW2d, &recorder);
}

uint32_t stopW2d(CameraDevice &device, Recorder &recorder)
{
    uint8_t zero[ARVEX_W2D_REQUEST_SIZE] = {};
    return device.setWriteToDisk(0, zero, Recorder::onW2d, &recorder);
}

}  // namespace

class TestSimRawFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString rawFolder, volumeD, volumeE;

    void useFolders()
    {
        setTextOption(ARVEX_OPTION_RAW_FOLDER, rawFolder.toLatin1());
        setTextOption(ARVEX_OPTION_VOLUMES,
                      QStringLiteral("D=%1\nE=%2\n").arg(volumeD, volumeE).toLatin1());
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        // fresh folders per test function
        static int run = 0;
        ++run;
        rawFolder = dir.filePath(QStringLiteral("raw%1").arg(run));
        volumeD = dir.filePath(QStringLiteral("d%1").arg(run));
        volumeE = dir.filePath(QStringLiteral("e%1").arg(run));
        QVERIFY(QDir().mkpath(rawFolder) && QDir().mkpath(volumeD) && QDir().mkpath(volumeE));
    }

    void listsEachGoodFileOnce()
    {
        writeRaw(rawFolder + "/b.raw", 16, 8, 8, 3, 0);
        writeRaw(rawFolder + "/a/sub/c.raw", 24, 4, 16, 2, 5);
        writeRaw(volumeD + "/Rec/d.raw", 8, 8, 24, 1, 0);
        writeRaw(rawFolder + "/skip.bin", 8, 8, 8, 1, 0);   // not ".raw"
        QVERIFY(QFile::link(rawFolder + "/b.raw", volumeE + "/link.raw"));   // same file again
        QFile foreign(rawFolder + "/foreign.raw");
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write(QByteArray(300, 'z'));
        foreign.close();
        writeRaw(rawFolder + "/short.raw", 16, 8, 8, 2, 0);
        QFile cut(rawFolder + "/short.raw");
        QVERIFY(cut.resize(kRawFileHeaderSize + 16 * 8 + 5));   // 1 complete frame of 2

        SimSession session;
        useFolders();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Raw file skipped: .*foreign\\.raw: foreign"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("Raw file skipped: .*short\\.raw: holds 1 complete frames, header states 2"));
        const auto infos = enumerate(ARVEX_ENUM_RAW_FILES, 128);
        QCOMPARE(int(infos.size()), 3);
        // sorted by path: raw/a/sub/c.raw, raw/b.raw (the link resolved to it), d.../Rec/d.raw
        const QStringList expected = {"a/sub/c.raw", "b.raw", "Rec/d.raw"};
        QStringList texts;
        for (size_t i = 0; i < infos.size(); ++i) {
            QCOMPARE(infoWord(infos[i], DeviceInfoOffset::DeviceId), 0x10000u | uint32_t(i));
            texts << infoText(infos[i]);
        }
        if (rawFolder < volumeD)
            QCOMPARE(texts, expected);
        else
            QCOMPARE(texts, QStringList({"Rec/d.raw", "a/sub/c.raw", "b.raw"}));
        const int c = texts.indexOf("a/sub/c.raw");
        QCOMPARE(infoWord(infos[size_t(c)], DeviceInfoOffset::Word52), 24u);
        QCOMPARE(infoWord(infos[size_t(c)], DeviceInfoOffset::Word60), 4u);
        QCOMPARE(infoWord(infos[size_t(c)], DeviceInfoOffset::Word68), 16u);
        QCOMPARE(infoWord(infos[size_t(c)], DeviceInfoOffset::Word28), 2u);
        QCOMPARE(infoWord(infos[size_t(c)], DeviceInfoOffset::Word100), 5u);

        // cameras first when both are asked for; never more than the room
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("foreign\\.raw"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("short\\.raw"));
        const auto both = enumerate(ARVEX_ENUM_CAMERAS | ARVEX_ENUM_RAW_FILES, 2);
        QCOMPARE(int(both.size()), 2);
        QCOMPARE(infoWord(both[0], DeviceInfoOffset::DeviceId), kCamera0);
        QCOMPARE(infoWord(both[1], DeviceInfoOffset::DeviceId), 0x10000u);
    }

    void servesFileAsDevice()
    {
        writeRaw(rawFolder + "/x.raw", 24, 4, 16, 2, 5);
        SimSession session;
        useFolders();
        QCOMPARE(enumerate(ARVEX_ENUM_RAW_FILES, 128).size(), size_t(1));
        CameraDevice device(simDriver());
        QCOMPARE(device.open(0x10000), 0u);
        uint32_t a = 0, b = 0;
        QCOMPARE(device.getParameter(14, &a, &b), 0u);
        QCOMPARE(a, 24u);
        QCOMPARE(device.getParameter(15, &a, &b), 0u);
        QCOMPARE(a, 4u);
        QCOMPARE(device.bitsPerPixel(), 16u);
        QCOMPARE(device.imageBytes(), 24u * 4u * 2u);
        QVERIFY(readsAsPattern(device, 0, 5));
        QVERIFY(readsAsPattern(device, 1, 6));
        std::vector<uint8_t> image(device.imageBytes());
        QVERIFY(device.readImageByIndex(0, 0, 2, image.data()) != 0);
        QCOMPARE(readMemory(device, image, 1), 0u);
        QCOMPARE(findTestPatternMismatch(image.data(), image.size(), 24, 4, 16, 6), int64_t(-1));
        QVERIFY(readMemory(device, image, 2) != 0);
        // live plays the frames in a loop
        for (uint32_t n : {5u, 6u, 5u}) {
            QCOMPARE(captureLive(device, image), 0u);
            QCOMPARE(findTestPatternMismatch(image.data(), image.size(), 24, 4, 16, n), int64_t(-1));
        }
        // the file fixes the format
        QVERIFY(device.setSetting(109, 12) != 0);
        QVERIFY(device.setSetting(3, 8) != 0);
        QCOMPARE(device.setSetting(111, 100), 0u);
        QCOMPARE(device.imageBytes(), 24u * 4u * 2u);
        Recorder recorder;
        QVERIFY(device.startMemoryGrab(0, 0, 1, 0, Recorder::onGrab, 3, &recorder) != 0);
        QVERIFY(startW2d(device, w2dRecord(1, {"D:\\"}, "x"), recorder) != 0);
        CameraDevice missing(simDriver());
        QVERIFY(missing.open(0x10001) != 0);
    }

    void writeToDiskOneVolume()
    {
        SimSession session(0);
        useFolders();
        CameraDevice camera(simDriver());
        QCOMPARE(camera.open(kCamera0), 0u);
        QCOMPARE(camera.setSetting(109, 32), 0u);
        QCOMPARE(camera.setSetting(110, 8), 0u);
        QCOMPARE(camera.setSetting(3, 12), 0u);
        Recorder recorder;
        QCOMPARE(startW2d(camera, w2dRecord(1, {"D:\\"}, "Rec/Take1"), recorder), 0u);
        const QString file = volumeD + "/Rec/Take1.00.raw";
        // the file reads as whole while it grows
        QTRY_VERIFY_WITH_TIMEOUT(recorder.w2dCalls().size() >= 5, kWaitMs);
        for (int i = 0; i < 20; ++i) {
            QString reason;
            QVERIFY2(inspectRawFile(file, &reason), qPrintable(reason));
        }
        QTRY_VERIFY_WITH_TIMEOUT(recorder.w2dCalls().size() >= 20, kWaitMs);
        QCOMPARE(stopW2d(camera, recorder), 0u);
        const auto calls = recorder.w2dCalls();
        const auto last = calls.back();
        QCOMPARE(last[3], 1u);   // stopped
        QCOMPARE(last[1], 1u);   // one volume
        for (size_t i = 1; i + 1 < calls.size(); ++i) {
            QCOMPARE(calls[i][0], calls[i - 1][0] + 1);
            QCOMPARE(calls[i][3], 0u);
        }
        QString reason;
        const auto header = inspectRawFile(file, &reason);
        QVERIFY2(header, qPrintable(reason));
        QCOMPARE(header->frameCount, last[0]);
        QCOMPARE(header->sourceDeviceId, kCamera0);
        const uint32_t written = last[0];
        QTest::qWait(20);   // stopped means stopped
        QCOMPARE(inspectRawFile(file, &reason)->frameCount, written);

        // listed with the raw files (below volume D) and served frame by frame
        const auto infos = enumerate(ARVEX_ENUM_RAW_FILES, 128);
        QCOMPARE(int(infos.size()), 1);
        QCOMPARE(infoText(infos[0]), QStringLiteral("Rec/Take1.00.raw"));
        CameraDevice raw(simDriver());
        QCOMPARE(raw.open(infoWord(infos[0], DeviceInfoOffset::DeviceId)), 0u);
        QCOMPARE(raw.imageBytes(), 32u * 8u * 2u);
        for (uint32_t k : {0u, 1u, written - 1})
            QVERIFY2(readsAsPattern(raw, k, k), qPrintable(QStringLiteral("frame %1").arg(k)));
        QVERIFY(!readsAsPattern(raw, written, written));
    }

    void writeToDiskTwoVolumes()
    {
        SimSession session(0);
        useFolders();
        CameraDevice camera(simDriver());
        QCOMPARE(camera.open(kCamera0), 0u);
        QCOMPARE(camera.setSetting(109, 16), 0u);
        QCOMPARE(camera.setSetting(110, 4), 0u);
        QCOMPARE(camera.setSetting(3, 24), 0u);
        Recorder recorder;
        QCOMPARE(startW2d(camera, w2dRecord(2, {"D:\\", "E:\\"}, "Rec\\Two"), recorder), 0u);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.w2dCalls().size() >= 9, kWaitMs);
        QCOMPARE(stopW2d(camera, recorder), 0u);
        const auto last = recorder.w2dCalls().back();
        QCOMPARE(last[1], 2u);
        const uint32_t total = last[0];

        const auto infos = enumerate(ARVEX_ENUM_RAW_FILES, 128);
        QCOMPARE(int(infos.size()), 2);
        uint32_t sum = 0;
        for (const QByteArray &info : infos) {
            const uint32_t first = infoWord(info, DeviceInfoOffset::Word100);   // 0 on D, 1 on E
            QCOMPARE(infoWord(info, DeviceInfoOffset::Word104), 2u);
            const uint32_t count = infoWord(info, DeviceInfoOffset::Word28);
            QCOMPARE(count, (total - first + 1) / 2);
            sum += count;
            CameraDevice raw(simDriver());
            QCOMPARE(raw.open(infoWord(info, DeviceInfoOffset::DeviceId)), 0u);
            for (uint32_t k : {0u, 1u, count - 1})
                QVERIFY2(readsAsPattern(raw, k, first + 2 * k), qPrintable(QStringLiteral("frame %1").arg(k)));
        }
        QCOMPARE(sum, total);
        QVERIFY(QFile::exists(volumeD + "/Rec/Two.00.raw"));
        QVERIFY(QFile::exists(volumeE + "/Rec/Two.00.raw"));
    }

    // The same volume twice must not get two writers on one file.
    void writeToDiskSameVolumeTwice()
    {
        SimSession session(0);
        useFolders();
        CameraDevice camera(simDriver());
        QCOMPARE(camera.open(kCamera0), 0u);
        QCOMPARE(camera.setSetting(109, 8), 0u);
        QCOMPARE(camera.setSetting(110, 2), 0u);
        Recorder recorder;
        QCOMPARE(startW2d(camera, w2dRecord(2, {"D:\\", "D:\\"}, "Dup"), recorder), 0u);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.w2dCalls().size() >= 4, kWaitMs);
        QCOMPARE(stopW2d(camera, recorder), 0u);
        const auto last = recorder.w2dCalls().back();
        QCOMPARE(last[1], 1u);
        QString reason;
        QCOMPARE(inspectRawFile(volumeD + "/Dup.00.raw", &reason)->frameCount, last[0]);
    }

    void writeToDiskRefusals_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("unknown volume") << w2dRecord(1, {"X:\\"}, "Rec/Bad");
        QTest::newRow("one unknown of two") << w2dRecord(2, {"D:\\", "Q:\\"}, "Rec/Bad");
        QTest::newRow("dot-dot") << w2dRecord(1, {"D:\\"}, "../Rec/Bad");
        QTest::newRow("no volumes") << w2dRecord(0, {}, "Rec/Bad");
        QTest::newRow("five volumes") << w2dRecord(5, {"D:\\", "D:\\", "D:\\", "D:\\"}, "Rec/Bad");
    }

    void writeToDiskRefusals()
    {
        QFETCH(QByteArray, record);
        SimSession session(0);
        useFolders();
        CameraDevice camera(simDriver());
        QCOMPARE(camera.open(kCamera0), 0u);
        Recorder recorder;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Write-to-disk refused"));
        QVERIFY(startW2d(camera, record, recorder) != 0);
        QTest::ignoreMessage(QtWarningMsg, "Write-to-disk refused: no record");
        QVERIFY(camera.setWriteToDisk(1, nullptr, Recorder::onW2d, &recorder) != 0);
        QVERIFY(!QFileInfo::exists(volumeD + "/Rec"));
        QVERIFY(!QFileInfo::exists(dir.filePath("Rec")));
        QVERIFY(recorder.w2dCalls().empty());
        uint32_t s[6] = {};
        QCOMPARE(camera.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QCOMPARE(s[0] & 0x8u, 0u);
    }
};

QTEST_GUILESS_MAIN(TestSimRawFiles)
#include "tst_simrawfiles.moc"
