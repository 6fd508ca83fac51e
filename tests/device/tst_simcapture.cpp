// The simulated camera's images and recordings: live images at every depth,
// memory grabs with their callback, trigger index, calibration, saving
// memory to a raw file, and the threads ending at close and shutdown.
#include "simtestutil.h"

#include "rawfile.h"
#include "testpattern.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

constexpr uint32_t kCamera0 = 0x100;
constexpr int kWaitMs = 10000;

void setFormat(CameraDevice &device, uint32_t width, uint32_t height, uint32_t bits)
{
    QCOMPARE(device.setSetting(109, width), 0u);
    QCOMPARE(device.setSetting(110, height), 0u);
    QCOMPARE(device.setSetting(3, bits), 0u);
}

bool isPattern(const std::vector<uint8_t> &image, CameraDevice &device, uint32_t frame)
{
    return findTestPatternMismatch(image.data(), device.imageBytes(), device.imageWidth(),
                                   device.imageHeight(), device.bitsPerPixel(), frame)
           == -1;
}

}  // namespace

class TestSimCapture : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void liveImages_data()
    {
        QTest::addColumn<uint32_t>("width");
        QTest::addColumn<uint32_t>("height");
        QTest::addColumn<uint32_t>("bits");
        QTest::newRow("defaults") << 1280u << 1024u << 8u;
        for (uint32_t bits : {8u, 10u, 12u, 16u, 24u, 48u})
            QTest::addRow("%u bits", bits) << 200u << 30u << bits;
        QTest::newRow("48 bits, full size") << 1280u << 1024u << 48u;
    }

    // Bit-exact frames in exactly the size the settings report; the live
    // counter runs 0, 1, 2 and nothing beyond the image is written.
    void liveImages()
    {
        QFETCH(uint32_t, width);
        QFETCH(uint32_t, height);
        QFETCH(uint32_t, bits);
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, width, height, bits);
        const uint32_t bytes = device.imageBytes();
        QCOMPARE(bytes, imageBytesFor(width, height, bits));
        std::vector<uint8_t> image(bytes + 16, 0xEE);
        for (uint32_t n = 0; n < 3; ++n) {
            QCOMPARE(captureLive(device, image), 0u);
            QVERIFY2(isPattern(image, device, n), qPrintable(QStringLiteral("frame %1").arg(n)));
            QCOMPARE(image[bytes], uint8_t(0xEE));
        }
    }

    void liveRefusalsAndRestart()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 10, 10, 16);
        std::vector<uint8_t> image(199, 0xEE);
        QVERIFY(captureLive(device, image) != 0);   // one byte short
        QVERIFY(std::all_of(image.begin(), image.end(), [](uint8_t b) { return b == 0xEE; }));
        QByteArray noBuffer = descriptorFor(nullptr, 1000);
        QVERIFY(device.captureLiveImage(reinterpret_cast<uint8_t *>(noBuffer.data()), 5000) != 0);
        QVERIFY(device.captureLiveImage(nullptr, 5000) != 0);
        image.resize(200);
        QCOMPARE(captureLive(device, image), 0u);
        QVERIFY(isPattern(image, device, 0));   // refusals did not count
        QCOMPARE(captureLive(device, image), 0u);
        QVERIFY(isPattern(image, device, 1));
        device.close();
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 10, 10, 16);
        QCOMPARE(captureLive(device, image), 0u);
        QVERIFY(isPattern(image, device, 0));   // the counter restarts at open
    }

    void memoryGrabCompletes()
    {
        SimSession session(1000);   // 1 ms frames
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 64, 32, 12);
        Recorder recorder;
        QCOMPARE(device.startMemoryGrab(0, 0, 5, 2, Recorder::onGrab, 3, &recorder), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.grabDone.load(), 1, kWaitMs);
        uint32_t frames = 0;
        QCOMPARE(device.stopMemoryGrab(&frames), 0u);
        QCOMPARE(frames, 5u);
        QCOMPARE(recorder.grabDone.load(), 1);   // exactly once

        std::vector<uint8_t> image(device.imageBytes());
        for (uint32_t k = 0; k < 5; ++k) {
            QCOMPARE(readMemory(device, image, k), 0u);
            QVERIFY(isPattern(image, device, k));
        }
        QVERIFY(readMemory(device, image, 5) != 0);
        QCOMPARE(device.readImageByIndex(0, 0, 4, image.data()), 0u);
        QVERIFY(isPattern(image, device, 4));
        QVERIFY(device.readImageByIndex(0, 0, 5, image.data()) != 0);

        uint32_t p = 0, q = 0, r = 0, s = 0;
        QCOMPARE(device.getTriggerIndex(&p, &q, &r, &s), 0u);
        QCOMPARE(p, 5u);
        QCOMPARE(q, 2u);
        QCOMPARE(r, 2u);
        QCOMPARE(s, 20u);   // at 100 fps
    }

    // a = 0 records until the memory allocated at open is full.
    void memoryGrabFillsMemory()
    {
        SimSession session(0);
        setOption(ARVEX_OPTION_MEMORY_MB, 1);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 64, 32, 8);   // 2048 bytes: 512 frames in 1 MB
        Recorder recorder;
        QCOMPARE(device.startMemoryGrab(0, 0, 0, 0, Recorder::onGrab, 3, &recorder), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.grabDone.load(), 1, kWaitMs);
        uint32_t frames = 0;
        QCOMPARE(device.stopMemoryGrab(&frames), 0u);
        QCOMPARE(frames, 512u);
        // more than the memory holds is cut to what it holds
        QCOMPARE(device.startMemoryGrab(0, 0, 100000, 0, Recorder::onGrab, 3, &recorder), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.grabDone.load(), 2, kWaitMs);
        QCOMPARE(device.stopMemoryGrab(&frames), 0u);
        QCOMPARE(frames, 512u);
        // a frame larger than the whole memory cannot be recorded
        setFormat(device, 1280, 1024, 48);
        QVERIFY(device.startMemoryGrab(0, 0, 1, 0, Recorder::onGrab, 3, &recorder) != 0);
    }

    void memoryGrabStopped()
    {
        SimSession session;   // 10 ms frames, as shipped
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 32, 8, 8);
        Recorder recorder;
        QCOMPARE(device.startMemoryGrab(0, 0, 0, 7, Recorder::onGrab, 3, &recorder), 0u);
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            uint32_t s[6] = {};
            device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]);
            return s[1] >= 3;
        }(), kWaitMs);
        // the format cannot change under a running recording
        QVERIFY(device.setSetting(109, 16) != 0);
        QCOMPARE(device.imageWidth(), 32u);
        uint32_t frames = 0;
        QCOMPARE(device.stopMemoryGrab(&frames), 0u);
        QCOMPARE(recorder.grabDone.load(), 1);   // fired before stop returned
        QVERIFY(frames >= 3);
        std::vector<uint8_t> image(device.imageBytes());
        QCOMPARE(readMemory(device, image, frames - 1), 0u);
        QVERIFY(isPattern(image, device, frames - 1));
        QVERIFY(readMemory(device, image, frames) != 0);
        uint32_t again = 0;
        QCOMPARE(device.stopMemoryGrab(&again), 0u);
        QCOMPARE(again, frames);
        QCOMPARE(recorder.grabDone.load(), 1);

        // a new format discards the recording: its frames would not fit it
        QCOMPARE(device.setSetting(109, 16), 0u);
        QVERIFY(readMemory(device, image, 0) != 0);
    }

    void grabRestartAndCloseEndWithCallback()
    {
        SimSession session;
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 16, 4, 8);
        Recorder first, second;
        QCOMPARE(device.startMemoryGrab(0, 0, 0, 0, Recorder::onGrab, 3, &first), 0u);
        QCOMPARE(device.startMemoryGrab(0, 0, 0, 0, Recorder::onGrab, 3, &second), 0u);
        QCOMPARE(first.grabDone.load(), 1);
        QCOMPARE(second.grabDone.load(), 0);
        device.close();
        QCOMPARE(second.grabDone.load(), 1);
    }

    void calibrationReportsProgress()
    {
        SimSession session(1000);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        Recorder recorder;
        QCOMPARE(device.calibrateDevice(1, Recorder::onCalibration, &recorder), 0u);
        QVERIFY(device.calibrateDevice(1, Recorder::onCalibration, &recorder) != 0);   // busy
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.calibrationCalls().empty()
                                     && recorder.calibrationCalls().back().first
                                            == recorder.calibrationCalls().back().second,
                                 kWaitMs);
        const auto calls = recorder.calibrationCalls();
        QVERIFY(calls.size() >= 10);
        for (size_t i = 1; i < calls.size(); ++i) {
            QVERIFY(calls[i].first >= calls[i - 1].first);
            QCOMPARE(calls[i].second, calls[0].second);
        }
        QVERIFY(calls.back().second > 0);
        uint32_t a = 0, b = 0;
        QTRY_VERIFY_WITH_TIMEOUT(device.getParameter(19, &a, &b) == 0 && a == 1, kWaitMs);
        // a second run is possible once the first has ended
        uint32_t restarted = 1;
        QTRY_VERIFY_WITH_TIMEOUT(
            (restarted = restarted == 0 ? 0 : device.calibrateDevice(1, Recorder::onCalibration, &recorder)) == 0,
            kWaitMs);
        device.close();   // stops it
        const size_t after = recorder.calibrationCalls().size();
        QTest::qWait(20);
        QCOMPARE(recorder.calibrationCalls().size(), after);
    }

    void saveToFileWritesMemoryFrames()
    {
        SimSession session(0);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        setFormat(device, 40, 10, 10);
        Recorder recorder;
        QCOMPARE(device.startMemoryGrab(0, 0, 6, 0, Recorder::onGrab, 3, &recorder), 0u);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.grabDone.load(), 1, kWaitMs);

        const QByteArray part = dir.filePath(QStringLiteral("part.raw")).toLatin1();
        QCOMPARE(device.saveToFile(part.constData(), 0, 0, 2, 0, 3), 0u);
        RawFileReader reader;
        QString reason;
        QVERIFY2(reader.open(QString::fromLatin1(part), &reason), qPrintable(reason));
        QCOMPARE(reader.header().frameCount, 3u);
        QCOMPARE(reader.header().firstFrame, 2u);
        QCOMPARE(reader.header().sourceDeviceId, kCamera0);
        std::vector<uint8_t> image(device.imageBytes());
        for (uint32_t k = 0; k < 3; ++k) {
            QVERIFY(reader.readFrame(k, image.data()));
            QVERIFY(isPattern(image, device, 2 + k));
        }

        const QByteArray rest = dir.filePath(QStringLiteral("rest.raw")).toLatin1();
        QCOMPARE(device.saveToFile(rest.constData(), 0, 0, 2, 0, 0), 0u);   // to the end
        QCOMPARE(inspectRawFile(QString::fromLatin1(rest), &reason)->frameCount, 4u);

        const QByteArray refused = dir.filePath(QStringLiteral("refused.raw")).toLatin1();
        QVERIFY(device.saveToFile(refused.constData(), 0, 0, 0, 1, 0) != 0);   // b must be 0
        QVERIFY(device.saveToFile(refused.constData(), 0, 0, 6, 0, 0) != 0);   // past the end
        QVERIFY(device.saveToFile(refused.constData(), 0, 0, 4, 0, 3) != 0);
        QVERIFY(!QFile::exists(QString::fromLatin1(refused)));
    }

    // Two servers initialise the driver; only the last shutdown stops the
    // threads (with their callbacks) and invalidates handles.
    void shutdownIsCounted()
    {
        setOption(ARVEX_OPTION_SIM_FRAME_US, 10000);
        QCOMPARE(simDriver().initializeDriver(nullptr), 0u);
        QCOMPARE(simDriver().initializeDriver(nullptr), 0u);
        CameraDevice device(simDriver());
        QCOMPARE(device.open(kCamera0), 0u);
        Recorder recorder;
        QCOMPARE(device.startMemoryGrab(0, 0, 0, 0, Recorder::onGrab, 3, &recorder), 0u);
        QCOMPARE(device.calibrateDevice(0, Recorder::onCalibration, &recorder), 0u);
        QCOMPARE(simDriver().shutdownDriver(), 0u);
        uint32_t s[6] = {};
        QCOMPARE(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]), 0u);
        QCOMPARE(s[0] & 0x14u, 0x14u);   // still grabbing and calibrating
        QCOMPARE(simDriver().shutdownDriver(), 0u);
        QCOMPARE(recorder.grabDone.load(), 1);
        QVERIFY(device.getStatus(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]) != 0);
        QVERIFY(simDriver().shutdownDriver() != 0);   // nothing left to shut down
    }
};

QTEST_GUILESS_MAIN(TestSimCapture)
#include "tst_simcapture.moc"
