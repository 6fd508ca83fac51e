// Image read-out end to end: a camera server on the simulated camera at
// 127.0.0.1 and the client library over real sockets. Every bit depth bit
// for bit against the test pattern, a memory recording read back by index,
// lost segments completed through resends, JPEG close to the pattern.
#include "imagedecode.h"
#include "imagereader.h"
#include "monitorkit.h"

#include "cameradevice.h"
#include "drivertable.h"
#include "rawfile.h"
#include "testpattern.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Ports of this test program: 31000 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 31000;
constexpr uint32_t kSettingBitsPerPixel = 3;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;

}  // namespace

class TestTransferEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void everyDepthBitExact_data();
    void everyDepthBitExact();
    void memoryRecordingByIndex();
    void lostSegmentsResent_data();
    void lostSegmentsResent();
    void lossThatNeverEnds();
    void jpegCloseToPattern_data();
    void jpegCloseToPattern();
    void errorsReported();
    void rawFileFrameWithSelector();

private:
    bool acked(uint32_t sub, const QVector<uint32_t> &args = {});
    bool setFormat(uint32_t width, uint32_t height, uint32_t bits);
    std::optional<ReceivedImage> read(uint32_t source, uint32_t index, uint32_t packetSize,
                                      std::function<bool(uint32_t, int)> discard = nullptr);

    std::unique_ptr<QCameraMonitor> monitor;
    std::unique_ptr<ClientSession> session;
    ClientError lastReadError;
};

void TestTransferEndToEnd::initTestCase()
{
    // Memory grabs at 1 ms a frame instead of 10: same rules, shorter test.
    const DriverTable &sim = simulatedDriverTable();
    sim.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0);
    monitor = std::make_unique<QCameraMonitor>(sim);
    QVERIFY(startOnFreePort(*monitor, kPortSeed));
    SessionOptions options;
    options.server = QHostAddress(QStringLiteral("127.0.0.1"));
    options.portBase = monitor->listenPortNumber();
    options.timeoutMs = 400;
    options.loopbackOnly = true;
    session = std::make_unique<ClientSession>();
    QVERIFY(session->start(options));
    QVERIFY2(session->enumerateCameras(), qPrintable(session->lastError().message));
}

void TestTransferEndToEnd::cleanupTestCase()
{
    session.reset();
    monitor.reset();
}

void TestTransferEndToEnd::init()
{
    // A fresh open: the live counter starts at 0 again, delays as started.
    monitor->setTransferOptions(4, 0);
    QVERIFY2(session->openCamera(16), qPrintable(session->lastError().message));
    session->counters() = TransferCounters();
}

bool TestTransferEndToEnd::acked(uint32_t sub, const QVector<uint32_t> &args)
{
    const auto reply = session->command(Channel::Camera, sub, args);
    return reply && reply->isAck() && reply->header.resultOrSelector == RESULT_OK;
}

bool TestTransferEndToEnd::setFormat(uint32_t width, uint32_t height, uint32_t bits)
{
    return acked(CMD_SET_SETTING, {kSettingWidth, width}) &&
           acked(CMD_SET_SETTING, {kSettingHeight, height}) &&
           acked(CMD_SET_SETTING, {kSettingBitsPerPixel, bits});
}

std::optional<ReceivedImage> TestTransferEndToEnd::read(uint32_t source, uint32_t index,
                                                        uint32_t packetSize,
                                                        std::function<bool(uint32_t, int)> discard)
{
    ImageReadOptions options;
    options.source = source;
    options.index = index;
    options.packetSize = packetSize;
    options.discard = std::move(discard);
    ImageReader reader(*session);
    auto image = reader.read(options);
    lastReadError = reader.lastError();
    return image;
}

void TestTransferEndToEnd::everyDepthBitExact_data()
{
    QTest::addColumn<uint>("bits");
    QTest::addColumn<uint>("packet");
    for (uint bits : {8u, 10u, 12u, 16u, 24u, 48u})
        QTest::newRow(qPrintable(QStringLiteral("%1 bits").arg(bits))) << bits << 1472u;
    QTest::newRow("48 bits in jumbo packets") << 48u << 9000u;
    QTest::newRow("8 bits in 64-byte packets") << 8u << 64u;
}

