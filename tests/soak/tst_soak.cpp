// Soak on loopback: three clients read images without pause, from 127.0.0.1
// (the client library's reader), 127.0.0.2 and 127.0.0.3 (the soak's own
// reader), each losing a share of segments on purpose and asking for them
// again, while 127.0.0.4 sends garbage and both servers are stopped and
// started again and again. Every completed image must match the test pattern
// bit for bit; sockets on 127.0.0.9 that never send must receive nothing;
// the process ends with the threads and descriptors it started with.
// ARVEX_SOAK_SECONDS sets the length (default 20).
#include "drivertable.h"
#include "imagereader.h"
#include "loopbackclient.h"
#include "monitorkit.h"
#include "patterncheck.h"
#include "rawfile.h"
#include "soakreader.h"
#include "testpattern.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#include <sanitizer/common_interface_defs.h>
#define ARVEX_UNDER_TSAN 1
#endif
#endif

namespace {
constexpr quint16 kPortSeed = 28200;
const QHostAddress kServer(QStringLiteral("127.0.0.1"));
const QHostAddress kTrapAddress(QStringLiteral("127.0.0.9"));
constexpr int kClients = 3;

int soakSeconds()
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("ARVEX_SOAK_SECONDS", &ok);
    return ok && value > 0 ? value : 20;
}

int countEntries(const char *folder)
{
    return QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

// What the descriptors point at, for the message when their count is off.
QStringList descriptorTargets()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        char target[256] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(fd));
        const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
        targets << fd + QLatin1String(" -> ") + QString::fromLocal8Bit(target, int(qMax<ssize_t>(n, 0)));
    }
    return targets;
}

// ThreadSanitizer starts its symbolizer, a child process it talks to over two
// pipes, the first time a report or a suppression needs a stack: whether that
// happens before or during the soak is down to timing. Started here, it is
// part of what the process had before.
void startSanitizerSymbolizer()
{
#ifdef ARVEX_UNDER_TSAN
    char name[128];
    __sanitizer_symbolize_pc(reinterpret_cast<void *>(&startSanitizerSymbolizer), "%f", name,
                             sizeof name);
#endif
}

// A thread that QThread::wait() or join() saw end may still be in the
// kernel's list for a moment: the count once it stops falling (at most 5 s),
// or once it is down to `target`.
int settledCount(const char *folder, int target = 0)
{
    int last = countEntries(folder);
    for (int stable = 0, i = 0; stable < 4 && last > target && i < 100; ++i) {
        QThread::msleep(50);
        const int now = countEntries(folder);
        stable = now == last ? stable + 1 : 0;
        last = now;
    }
    return last;
}

// What one client saw.
struct Tally {
    std::atomic<int> complete{0};
    std::atomic<int> incomplete{0};  // failed, timed out or refused: allowed
    std::atomic<int> wrong{0};       // completed but not the pattern: a fault
    std::atomic<int> broken{0};      // the server broke the protocol: a fault
    std::atomic<int> resendRounds{0};
    std::atomic<int> dropped{0};
    QString firstProblem;            // written once, under problemMutex
};
std::mutex problemMutex;

void noteProblem(Tally &tally, const QString &problem)
{
    std::lock_guard<std::mutex> lock(problemMutex);
    if (tally.firstProblem.isEmpty())
        tally.firstProblem = problem;
}

struct Shared {
    std::atomic<bool> stop{false};
    quint16 portBase = 0;
    // The protocol serves one transfer at a time per server: a client that
    // asks for an image in between takes the resends away from the first.
    // Clients of one server take turns, image by image.
    std::mutex cameraTurn;
    std::mutex rawTurn;
    std::atomic<quint16> clientPorts[kClients + 1] = {};
    std::atomic<int> garbageSent{0};
};

// Drops about `percent` of the segments of the first send, a third of that
// in resend rounds; counts what it dropped.
auto dropper(quint32 seed, int percent, std::atomic<int> &dropped)
{
    auto random = std::make_shared<QRandomGenerator>(seed);
    return [random, percent, &dropped](uint32_t, int round) {
        const bool drop = int(random->bounded(100)) < (round == 0 ? percent : percent / 3);
        if (drop)
            ++dropped;
        return drop;
    };
}

