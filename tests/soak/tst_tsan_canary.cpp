// Proof that the ThreadSanitizer run sees the races it is there to find:
// each case plants one real race of a kind the server could have and runs it
// in a child process, which TSan must report: the worker (a QThread started
// by Qt's uninstrumented library) against the owner's thread, and a driver
// thread's callback against the owner's thread. Built and run only in the
// TSan build.
#include "drivertable.h"
#include "loopbackclient.h"
#include "monitorkit.h"
#include "replysink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <atomic>
#include <thread>

namespace {
constexpr quint16 kPortSeed = 28150;
const QHostAddress kServer(QStringLiteral("127.0.0.1"));

// The planted races: plain ints written from two threads.
int workerShared = 0;
int callbackShared = 0;

__attribute__((noinline)) void canaryWorkerWrite() { workerShared = workerShared + 1; }
__attribute__((noinline)) void canaryOwnerWrite() { workerShared = workerShared + 2; }
__attribute__((noinline)) void canaryCallbackWrite() { callbackShared = callbackShared + 1; }
__attribute__((noinline)) void canaryOwnerReadsCallback() { callbackShared = callbackShared + 2; }

// Takes the place of the socket: called on the worker for every reply.
class CanarySink : public ReplySink
{
public:
    void sendDatagram(const uint8_t *, size_t, const QHostAddress &, quint16) override
    {
        canaryWorkerWrite();
    }
};

void sendNops(quint16 port, const std::atomic<bool> &stop)
{
    LoopbackClient client(QHostAddress(QStringLiteral("127.0.0.2")));
    // The sink swallows the replies: each wait runs into its time-out.
    while (!stop)
        client.command(kServer, port, CMD_NOP, {}, 20);
}

int runCase(const QString &name)
{
    if (name == QLatin1String("callback")) {
        // The driver directly, with a callback of the canary's own.
        const DriverTable &driver = simulatedDriverTable();
        driver.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0);
        driver.initializeDriver(nullptr);
        ArvexHandle handle = nullptr;
        if (driver.openDevice(0x100, &handle) != 0)
            return 3;
        driver.calibrateDevice(handle, 0, [](void *, uint32_t, uint32_t) { canaryCallbackWrite(); },
                               nullptr);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 300)
            canaryOwnerReadsCallback();
        driver.closeDevice(handle);
        driver.shutdownDriver();
        return 0;
    }
    QCameraMonitor monitor(simulatedDriverTable());
    CanarySink sink;
    monitor.setReplySink(&sink);
    if (!startOnFreePort(monitor, kPortSeed))
        return 3;
    std::atomic<bool> stop{false};
    std::thread client(sendNops, monitor.listenPortNumber(), std::cref(stop));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 300)
        canaryOwnerWrite();
    stop = true;
    client.join();
    monitor.stopServer();
    return 0;
}

}  // namespace

class TestTsanCanary : public QObject
{
    Q_OBJECT

private slots:
    void plantedRaceIsReported_data();
    void plantedRaceIsReported();
};

void TestTsanCanary::plantedRaceIsReported_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("function");
    QTest::newRow("worker against the owner") << "worker" << "canaryOwnerWrite";
    QTest::newRow("driver callback against the owner") << "callback" << "canaryCallbackWrite";
}

void TestTsanCanary::plantedRaceIsReported()
{
    QFETCH(QString, name);
    QFETCH(QString, function);
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--case"), name});
    QVERIFY(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    QVERIFY2(output.contains(QLatin1String("WARNING: ThreadSanitizer: data race"))
                 && output.contains(function),
             qPrintable(output.right(2000)));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--case")
        return runCase(QString::fromLocal8Bit(argv[2]));
    TestTsanCanary test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tsan_canary.moc"
