// The server's threads against each other: the worker answering a client's
// traffic, the simulator's threads calling back (calibration progress, the
// end of a memory grab, write-to-disk progress) and the owner's calls
// (enumerateCameras, setTransferOptions, setLogEnabled, cameraTable, the
// calibration slot, stop and start), all at once. Its findings come from the
// sanitizers: scripts/test.sh runs it under ThreadSanitizer as well as in the
// ASan build. ARVEX_STRESS_SECONDS sets the length of each case (default 3).
//
// Under ThreadSanitizer the cases with queued signals (the window's log and
// status receivers, a calibration requested over the wire) are skipped: Qt's
// event queue hands events over under a mutex inside the uninstrumented Qt
// library, so TSan reports every queued argument as a race. Those cases run
// in the other builds; the calibration slot itself still runs, called by the
// owner directly.
#include "drivertable.h"
#include "loopbackclient.h"
#include "monitorkit.h"
#include "rawfile.h"
#include "testpattern.h"

#include <QTemporaryDir>
#include <QtTest>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ARVEX_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ARVEX_UNDER_TSAN 1
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {
constexpr quint16 kPortSeed = 28000;
const QHostAddress kServer(QStringLiteral("127.0.0.1"));
const QHostAddress kClientAddress(QStringLiteral("127.0.0.2"));
constexpr uint32_t kFrameUs = 200;

int stressSeconds()
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ARVEX_STRESS_SECONDS", &ok);
    return ok && value > 0 ? value : 3;
}

uint32_t setOption(uint32_t option, uintptr_t value)
{
    return simulatedDriverTable().setDriverOption(nullptr, option, value, 0);
}

// What the client thread saw.
struct Traffic {
    std::atomic<int> answered{0};
    std::atomic<int> unanswered{0};
    std::atomic<int> segments{0};
};

// One client's requests in a loop until `stop`: a camera session with
// images, grabs, calibration and write-to-disk, or raw files opened, read and
// closed. With `tolerant` (the server restarts under it) a request may go
// unanswered and the session is opened again. `calibrate`: calibrations
// requested over the wire (a queued signal to the owner's thread).
void runClient(bool rawFiles, quint16 port, bool tolerant, bool calibrate,
               const std::atomic<bool> &stop, Traffic &traffic)
{
    LoopbackClient client(kClientAddress);
    client.onSegment = [&](const QByteArray &) { ++traffic.segments; };
    const int timeoutMs = tolerant ? 300 : 2000;
    auto ask = [&](uint32_t sub, const QVector<uint32_t> &args) {
        const auto reply = client.command(kServer, port, sub, args, timeoutMs);
        ++(reply ? traffic.answered : traffic.unanswered);
        return reply;
    };
    auto openSession = [&] {
        const uint16_t id = client.nextId();
        client.send(kServer, port, enumerateDatagram(id));
        ++(client.waitForReply(id, timeoutMs) ? traffic.answered : traffic.unanswered);
        if (rawFiles) {
            ask(CMD_OPEN, {0, 0});
        } else {
            ask(CMD_OPEN, {16});
            ask(CMD_SET_SETTING, {109, 64});
            ask(CMD_SET_SETTING, {110, 32});
        }
    };
    openSession();
    const quint32 dataPort = client.port();
    for (uint32_t i = 0; !stop; ++i) {
        if (tolerant && traffic.unanswered > 0 && i % 16 == 0)
            openSession();
        if (rawFiles) {
            switch (i % 6) {
            case 0: ask(CMD_READ_IMAGE, {2, i % 3, dataPort, 0, 1500}); break;
            case 1: ask(CMD_GET_STATUS, {}); break;
            case 2: ask(CMD_READ_IMAGE, {0, 0, dataPort, 0, 9000}); break;
            case 3: ask(CMD_GET_PARAMETER, {35}); break;
            case 4: ask(CMD_CLOSE, {}); break;
            default: ask(CMD_OPEN, {0, i % 2}); break;
            }
            continue;
        }
        switch (i % 14) {
        case 0: ask(CMD_READ_IMAGE, {0, 0, dataPort, 0, 1500}); break;
        case 1: ask(CMD_MEMORY_START_GRAB, {20, 3}); break;
        case 2: ask(calibrate ? CMD_CALIBRATE : CMD_NOP, {0}); break;
        case 3: ask(CMD_GET_CALIBRATION_PROGRESS, {}); break;
        case 4: ask(CMD_MEMORY_STOP_GRAB, {}); break;
        case 5: ask(CMD_READ_IMAGE, {1, i % 20, dataPort, 0, 4000}); break;
        case 6: ask(CMD_GET_TRIGGER_INDEX, {}); break;
        case 7: {
            // Write-to-disk start: folder "stress/take" on volume D.
            QVector<uint32_t> args{1, 1, 'D', 0, 0};
            args.resize(16 + 128);  // words up to the end of the path field
            const QByteArray folder("stress/take");
            std::memcpy(args.data() + 16, folder.constData(), size_t(folder.size()));
            ask(CMD_WRITE_TO_DISK, args);
            break;
        }
        case 8: ask(CMD_GET_W2D_PROGRESS, {}); break;
        case 9: ask(CMD_GET_STATUS, {}); break;
        case 10: ask(CMD_WRITE_TO_DISK, {0}); break;
        case 11: ask(CMD_LIVE, {i % 2}); break;
        case 12: ask(CMD_SET_SETTING, {3, (i / 14) % 2 ? 16u : 8u}); break;
        default: ask(CMD_NOP, {}); break;
        }
    }
    ask(CMD_WRITE_TO_DISK, {0});
    ask(CMD_CLOSE, {});
}

}  // namespace