// 127.0.0.1, through the client library.
void libraryClient(Shared &shared, Tally &tally)
{
    ClientSession session;
    SessionOptions options;
    options.server = kServer;
    options.portBase = shared.portBase;
    options.timeoutMs = 300;
    options.loopbackOnly = true;
    if (!session.start(options)) {
        noteProblem(tally, session.lastError().message);
        ++tally.broken;
        return;
    }
    shared.clientPorts[0] = session.localPort();
    ImageReader reader(session);
    ImageReadOptions read;
    read.packetSize = 1472;
    read.quietMs = 60;
    read.maxResendRounds = 8;
    read.discard = dropper(11, 8, tally.dropped);
    static const uint32_t depths[] = {8, 12, 16, 24, 48};
    bool open = false;
    for (uint32_t i = 0; !shared.stop; ++i) {
        if (!open) {
            open = session.enumerateCameras() && session.openCamera(16)
                   && session.command(Channel::Camera, CMD_SET_SETTING, {109, 320})
                   && session.command(Channel::Camera, CMD_SET_SETTING, {110, 200});
            if (!open)
                continue;
        }
        session.command(Channel::Camera, CMD_SET_SETTING, {3, depths[i % 5]});
        std::unique_lock<std::mutex> turn(shared.cameraTurn);
        const auto image = reader.read(read);
        turn.unlock();
        if (!image) {
            ++tally.incomplete;
            open = false;
            continue;
        }
        tally.resendRounds += image->resendRounds;
        const ImageDescription &d = image->description;
        if (isSomePatternFrame(image->data, d.width, d.height, d.bitsPerPixel)) {
            ++tally.complete;
        } else {
            ++tally.wrong;
            noteProblem(tally, QStringLiteral("%1 x %2 x %3 bits is not the pattern")
                                   .arg(d.width).arg(d.height).arg(d.bitsPerPixel));
        }
    }
}

// 127.0.0.2, the soak reader on the camera server.
void cameraClient(Shared &shared, Tally &tally)
{
    LoopbackClient client(QHostAddress(QStringLiteral("127.0.0.2")));
    shared.clientPorts[1] = client.port();
    const quint16 port = shared.portBase;
    SoakReadOptions read;
    read.packetSize = 9000;
    read.drop = dropper(22, 10, tally.dropped);
    bool open = false;
    while (!shared.stop) {
        if (!open) {
            const uint16_t id = client.nextId();
            client.send(kServer, port, enumerateDatagram(id));
            const auto reply = client.waitForReply(id, 300);
            const auto ack = reply ? client.command(kServer, port, CMD_OPEN, {16}, 300) : reply;
            open = ack && replyResult(*ack) == 0;
            if (!open)
                continue;
        }
        std::unique_lock<std::mutex> turn(shared.cameraTurn);
        const SoakImage image = readSoakImage(client, kServer, port, read);
        turn.unlock();
        tally.resendRounds += image.rounds;
        switch (image.outcome) {
        case SoakImage::Outcome::Complete:
            if (isSomePatternFrame(image.data, image.width, image.height, image.bitsPerPixel)) {
                ++tally.complete;
            } else {
                ++tally.wrong;
                noteProblem(tally, QStringLiteral("live %1 x %2 x %3 bits is not the pattern")
                                       .arg(image.width).arg(image.height).arg(image.bitsPerPixel));
            }
            break;
        case SoakImage::Outcome::Broken:
            ++tally.broken;
            noteProblem(tally, image.problem);
            break;
        default:
            ++tally.incomplete;
            open = false;
            client.drain(60);
            break;
        }
    }
}

struct RawFileInfo {
    uint32_t width = 0, height = 0, bits = 0, frames = 0;
};

// 127.0.0.3, the soak reader on the raw-file server: frame k of a file is
// pattern frame k.
void rawFileClient(Shared &shared, Tally &tally, const QVector<RawFileInfo> &files)
{
    LoopbackClient client(QHostAddress(QStringLiteral("127.0.0.3")));
    shared.clientPorts[2] = client.port();
    const quint16 port = quint16(shared.portBase + 1);
    SoakReadOptions read;
    read.source = 2;
    read.drop = dropper(33, 10, tally.dropped);
    QRandomGenerator random(44);
    bool open = false;
    while (!shared.stop) {
        if (!open) {
            const uint16_t id = client.nextId();
            client.send(kServer, port, enumerateDatagram(id));
            open = client.waitForReply(id, 300).has_value();
            for (int f = 0; open && f < files.size(); ++f) {
                const auto ack = client.command(kServer, port, CMD_OPEN, {0, uint32_t(f)}, 300);
                open = ack && replyResult(*ack) == 0;
            }
            if (!open)
                continue;
        }
        const int f = int(random.bounded(files.size()));
        read.selector = uint8_t(f);
        read.index = random.bounded(files[f].frames);
        std::unique_lock<std::mutex> turn(shared.rawTurn);
        const SoakImage image = readSoakImage(client, kServer, port, read);
        turn.unlock();
        tally.resendRounds += image.rounds;
        switch (image.outcome) {
        case SoakImage::Outcome::Complete:
            if (image.width == files[f].width && image.height == files[f].height
                && image.bitsPerPixel == files[f].bits
                && isPatternFrame(image.data, image.width, image.height, image.bitsPerPixel,
                                  read.index)) {
                ++tally.complete;
            } else {
                ++tally.wrong;
                noteProblem(tally, QStringLiteral("raw file %1 frame %2 is not pattern frame %2")
                                       .arg(f).arg(read.index));
            }
            break;
        case SoakImage::Outcome::Broken:
            ++tally.broken;
            noteProblem(tally, image.problem);
            break;
        default:
            ++tally.incomplete;
            open = false;
            client.drain(60);
            break;
        }
    }
}

