// Proof that the ThreadSanitizer run sees the races it is there to find:
// each case plants one real race of a kind the server could have and runs it
// in a child process, which TSan must report: the worker (a QThread started
// by Qt's uninstrumented library) against the owner's thread, the same inside
// a Qt Test function (where the suppressions of tsan.supp are in force),
// and a driver thread's callback against the owner's thread. Built and run
// only in the TSan build.
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

// TSan tells a thread's accesses apart only across its synchronisation
// events; an owner thread that never synchronises (no event loop, no lock)
// would look as if every write came before the thread it started. The
// owner's loops below publish a counter now and then, as any real owner does.
// (Rarely: each one costs TSan an epoch, and running out of epochs resets its
// history.)
std::atomic<int> ownerTicks{0};
void ownerTick()
{
    static int calls = 0;
    if (++calls % 1024 == 0)
        ownerTicks.fetch_add(1, std::memory_order_release);
}

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
        client.command(kServer, port, CMD_NOP, {}, 2);
}

// The worker writes on every reply while the owner's thread writes too.
bool runWorkerRace()
{
    QCameraMonitor monitor(simulatedDriverTable());
    CanarySink sink;
    monitor.setReplySink(&sink);
    if (!startOnFreePort(monitor, kPortSeed))
        return false;
    std::atomic<bool> stop{false};
    std::thread client(sendNops, monitor.listenPortNumber(), std::cref(stop));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 300) {
        canaryOwnerWrite();
        ownerTick();
    }
    stop = true;
    client.join();
    monitor.stopServer();
    return true;
}

// The same race inside a Qt Test function, where the suppressions for Qt
// Test's own threads apply.
class QtTestCase : public QObject
{
    Q_OBJECT

private slots:
    void race() { QVERIFY(runWorkerRace()); }
};

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
        while (timer.elapsed() < 300) {
            canaryOwnerReadsCallback();
            ownerTick();
        }
        driver.closeDevice(handle);
        driver.shutdownDriver();
        return 0;
    }
    if (name == QLatin1String("worker in a test function")) {
        QtTestCase testCase;
        char program[] = "tst_tsan_canary";
        char *argv[] = {program, nullptr};
        return QTest::qExec(&testCase, 1, argv);
    }
    return runWorkerRace() ? 0 : 3;
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
    QTest::newRow("worker in a test function") << "worker in a test function"
                                               << "canaryOwnerWrite";
}

void TestTsanCanary::plantedRaceIsReported()
{
    QFETCH(QString, name);
    QFETCH(QString, function);
    // TSan does not catch every race on every run (its history of earlier
    // accesses is bounded): a few runs, of which one must report it.
    QString output;
    for (int attempt = 0; attempt < 5; ++attempt) {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--case"), name});
        QVERIFY(child.waitForFinished(60000));
        output = QString::fromLocal8Bit(child.readAll());
        if (output.contains(QLatin1String("WARNING: ThreadSanitizer: data race"))
            && output.contains(function))
            return;
    }
    QFAIL(qPrintable(QStringLiteral("no report in five runs:\n") + output.right(2000)));
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
