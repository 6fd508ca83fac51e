// Recording end to end on the simulated camera, both real servers of the
// headless runner on 127.0.0.1: write-to-disk into a folder of one or two
// volumes, stop, then the raw-file server lists the recording, opens it and
// the frames it sends match the test pattern; small recordings are removed at
// stop; a saved memory recording's announced folder becomes the raw-file
// folder; hostile paths change nothing on disk.
#include "clientsession.h"
#include "w2drequests.h"

#include "adapters.h"
#include "cameradevice.h"
#include "drivertable.h"
#include "headless.h"
#include "loopbackservers.h"
#include "qcameramonitor.h"
#include "rawfile.h"
#include "testpattern.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Ports of this program: 33500 and up (tests/w2d/CMakeLists.txt).
constexpr quint16 kPortSeed = 33500;
constexpr uint32_t kSettingBitsPerPixel = 3;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;
constexpr int kRecordTimeoutMs = 20000;

QStringList tree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// Frame `index` of the raw file that `selector` names, read over the wire:
// CMD_READ_IMAGE source 2 on the raw-file server, raw pixels in segments.
std::optional<QByteArray> readFrame(ClientSession &session, uint8_t selector, uint32_t index,
                                    uint32_t expectedBytes)
{
    constexpr uint32_t kPacketSize = 60000;
    constexpr uint32_t kPayload = kPacketSize - kSegmentHeaderSize;
    QByteArray image(int(expectedBytes), '\0');
    const uint32_t count = (expectedBytes + kPayload - 1) / kPayload;
    QVector<bool> arrived(int(count), false);
    int missing = int(count);
    session.setSegmentHandler([&](const SegmentHeader &h, const uint8_t *payload, size_t size) {
        if (h.index >= count || arrived[int(h.index)] || h.length > size
            || size_t(h.index) * kPayload + h.length > size_t(expectedBytes))
            return;
        std::memcpy(image.data() + size_t(h.index) * kPayload, payload, h.length);
        arrived[int(h.index)] = true;
        --missing;
    });
    const auto reply = session.command(Channel::RawFile, CMD_READ_IMAGE,
                                       {2, index, session.localPort(), 0, kPacketSize}, selector);
    std::optional<QByteArray> result;
    if (reply && !reply->isAck()) {
        const CommandReply info = reply->command();
        const bool shaped = info.valid && info.value(0) == IMAGE_FORMAT_RAW
                            && info.value(1) == expectedBytes;
        // Loopback rarely drops; when it does, the missing segments are asked for once.
        if (shaped && !session.waitForSegments(3000, [&] { return missing == 0; })) {
            QVector<uint16_t> lost;
            for (uint32_t i = 0; i < count; ++i)
                if (!arrived[int(i)])
                    lost << uint16_t(i);
            std::vector<uint8_t> resend(16 + 2 * size_t(lost.size()));
            const size_t n = buildResendRequest(resend.data(), session.nextRequestId(),
                                                lost.constData(), uint32_t(lost.size()), true,
                                                selector);
            session.send(Channel::RawFile, resend.data(), n);
            session.waitForSegments(3000, [&] { return missing == 0; });
        }
        if (shaped && missing == 0)
            result = image;
    }
    session.setSegmentHandler(nullptr);
    return result;
}

struct Listed {
    int index = -1;
    DiscoveryReply info;
};

}  // namespace

class TestW2dEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void recordingServed_data();
    void recordingServed();
    void smallRecordingRemoved();
    void rawFolderAndSubfolders();
    void announcedFolderServed();
    void hostilePaths_data();
    void hostilePaths();

private:
    bool setFormat(uint32_t width, uint32_t height, uint32_t bits);
    // Starts, waits for `frames` frames, stops; the final progress values.
    std::array<uint32_t, 4> record(const W2dStart &start, uint32_t frames);
    QVector<Listed> listRawFiles();

    QTemporaryDir temp;
    QString root;
    RunOptions options;
    std::unique_ptr<HeadlessServers> servers;
    std::unique_ptr<ClientSession> session;
};