// 127.0.0.4: garbage of every kind to both servers, except requests that
// change what the readers rely on (open, close, settings, image requests).
void garbageSender(Shared &shared)
{
    LoopbackClient client(QHostAddress(QStringLiteral("127.0.0.4")));
    shared.clientPorts[3] = client.port();
    QRandomGenerator random(55);
    static const uint32_t stateChanging[] = {CMD_OPEN, CMD_CLOSE, CMD_READ_DEFAULT_SETTINGS,
                                             CMD_REFRESH_CAMERA_SETTINGS, CMD_SET_SETTING,
                                             CMD_READ_IMAGE, CMD_MEMORY_START_GRAB, CMD_RESET,
                                             CMD_SAVE_RAW_FILE, CMD_READ_SETTINGS_FROM_FLASH,
                                             CMD_WRITE_TO_DISK, CMD_CALIBRATE};
    static const uint8_t types[] = {PKT_ENUMERATE, PKT_RESEND, PKT_COMMAND, PKT_RAW_INFO, 0, 2, 255};
    QByteArray datagram;
    while (!shared.stop) {
        const int kind = int(random.bounded(10));
        const int length = kind == 0 ? int(random.bounded(9000)) : int(random.bounded(64));
        datagram.resize(length);
        for (int i = 0; i < length; ++i)
            datagram[i] = char(random.bounded(256));
        if (length > 3 && kind > 3)
            datagram[3] = char(types[random.bounded(int(sizeof types))]);
        if (length >= 12 && uint8_t(datagram[3]) == PKT_COMMAND) {
            uint32_t sub = kind > 6 ? random.bounded(80) : random.generate();
            if (std::find(std::begin(stateChanging), std::end(stateChanging), sub)
                != std::end(stateChanging))
                sub = CMD_NOP;
            qToLittleEndian<uint32_t>(sub, datagram.data() + 8);
        }
        client.send(kServer, quint16(shared.portBase + random.bounded(2)), datagram);
        ++shared.garbageSent;
        client.drain(1);
    }
}

// Stops and joins the client threads however the test leaves its scope.
class ClientThreads
{
public:
    explicit ClientThreads(std::atomic<bool> &stopFlag) : stop(stopFlag) {}
    ~ClientThreads() { joinAll(); }
    void add(std::thread thread) { threads.push_back(std::move(thread)); }
    void joinAll()
    {
        stop = true;
        for (std::thread &t : threads) {
            if (t.joinable())
                t.join();
        }
    }

private:
    std::atomic<bool> &stop;
    std::vector<std::thread> threads;
};

}  // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readersGarbageAndRestarts();

private:
    QTemporaryDir root;
    QByteArray rawFolder;
    QVector<RawFileInfo> files;
};

void TestSoak::initTestCase()
{
    if (!simulatedDriverTable().setDriverOption)
        QSKIP("the simulated driver is not built in");
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(root.filePath("raw")));
    // Sorted by path: the list index is the file's number.
    files = {RawFileInfo{200, 100, 12, 8}, RawFileInfo{64, 48, 48, 4}, RawFileInfo{333, 7, 8, 5}};
    for (int f = 0; f < files.size(); ++f) {
        RawFileWriter writer;
        QString error;
        const RawFileHeader header = makeRawFileHeader(files[f].width, files[f].height, files[f].bits);
        QVERIFY(writer.create(root.filePath(QStringLiteral("raw/take%1.raw").arg(f)), header, &error));
        std::vector<uint8_t> frame(header.frameBytes);
        for (uint32_t k = 0; k < files[f].frames; ++k) {
            renderTestPattern(frame.data(), files[f].width, files[f].height, files[f].bits, k);
            QVERIFY(writer.appendFrame(frame.data(), &error));
        }
    }
    rawFolder = QFile::encodeName(root.filePath("raw"));
    const DriverTable &driver = simulatedDriverTable();
    QCOMPARE(driver.setDriverOption(nullptr, ARVEX_OPTION_RAW_FOLDER,
                                    uintptr_t(rawFolder.constData()), 0), 0u);
    QCOMPARE(driver.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0), 0u);
}

void TestSoak::cleanupTestCase()
{
    if (simulatedDriverTable().setDriverOption)
        simulatedDriverTable().setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 10000, 0);
}