void TestTransferEndToEnd::everyDepthBitExact()
{
    QFETCH(uint, bits);
    QFETCH(uint, packet);
    const uint32_t w = 320, h = 200;
    QVERIFY(setFormat(w, h, bits));
    for (uint32_t n = 0; n < 2; ++n) {  // live frames 0 and 1
        const auto image = read(0, 0, packet);
        QVERIFY2(image, qPrintable(lastReadError.message));
        const ImageDescription &d = image->description;
        QCOMPARE(d.format, IMAGE_FORMAT_RAW);
        QCOMPARE(d.width, w);
        QCOMPARE(d.height, h);
        QCOMPARE(d.bitsPerPixel, bits);
        QCOMPARE(d.sendSize, imageBytesFor(w, h, bits));
        QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->data.constData()),
                                         size_t(image->data.size()), w, h, bits, n),
                 int64_t(-1));
        QString why;
        QVERIFY2(!decodeTransferredImage(*image, &why).isNull(), qPrintable(why));
    }
    QCOMPARE(session->counters().duplicates, 0u);
}

void TestTransferEndToEnd::memoryRecordingByIndex()
{
    QVERIFY(setFormat(256, 100, 12));
    QVERIFY(acked(CMD_MEMORY_START_GRAB, {6, 2}));
    // Six frames at 1 ms each; bounded wait for the recording to finish.
    QElapsedTimer clock;
    clock.start();
    uint32_t recorded = 0;
    while (recorded < 6 && clock.elapsed() < 5000) {
        const auto reply = session->command(Channel::Camera, CMD_GET_TRIGGER_INDEX, {});
        QVERIFY(reply && !reply->isAck());
        recorded = reply->command().value(0);
        QCOMPARE(reply->command().value(1), 2u);
        QTest::qWait(5);
    }
    QCOMPARE(recorded, 6u);
    const auto stop = session->command(Channel::Camera, CMD_MEMORY_STOP_GRAB, {});
    QVERIFY(stop && !stop->isAck());
    QCOMPARE(stop->command().value(0), 6u);

    for (const auto &[source, k] : {std::pair<uint32_t, uint32_t>{2, 4}, {1, 5}, {2, 0}}) {
        const auto image = read(source, k, 1472);
        QVERIFY2(image, qPrintable(lastReadError.message));
        QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->data.constData()),
                                         size_t(image->data.size()), 256, 100, 12, k),
                 int64_t(-1));
    }
    // Past the recording: the driver refuses, the server answers 7.
    QVERIFY(!read(2, 6, 1472));
    QCOMPARE(lastReadError.kind, ClientErrorKind::ErrorResult);
    QCOMPARE(int(lastReadError.result), int(RESULT_READ_FAILED));
}

void TestTransferEndToEnd::lostSegmentsResent_data()
{
    QTest::addColumn<uint>("packet");
    QTest::addColumn<QString>("loss");
    QTest::addColumn<int>("rounds");
    QTest::newRow("every third segment") << 1472u << "third" << 1;
    QTest::newRow("the last segment") << 1472u << "last" << 1;
    QTest::newRow("the whole first send, jumbo packets") << 9000u << "all" << 1;
    QTest::newRow("whole send, more than one resend datagram") << 64u << "all" << 1;
    QTest::newRow("lost again in the first resend") << 1472u << "twice" << 2;
}