void TestW2dEndToEnd::initTestCase()
{
    QVERIFY(temp.isValid());
    root = QFileInfo(temp.path()).canonicalFilePath();
    options.downloadFolder = root + QStringLiteral("/downloads");
    options.volumes = {{'D', root + QStringLiteral("/d")}, {'E', root + QStringLiteral("/e")}};
    QString error;
    servers = startLoopbackServers(&options, kPortSeed, &error);
    if (!servers && error == QLatin1String(kNoLoopbackAdapter))
        QSKIP(kNoLoopbackAdapter);
    QVERIFY2(servers, qPrintable(error));
    // One frame per millisecond (the simulator's fastest write-to-disk).
    QCOMPARE(activeDriver().setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0), 0u);

    SessionOptions o;
    o.server = QHostAddress(QHostAddress::LocalHost);
    o.portBase = options.portBase;
    o.timeoutMs = 5000;
    o.loopbackOnly = true;
    session = std::make_unique<ClientSession>();
    QVERIFY(session->start(o));
    QVERIFY2(session->enumerateCameras(), qPrintable(session->lastError().message));
    QVERIFY2(session->openCamera(64), qPrintable(session->lastError().message));
}

void TestW2dEndToEnd::cleanupTestCase()
{
    if (session)
        session->close(Channel::Camera);
    session.reset();
    servers.reset();
    activeDriver().setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 10000, 0);
}

void TestW2dEndToEnd::init()
{
    // Every test starts from the folder the runner began with.
    emit servers->cameraServer()->rawFolderChange(options.downloadFolder.value());
    QTRY_COMPARE(servers->downloadFolder(), options.downloadFolder.value());
}

bool TestW2dEndToEnd::setFormat(uint32_t width, uint32_t height, uint32_t bits)
{
    for (const auto &setting : {std::pair<uint32_t, uint32_t>{kSettingWidth, width},
                                {kSettingHeight, height},
                                {kSettingBitsPerPixel, bits}}) {
        const auto reply = session->command(Channel::Camera, CMD_SET_SETTING,
                                            {setting.first, setting.second});
        if (!reply || reply->header.resultOrSelector != RESULT_OK)
            return false;
    }
    return true;
}

std::array<uint32_t, 4> TestW2dEndToEnd::record(const W2dStart &start, uint32_t frames)
{
    ClientError error;
    if (!startWriteToDisk(*session, start, &error)) {
        qWarning("start: %s", qPrintable(error.message));
        return {};
    }
    QDeadlineTimer deadline(kRecordTimeoutMs);
    std::optional<std::array<uint32_t, 4>> progress;
    do {
        QTest::qWait(5);
        progress = readW2dProgress(*session, &error);
    } while (progress && (*progress)[0] < frames && !deadline.hasExpired());
    if (!stopWriteToDisk(*session, &error)) {
        qWarning("stop: %s", qPrintable(error.message));
        return {};
    }
    // After the stop the driver has reported its last frame.
    progress = readW2dProgress(*session, &error);
    return progress ? *progress : std::array<uint32_t, 4>{};
}

QVector<Listed> TestW2dEndToEnd::listRawFiles()
{
    QVector<Listed> listed;
    const auto count = session->enumerateRawFiles();
    if (!count)
        return listed;
    for (int32_t i = 0; i < *count; ++i) {
        const auto info = session->rawInfo(i);
        if (!info)
            return {};
        listed.append({int(i), *info});
    }
    return listed;
}

void TestW2dEndToEnd::recordingServed_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("volumes");
    QTest::addColumn<uint32_t>("width");
    QTest::addColumn<uint32_t>("height");
    QTest::addColumn<uint32_t>("bits");
    QTest::addColumn<uint32_t>("frames");  // at least this many, so that every file has 1 MiB

    QTest::newRow("one volume, 16-bit") << "Served1\\Take" << "D" << 640u << 512u << 16u << 3u;
    QTest::newRow("two volumes, round robin")
        << "Served2\\Take" << "DE" << 1280u << 1024u << 8u << 4u;
    QTest::newRow("two volumes, RGB") << "Served3/Take" << "ED" << 640u << 480u << 24u << 6u;
}