class TestConcurrency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void ownerCallsDuringTraffic_data();
    void ownerCallsDuringTraffic();
    void restartsDuringTraffic();

private:
    void ownerLoop(QCameraMonitor &monitor, const std::atomic<bool> &stop, bool restart);

    QTemporaryDir root;
    QByteArray rawFolder;
    QByteArray volumes;
};

void TestConcurrency::initTestCase()
{
    if (!simulatedDriverTable().setDriverOption)
        QSKIP("the simulated driver is not built in");
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(root.filePath("raw")));
    QVERIFY(QDir().mkpath(root.filePath("volD")));
    for (int file = 0; file < 2; ++file) {
        RawFileWriter writer;
        QString error;
        const RawFileHeader header = makeRawFileHeader(48, 16, file ? 12 : 8);
        QVERIFY2(writer.create(root.filePath(QStringLiteral("raw/t%1.raw").arg(file)), header,
                               &error),
                 qPrintable(error));
        std::vector<uint8_t> frame(header.frameBytes);
        for (uint32_t k = 0; k < 3; ++k) {
            renderTestPattern(frame.data(), 48, 16, header.bitsPerPixel, k);
            QVERIFY(writer.appendFrame(frame.data(), &error));
        }
    }
    rawFolder = QFile::encodeName(root.filePath("raw"));
    volumes = "D=" + QFile::encodeName(root.filePath("volD")) + "\n";
}

void TestConcurrency::cleanupTestCase()
{
    if (simulatedDriverTable().setDriverOption)
        setOption(ARVEX_OPTION_SIM_FRAME_US, 10000);
}

void TestConcurrency::ownerLoop(QCameraMonitor &monitor, const std::atomic<bool> &stop,
                                bool restart)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(stressSeconds());
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
        switch (i % 8) {
        case 0:
            if (monitor.monitorMode() == CameraMode)
                monitor.enumerateCameras();
            break;
        case 1: monitor.setTransferOptions(i % 5, i % 3); break;
        case 2: monitor.setLogEnabled(i % 16 < 8); break;
        case 3: (void)monitor.cameraTable(); (void)monitor.openRawFileCount(); break;
        case 4: (void)monitor.currentStatus(); (void)monitor.imageBufferCapacity(); break;
        case 5:
            if (i % 40 == 5)
                monitor.calibrateCamera(0);
            break;
        case 6:
            if (restart && i % 200 == 6) {
                monitor.stopServer();
                QVERIFY(monitor.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 0, 0));
            }
            break;
        default: break;
        }
        // Queued calibration requests and the log and status signals.
        QCoreApplication::processEvents();
        QThread::usleep(100);
    }
    Q_UNUSED(stop);
}