void TestTransferEndToEnd::lostSegmentsResent()
{
    QFETCH(uint, packet);
    QFETCH(QString, loss);
    QFETCH(int, rounds);
    const uint32_t w = 640, h = 400, bits = 16;  // 512000 bytes
    QVERIFY(setFormat(w, h, bits));
    const uint32_t count = segmentLayout(imageBytesFor(w, h, bits), packet).count;
    uint64_t dropped = 0;
    uint64_t droppedAgain = 0;
    auto discard = [&](uint32_t index, int round) {
        bool drop = false;
        if (round == 0) {
            drop = loss == QLatin1String("all") || (loss == QLatin1String("last") && index + 1 == count) ||
                   ((loss == QLatin1String("third") || loss == QLatin1String("twice")) && index % 3 == 0);
            dropped += drop;
        } else if (round == 1 && loss == QLatin1String("twice")) {
            drop = index % 9 == 0;
            droppedAgain += drop;
        }
        return drop;
    };
    const auto image = read(0, 0, packet, discard);
    QVERIFY2(image, qPrintable(lastReadError.message));
    QCOMPARE(image->resendRounds, rounds);
    QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->data.constData()),
                                     size_t(image->data.size()), w, h, bits, 0),
             int64_t(-1));
    const TransferCounters &c = session->counters();
    // A system that cut the receive buffer may lose segments of its own.
    if (session->receiveBufferCut()) {
        QVERIFY(c.segmentsMissing >= dropped + droppedAgain);
        return;
    }
    QCOMPARE(c.segmentsMissing, dropped + droppedAgain);
    QCOMPARE(c.segmentsResent, dropped);
    QCOMPARE(c.duplicates, 0u);
    const uint64_t perDatagram = kMaxResendIndicesPerDatagram;
    QCOMPARE(c.resendRequests, (dropped + perDatagram - 1) / perDatagram +
                                   (droppedAgain + perDatagram - 1) / perDatagram);
    if (loss == QLatin1String("all") && packet == 64u)
        QVERIFY(c.resendRequests > 1);
}

void TestTransferEndToEnd::lossThatNeverEnds()
{
    QVERIFY(setFormat(100, 100, 8));
    ImageReadOptions options;
    options.maxResendRounds = 2;
    options.quietMs = 100;
    options.discard = [](uint32_t index, int) { return index == 3; };
    ImageReader reader(*session);
    QVERIFY(!reader.read(options));
    QCOMPARE(reader.lastError().kind, ClientErrorKind::TimedOut);
    QVERIFY2(reader.lastError().message.startsWith(
                 QLatin1String("1 of 7 image segments still missing after 2 resend rounds")),
             qPrintable(reader.lastError().message));
}

void TestTransferEndToEnd::jpegCloseToPattern_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<uint>("bits");
    QTest::newRow("fast JPEG, 8 bits") << 1 << 8u;
    QTest::newRow("fast JPEG, 12 bits") << 1 << 12u;
    QTest::newRow("fast JPEG, RGB 24") << 1 << 24u;
    QTest::newRow("JPEG, 16 bits") << 2 << 16u;
    QTest::newRow("JPEG, RGB 48") << 2 << 48u;
}

void TestTransferEndToEnd::jpegCloseToPattern()
{
    QFETCH(int, format);
    QFETCH(uint, bits);
    // 1 x 1 steps of x + 2y wrap only every few rows: smooth enough to code
    // well, so a decoded sample stays near its pattern value.
    const uint32_t w = 640, h = 480;
    QVERIFY(setFormat(w, h, bits));
    monitor->setTransferOptions(4, format);
    const auto live = read(0, 0, 1472);
    QVERIFY2(live, qPrintable(lastReadError.message));
    QCOMPARE(int(live->description.format), format);
    QCOMPARE(live->description.bitsPerPixel, bits);
    QVERIFY(live->description.sendSize < imageBytesFor(w, h, bits));
    QString why;
    const QImage decoded = decodeTransferredImage(*live, &why);
    QVERIFY2(!decoded.isNull(), qPrintable(why));
    QCOMPARE(decoded.size(), QSize(int(w), int(h)));

    QByteArray raw(int(imageBytesFor(w, h, bits)), 0);
    renderTestPattern(reinterpret_cast<uint8_t *>(raw.data()), w, h, bits, 0);
    const auto *p = reinterpret_cast<const uint8_t *>(raw.constData());
    const int channels = bits > 16 ? 3 : 1;
    uint64_t total = 0;
    uint64_t far = 0;
    uint64_t samples = 0;
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *line = decoded.constScanLine(int(y));
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < channels; ++c) {
                const size_t i = (size_t(y) * w + x) * channels + size_t(c);
                int expected = 0;
                if (bits <= 8)
                    expected = p[i];
                else if (bits <= 16)
                    expected = int(qFromLittleEndian<quint16>(p + 2 * i) >> (bits - 8)) & 0xFF;
                else if (bits <= 24)
                    expected = p[i];
                else
                    expected = p[2 * i + 1];
                const int diff = qAbs(int(line[x * channels + c]) - expected);
                total += uint64_t(diff);
                far += diff > 24;
                ++samples;
            }
        }
    }
    // Sharp wraps of the sawtooth ring a little; the rest is close.
    const double mean = double(total) / double(samples);
    QVERIFY2(mean < 3.0, qPrintable(QString::number(mean)));
    QVERIFY2(far * 100 < samples, qPrintable(QString::number(far)));
}