void TestW2dEndToEnd::recordingServed()
{
    QFETCH(QString, folder);
    QFETCH(QString, volumes);
    QFETCH(uint32_t, width);
    QFETCH(uint32_t, height);
    QFETCH(uint32_t, bits);
    QFETCH(uint32_t, frames);

    QVERIFY(setFormat(width, height, bits));
    W2dStart start;
    start.folder = folder;
    start.volumes = volumes;
    const auto progress = record(start, frames);
    const uint32_t total = progress[0];
    QVERIFY2(total >= frames, qPrintable(QString::number(total)));
    QCOMPARE(progress[1], uint32_t(volumes.size()));

    const QString relative = QString(folder).replace('\\', '/') + QStringLiteral(".00.raw");
    const QVector<Listed> listed = listRawFiles();
    QVector<Listed> ours;
    for (const Listed &entry : listed) {
        if (QByteArray(entry.info.text) == relative.toLatin1())
            ours.append(entry);
    }
    QCOMPARE(ours.size(), volumes.size());
    uint32_t framesListed = 0;
    for (const Listed &entry : ours) {
        const uint32_t slot = entry.info.word212;  // first frame: the volume's slot
        QVERIFY(slot < uint32_t(volumes.size()));
        QCOMPARE(entry.info.word208, uint32_t(volumes.size()));  // frame stride
        QCOMPARE(entry.info.word56, width);
        QCOMPARE(entry.info.word60, height);
        QCOMPARE(entry.info.word68, bits);
        const uint32_t expectedFrames = (total - slot + uint32_t(volumes.size()) - 1)
                                        / uint32_t(volumes.size());
        QCOMPARE(entry.info.word32, expectedFrames);
        framesListed += entry.info.word32;

        const QString file = root + QLatin1Char('/')
                             + QString(volumes.at(int(slot))).toLower() + QLatin1Char('/') + relative;
        QVERIFY2(QFileInfo(file).size() >= 1048576, qPrintable(file));

        QVERIFY2(session->openRawFile(entry.index), qPrintable(session->lastError().message));
        const uint8_t selector = uint8_t(entry.index);
        const uint32_t bytes = imageBytesFor(width, height, bits);
        for (uint32_t k : {0u, 1u, entry.info.word32 - 1}) {
            if (k >= entry.info.word32)
                continue;
            const auto image = readFrame(*session, selector, k, bytes);
            QVERIFY2(image, qPrintable(session->lastError().message));
            // Recording frame j went to volume j mod count, as frame j / count.
            const uint32_t n = slot + k * uint32_t(volumes.size());
            QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->constData()),
                                             size_t(image->size()), width, height, bits, n),
                     int64_t(-1));
        }
        // Past the recording's frames: a read failure, no image.
        const auto past = session->command(Channel::RawFile, CMD_READ_IMAGE,
                                           {2, entry.info.word32, session->localPort(), 0, 60000},
                                           selector);
        QVERIFY(past && past->isAck());
        QCOMPARE(int(past->header.resultOrSelector), int(RESULT_READ_FAILED));
        QVERIFY(session->close(Channel::RawFile, uint8_t(entry.index)));
    }
    QCOMPARE(framesListed, total);
}

void TestW2dEndToEnd::smallRecordingRemoved()
{
    QVERIFY(setFormat(64, 32, 8));
    servers->cameraServer()->setLogEnabled(true);
    QStringList lines;
    auto connection = connect(servers->cameraServer(), &QCameraMonitor::plainLog, this,
                              [&lines](const QString &line) { lines << line; });
    W2dStart start;
    start.folder = QStringLiteral("Small\\Take1");
    start.volumes = QStringLiteral("E");
    const auto progress = record(start, 5);
    QVERIFY(progress[0] >= 5);
    // 5 frames of 2 KiB: far below 1 MiB, so the folder the start made goes.
    QTRY_VERIFY(!lines.filter(QStringLiteral("Remove dir %1/e/Small").arg(root)).isEmpty());
    QVERIFY(!QFileInfo::exists(root + "/e/Small"));
    QVERIFY(QFileInfo(root + "/e").isDir());
    for (const Listed &entry : listRawFiles())
        QVERIFY(!QByteArray(entry.info.text).startsWith("Small/"));
    disconnect(connection);
    servers->cameraServer()->setLogEnabled(false);
}

void TestW2dEndToEnd::rawFolderAndSubfolders()
{
    // Raw files are found below the raw-file folder, subfolders included.
    const QString file = options.downloadFolder.value() + "/nested/deep/x.raw";
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    RawFileWriter writer;
    QString error;
    const RawFileHeader header = makeRawFileHeader(16, 8, 8);
    QVERIFY(writer.create(file, header, &error));
    std::vector<uint8_t> frame(header.frameBytes);
    renderTestPattern(frame.data(), 16, 8, 8, 0);
    QVERIFY(writer.appendFrame(frame.data(), &error));
    writer.close();
    bool found = false;
    for (const Listed &entry : listRawFiles())
        found = found || QByteArray(entry.info.text) == "nested/deep/x.raw";
    QVERIFY(found);
    QVERIFY(QDir(options.downloadFolder.value() + "/nested").removeRecursively());
}