void TestSoak::readersGarbageAndRestarts()
{
    // One round of everything first: what Qt and the driver set up once per
    // process is not a leak.
    {
        QCameraMonitor camera(simulatedDriverTable());
        QCameraMonitor raw(simulatedDriverTable());
        raw.setMode(RawFileMode);
        QVERIFY(startPairOnFreePort(camera, raw, kPortSeed));
        LoopbackClient warm(kServer);
        QVERIFY(warm.command(kServer, camera.listenPortNumber(), CMD_NOP).has_value());
        camera.stopServer();
        raw.stopServer();
    }
    startSanitizerSymbolizer();
    const int fdsBefore = settledCount("/proc/self/fd");
    const QStringList targetsBefore = descriptorTargets();
    const int threadsBefore = settledCount("/proc/self/task");

    Shared shared;
    Tally tallies[kClients];
    int restarts = 0;
    int trapped = 0;
    {
        QCameraMonitor camera(simulatedDriverTable());
        QCameraMonitor raw(simulatedDriverTable());
        raw.setMode(RawFileMode);
        QVERIFY(startPairOnFreePort(camera, raw, kPortSeed + 100));
        shared.portBase = camera.listenPortNumber();

        ClientThreads threads(shared.stop);
        threads.add(std::thread(libraryClient, std::ref(shared), std::ref(tallies[0])));
        threads.add(std::thread(cameraClient, std::ref(shared), std::ref(tallies[1])));
        threads.add(std::thread(rawFileClient, std::ref(shared), std::ref(tallies[2]), files));
        threads.add(std::thread(garbageSender, std::ref(shared)));

        // Sockets that never send, on the ports in play: nothing may reach
        // them. The client library's socket listens on every address, so its
        // port has no trap of its own.
        QVector<quint16> ports{shared.portBase, quint16(shared.portBase + 1)};
        QDeadlineTimer known(5000);
        for (int c = 0; c <= kClients; ++c) {
            while (shared.clientPorts[c] == 0 && !known.hasExpired())
                QThread::msleep(5);
            if (c != 0)
                ports << shared.clientPorts[c];
        }
        std::vector<std::unique_ptr<QUdpSocket>> traps;
        for (quint16 port : ports) {
            traps.push_back(std::make_unique<QUdpSocket>());
            QVERIFY2(traps.back()->bind(kTrapAddress, port, QAbstractSocket::DontShareAddress),
                     qPrintable(QString::number(port)));
        }

        QRandomGenerator random(66);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(soakSeconds());
        while (std::chrono::steady_clock::now() < end) {
            QThread::msleep(800 + random.bounded(1200));
            camera.stopServer();
            raw.stopServer();
            // Exclusive binds: the ports are free again once the workers ended.
            QVERIFY(camera.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
            QVERIFY(raw.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0));
            ++restarts;
            QCoreApplication::processEvents();
        }
        threads.joinAll();
        camera.stopServer();
        raw.stopServer();
        for (auto &trap : traps) {
            while (trap->hasPendingDatagrams() || trap->waitForReadyRead(0)) {
                trap->receiveDatagram();
                ++trapped;
            }
        }
    }
    QCoreApplication::processEvents();

    const char *names[kClients] = {"127.0.0.1 (client library)", "127.0.0.2", "127.0.0.3 (raw files)"};
    for (int c = 0; c < kClients; ++c) {
        qInfo("%s: %d complete, %d incomplete, %d resend rounds, %d segments dropped", names[c],
              tallies[c].complete.load(), tallies[c].incomplete.load(),
              tallies[c].resendRounds.load(), tallies[c].dropped.load());
    }
    qInfo("%d restarts, %d garbage datagrams", restarts, shared.garbageSent.load());
    for (int c = 0; c < kClients; ++c) {
        QVERIFY2(tallies[c].wrong == 0 && tallies[c].broken == 0,
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(names[c]), tallies[c].firstProblem)));
        QVERIFY2(tallies[c].complete > 0, names[c]);
    }
    QCOMPARE(trapped, 0);
    const int fdsAfter = settledCount("/proc/self/fd", fdsBefore);
    if (fdsAfter != fdsBefore)
        qInfo().noquote() << "descriptors before:" << targetsBefore.join(QLatin1String(", "))
                          << "\nafter:" << descriptorTargets().join(QLatin1String(", "));
    QCOMPARE(fdsAfter, fdsBefore);
    QCOMPARE(settledCount("/proc/self/task", threadsBefore), threadsBefore);
}

int main(int argc, char **argv)
{
    // Qt Test ends a test function after 5 minutes; a longer soak needs more.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 120) * 1000));
    QCoreApplication app(argc, argv);
    TestSoak test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soak.moc"
