// libFuzzer target: sequences of datagrams from loopback senders, mixed with
// the owner's calls, through the real dispatch of a monitor (camera or
// raw-file mode, chosen by the input) on the simulated camera. The sink, the
// driver proxy and the file-system check of FuzzWorld turn every broken
// promise into a crash; the sanitizers catch the rest.
#include "checkingsink.h"
#include "fuzzinput.h"
#include "fuzzworld.h"

#include "protocol.h"
#include "qcameramonitor.h"

#include <QCoreApplication>
#include <QThread>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// True where the segment pacing's wait is replaced by nothing (nopacing.cpp).
bool fuzzPacingSkipped();

namespace {

constexpr quint32 kLoopback = 0x7F000001;
constexpr quint32 kLoopbackMask = 0xFF000000;
constexpr qint64 kMac = 0x001122334455LL;
constexpr int kMtu = 1500;
constexpr int kFormats[4] = {0, 1, 2, 5};
// Every enumeration scans the raw-file folder and the volumes again, the
// slowest thing an input can ask for, and four bytes are enough to ask: past
// this many per input, further ones are skipped.
constexpr int kMaxEnumerations = 8;

bool isEnumeration(const FuzzRecord &record)
{
    if (record.isAction)
        return record.action == OwnerAction::EnumerateCameras
               || record.action == OwnerAction::EnumerateRawFiles;
    return record.length > 3 && record.data[3] == PKT_ENUMERATE;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// ARVEX_FUZZ_VERBOSE=1: the monitor's log lines (logging forced on) and the
// number of datagrams each input made it send, for reading a reproducer.
bool verbose()
{
    static const bool on = std::getenv("ARVEX_FUZZ_VERBOSE") != nullptr;
    return on;
}

void runOwnerAction(QCameraMonitor &monitor, OwnerAction action, int *format)
{
    switch (action) {
    case OwnerAction::EnumerateCameras:
        monitor.enumerateCameras();
        break;
    case OwnerAction::EnumerateRawFiles:
        monitor.enumerateRawFiles();
        break;
    case OwnerAction::DeliverQueued:
        QCoreApplication::sendPostedEvents();
        break;
    case OwnerAction::Restart:
        monitor.stopServer();
        monitor.startOffline(kLoopback, kLoopbackMask, kMac, kMtu, 0, *format);
        break;
    case OwnerAction::TransferOptions:
        for (int i = 0; i < 4; ++i) {
            if (kFormats[i] == *format) {
                *format = kFormats[(i + 1) % 4];
                break;
            }
        }
        monitor.setTransferOptions(0, *format);
        break;
    case OwnerAction::ReadTables:
        (void)monitor.cameraTable();
        (void)monitor.openRawFileCount();
        (void)monitor.currentStatus();
        (void)monitor.imageBufferCapacity();
        break;
    case OwnerAction::ToggleLog:
        monitor.setLogEnabled(!monitor.isLogEnabled());
        break;
    case OwnerAction::LetDriverRun:
        QThread::usleep(200);
        break;
    case OwnerAction::Calibrate:
        monitor.calibrateCamera(0);
        break;
    case OwnerAction::Count:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Never destroyed: at exit it would outlive what it refers to.
    static int argc = 1;
    static char name[] = "fuzz_monitor";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
    // The simulator warns about the broken raw file on every scan.
    qInstallMessageHandler(quiet);
    FuzzWorld::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzWorld &world = FuzzWorld::instance();
    const FuzzConfig config = decodeFuzzConfig(data, size);
    world.beginInput(config);
    int format = config.imageFormat;
    {
        CheckingSink sink;
        QCameraMonitor monitor(world.driver());
        monitor.setMode(config.rawFileMode ? RawFileMode : CameraMode);
        monitor.setRecordingVolumes(world.volumes());
        monitor.setReplySink(&sink);
        monitor.setLogEnabled(config.log || verbose());
        if (verbose())
            QObject::connect(&monitor, &QCameraMonitor::plainLog, [](const QString &line) {
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
            });
        monitor.startOffline(kLoopback, kLoopbackMask, kMac, kMtu, 0, format);

        FuzzInputReader reader(data, size);
        FuzzRecord record;
        bool afterResend = false;
        int enumerations = 0;
        while (reader.next(&record)) {
            if (isEnumeration(record) && ++enumerations > kMaxEnumerations)
                continue;
            if (record.isAction) {
                runOwnerAction(monitor, record.action, &format);
                continue;
            }
            // Resend requests raise the segment delay and only a final one
            // lowers it again. Where the busy-wait is real (the replay test)
            // the owner sets it back, so that a run of them cannot turn into
            // seconds of waiting per input.
            if (afterResend && !fuzzPacingSkipped())
                monitor.setTransferOptions(0, format);
            const QHostAddress sender = fuzzSenderAddress(record.sender);
            const quint16 port = fuzzSenderPort(record.sender);
            sink.beginRequest(record.data, record.length, sender, port);
            monitor.handleDatagram(record.data, record.length, sender, port);
            sink.endRequest();
            afterResend = record.length > 3 && record.data[3] == PKT_RESEND;
        }
        monitor.stopServer();
        if (verbose())
            std::fprintf(stderr, "fuzz: %llu datagrams sent\n",
                         static_cast<unsigned long long>(sink.sent()));
    }
    // Leftover queued calls died with the monitor; nothing else is queued.
    QCoreApplication::sendPostedEvents();
    world.endInput();
    return 0;
}