void TestTransferEndToEnd::errorsReported()
{
    QVERIFY(session->close(Channel::Camera));
    QVERIFY(!read(0, 0, 1472));
    QCOMPARE(lastReadError.kind, ClientErrorKind::ErrorResult);
    QCOMPARE(int(lastReadError.result), int(RESULT_READ_FAILED));
    QVERIFY(lastReadError.message.contains(QLatin1String("result 7")));
}

void TestTransferEndToEnd::rawFileFrameWithSelector()
{
    // Two recordings in the raw-file folder, frames of the test pattern.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const struct { const char *name; uint32_t w, h, bits; } files[] = {
        {"a.raw", 64, 40, 8}, {"b.raw", 96, 50, 16}};
    for (const auto &f : files) {
        RawFileWriter writer;
        QString why;
        QVERIFY2(writer.create(folder.filePath(QString::fromLatin1(f.name)),
                               makeRawFileHeader(f.w, f.h, f.bits), &why),
                 qPrintable(why));
        for (uint32_t k = 0; k < 3; ++k) {
            QByteArray frame(int(imageBytesFor(f.w, f.h, f.bits)), 0);
            renderTestPattern(reinterpret_cast<uint8_t *>(frame.data()), f.w, f.h, f.bits, k);
            QVERIFY2(writer.appendFrame(reinterpret_cast<const uint8_t *>(frame.constData()), &why),
                     qPrintable(why));
        }
        writer.close();
    }
    const QByteArray path = folder.path().toLatin1();
    const DriverTable &sim = simulatedDriverTable();
    sim.setDriverOption(nullptr, ARVEX_OPTION_RAW_FOLDER, reinterpret_cast<uintptr_t>(path.constData()), 0);

    QCameraMonitor raw(sim);
    raw.setMode(RawFileMode);
    QVERIFY(startOnFreePort(raw, kPortSeed + 400));
    SessionOptions options = session->options();
    options.portBase = quint16(raw.listenPortNumber() - 1);
    ClientSession rawSession;
    QVERIFY(rawSession.start(options));
    const auto count = rawSession.enumerateRawFiles();
    QVERIFY2(count, qPrintable(rawSession.lastError().message));
    QCOMPARE(*count, 2);
    QVERIFY(rawSession.openRawFile(0));
    QVERIFY(rawSession.openRawFile(1));

    // Two files open: byte 0 of the request picks one.
    for (uint8_t selector : {uint8_t(1), uint8_t(0)}) {
        const auto &f = files[selector];
        ImageReadOptions read;
        read.channel = Channel::RawFile;
        read.selector = selector;
        read.source = 2;
        read.index = 2;
        ImageReader reader(rawSession);
        const auto image = reader.read(read);
        QVERIFY2(image, qPrintable(reader.lastError().message));
        QCOMPARE(image->description.width, f.w);
        QCOMPARE(image->description.bitsPerPixel, f.bits);
        QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->data.constData()),
                                         size_t(image->data.size()), f.w, f.h, f.bits, 2),
                 int64_t(-1));
    }
    sim.setDriverOption(nullptr, ARVEX_OPTION_RAW_FOLDER, 0, 0);
}

QTEST_GUILESS_MAIN(TestTransferEndToEnd)
#include "tst_transfer_e2e.moc"