void TestConcurrency::ownerCallsDuringTraffic_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("queuedSignals");
    QTest::newRow("camera server") << int(CameraMode) << false;
    QTest::newRow("raw-file server") << int(RawFileMode) << false;
    QTest::newRow("camera server, window receivers") << int(CameraMode) << true;
    QTest::newRow("raw-file server, window receivers") << int(RawFileMode) << true;
}

void TestConcurrency::ownerCallsDuringTraffic()
{
    QFETCH(int, mode);
    QFETCH(bool, queuedSignals);
#ifdef ARVEX_UNDER_TSAN
    if (queuedSignals)
        QSKIP("TSan cannot see the hand-over inside Qt's event queue");
#endif
    QCameraMonitor monitor(simulatedDriverTable());
    monitor.setMode(MonitorMode(mode));
    monitor.setRecordingVolumes({RecordingVolume{QLatin1Char('D'), root.filePath("volD")}});
    QCOMPARE(setOption(ARVEX_OPTION_SIM_FRAME_US, kFrameUs), 0u);
    QCOMPARE(setOption(ARVEX_OPTION_RAW_FOLDER, uintptr_t(rawFolder.constData())), 0u);
    QCOMPARE(setOption(ARVEX_OPTION_VOLUMES, uintptr_t(volumes.constData())), 0u);
    // Received on this thread, as the window receives them.
    int lines = 0;
    int statuses = 0;
    if (queuedSignals) {
        connect(&monitor, &QCameraMonitor::log, this, [&](const QString &) { ++lines; });
        connect(&monitor, &QCameraMonitor::statusChanged, this, [&](int) { ++statuses; });
    }
    QVERIFY(startOnFreePort(monitor, kPortSeed));
    monitor.setTransferOptions(0, 0);

    std::atomic<bool> stop{false};
    Traffic traffic;
    std::thread client(runClient, mode == RawFileMode, monitor.listenPortNumber(), false,
                       queuedSignals, std::cref(stop), std::ref(traffic));
    ownerLoop(monitor, stop, false);
    stop = true;
    client.join();
    monitor.stopServer();
    QCoreApplication::processEvents();

    qInfo("%d requests answered, %d segments, %d log lines", traffic.answered.load(),
          traffic.segments.load(), lines);
    QCOMPARE(traffic.unanswered.load(), 0);
    QVERIFY2(traffic.answered > 20, qPrintable(QString::number(traffic.answered)));
    QVERIFY(traffic.segments > 0);
    QVERIFY(!queuedSignals || statuses > 0);
    QCOMPARE(monitor.currentStatus(), int(StatusDisabled));
    QCOMPARE(monitor.openRawFileCount(), 0);
}

void TestConcurrency::restartsDuringTraffic()
{
    QCameraMonitor monitor(simulatedDriverTable());
    monitor.setMode(CameraMode);
    monitor.setRecordingVolumes({RecordingVolume{QLatin1Char('D'), root.filePath("volD")}});
    QCOMPARE(setOption(ARVEX_OPTION_SIM_FRAME_US, kFrameUs), 0u);
    QCOMPARE(setOption(ARVEX_OPTION_VOLUMES, uintptr_t(volumes.constData())), 0u);
    QVERIFY(startOnFreePort(monitor, kPortSeed + 100));
    monitor.setTransferOptions(0, 0);

    std::atomic<bool> stop{false};
    Traffic traffic;
    std::thread client(runClient, false, monitor.listenPortNumber(), true, false,
                       std::cref(stop), std::ref(traffic));
    ownerLoop(monitor, stop, true);
    stop = true;
    client.join();

    // Still serving after every restart.
    LoopbackClient probe(kServer);
    const auto nop = probe.command(kServer, monitor.listenPortNumber(), CMD_NOP);
    QVERIFY(nop.has_value());
    QCOMPARE(int(replyResult(*nop)), 0);
    monitor.stopServer();
    QVERIFY(traffic.answered > 20);
}

QTEST_GUILESS_MAIN(TestConcurrency)
#include "tst_concurrency.moc"