void TestW2dEndToEnd::announcedFolderServed()
{
    // A memory recording of three frames, saved from frame 1 on: the camera
    // server announces the resolved absolute folder of the first n
    // characters; the runner makes it the download folder and the driver's
    // raw-file folder, so the raw-file server lists what lies there relative
    // to it.
    QVERIFY(setFormat(64, 32, 8));
    QVERIFY(session->command(Channel::Camera, CMD_MEMORY_START_GRAB, {3, 0}));
    QDeadlineTimer deadline(kRecordTimeoutMs);
    std::optional<Reply> trigger;
    do {
        trigger = session->command(Channel::Camera, CMD_GET_TRIGGER_INDEX, {});
    } while (trigger && trigger->command().value(0) < 3 && !deadline.hasExpired());
    QVERIFY(trigger && trigger->command().value(0) == 3);

    ClientError error;
    const QString path = QStringLiteral("D:\\Shots\\Take2\\memory.raw");
    QVERIFY2(saveRawFile(*session, path, 1, 0, 14, &error), qPrintable(error.message));
    const QString announced = root + QStringLiteral("/d/Shots/Take2");
    QTRY_COMPARE(servers->downloadFolder(), announced);
    QVERIFY(QFileInfo(announced + "/memory.raw").isFile());

    QVERIFY(setFormat(1280, 1024, 8));
    W2dStart start;
    start.folder = QStringLiteral("Shots/Take2/w2d");
    start.volumes = QStringLiteral("D");
    QVERIFY(record(start, 2)[0] >= 2);
    QMap<QByteArray, Listed> byText;
    for (const Listed &entry : listRawFiles())
        byText.insert(QByteArray(entry.info.text), entry);
    QVERIFY2(byText.contains("w2d.00.raw"), "listed relative to the announced folder");
    QVERIFY(byText.contains("memory.raw"));
    const Listed saved = byText.value("memory.raw");
    QCOMPARE(saved.info.word32, 2u);   // frames 1 and 2
    QCOMPARE(saved.info.word212, 1u);  // the first is memory frame 1
    QVERIFY(session->openRawFile(saved.index));
    const auto image = readFrame(*session, uint8_t(saved.index), 1, 64 * 32);
    QVERIFY(image);
    QCOMPARE(findTestPatternMismatch(reinterpret_cast<const uint8_t *>(image->constData()),
                                     size_t(image->size()), 64, 32, 8, 2),
             int64_t(-1));
    QVERIFY(session->close(Channel::RawFile, uint8_t(saved.index)));
}

void TestW2dEndToEnd::hostilePaths_data()
{
    QTest::addColumn<bool>("w2d");
    QTest::addColumn<QString>("path");
    for (const char *path : {"..\\..\\etc", "/etc/x", "C:\\Windows", "D:..\\x", "escape\\x"}) {
        QTest::addRow("save %s", path) << false << QString::fromLatin1(path);
        QTest::addRow("w2d %s", path) << true << QString::fromLatin1(path);
    }
}

void TestW2dEndToEnd::hostilePaths()
{
    QFETCH(bool, w2d);
    QFETCH(QString, path);
    const QString outside = root + "/outside";
    QVERIFY(QDir().mkpath(outside));
    if (!QFileInfo(root + "/d/escape").isSymLink())
        QVERIFY(QFile::link(outside, root + "/d/escape"));
    const QStringList before = tree(root);
    ClientError error;
    bool ok = false;
    if (w2d) {
        W2dStart start;
        start.folder = path;
        start.volumes = QStringLiteral("D");
        ok = startWriteToDisk(*session, start, &error);
    } else {
        ok = saveRawFile(*session, path, 0, 0, 3, &error);
    }
    QVERIFY(!ok);
    QCOMPARE(int(error.result), int(RESULT_REFUSED));
    QVERIFY2(error.message.contains(QLatin1String("refused by the server")),
             qPrintable(error.message));
    QCOMPARE(tree(root), before);
    QCOMPARE(servers->downloadFolder(), options.downloadFolder.value());
}

QTEST_GUILESS_MAIN(TestW2dEndToEnd)
#include "tst_w2d_e2e.moc"
