// Hostile input over the wire: a real server on 127.0.0.1 (the simulated
// camera, recording volumes in a temporary root) and one table of truncated
// and oversized datagrams of every type, every sub-command with garbage
// arguments, image requests at and beyond each bound, resend lists beyond
// every bound and hostile paths for save-to-file and write-to-disk. Each
// case must get the answer the protocol or its refusals give (result 9
// where a request is refused, silence where the protocol is silent), create
// nothing outside the volumes, and leave a server that still answers a NOP
// and a discovery.
#include "drivertable.h"
#include "loopbackclient.h"
#include "monitorkit.h"
#include "rawfile.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

#include <unistd.h>

namespace {
constexpr quint16 kPortSeed = 28600;
const QHostAddress kServer(QStringLiteral("127.0.0.1"));
constexpr size_t kPathOffset = 80;
constexpr size_t kPathField = 512;
constexpr uint16_t kProbeId = 0xBEEF;
constexpr uint16_t kDiscoveryId = 0xBEF0;
constexpr int kWaitMs = 5000;

enum Setup {
    Fresh,     // server started, nothing open
    Open,      // camera open at 1280 x 1024, 8 bits
    Small,     // open at 64 x 32, 8 bits: 2048 bytes, 2 segments at 1500
    Transfer,  // small, and an image sent at packet size 1500 to the main client
    Grabbed,   // small, with three frames recorded in memory
    Mega,      // open at 1024 x 1024, 8 bits: 65536 segments at packet size 32
};

// One datagram of a case and the client that sends it (0: 127.0.0.1, the
// client that set the case up; 1: 127.0.0.2).
struct Step {
    int client = 0;
    QByteArray datagram;
};
using Steps = QVector<Step>;

uint16_t nextId = 1;

QByteArray command(uint32_t subCommand, const QVector<uint32_t> &args = {}, uint8_t selector = 0)
{
    return commandDatagram(nextId++, subCommand, args, selector);
}

QByteArray raw(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

// A datagram of `length` zero bytes with `type` at 3 (when it reaches that far).
QByteArray ofType(uint8_t type, int length)
{
    QByteArray out(length, 0);
    if (length > 3)
        out[3] = char(type);
    return out;
}

QByteArray padded(QByteArray datagram, int length)
{
    datagram.resize(length);
    return datagram;
}

QByteArray withPath(uint32_t subCommand, const QVector<uint32_t> &words, const QByteArray &path)
{
    QByteArray out = command(subCommand, words);
    out.resize(int(kPathOffset + kPathField));
    std::fill(out.begin() + 16 + 4 * words.size(), out.end(), '\0');
    std::copy(path.begin(), path.begin() + std::min(path.size(), int(kPathField)),
              out.begin() + int(kPathOffset));
    return out;
}

QByteArray saveRaw(const QByteArray &path, uint32_t announce = 0)
{
    return withPath(CMD_SAVE_RAW_FILE, {0, 0, 0, announce}, path);
}

QByteArray w2dStart(const QByteArray &folder)
{
    return withPath(CMD_WRITE_TO_DISK, {1, 1, 'D', 0, 0}, folder);
}

QByteArray resend(const QVector<uint16_t> &indices, bool last, uint32_t declared = 0)
{
    QByteArray out = resendDatagram(nextId++, indices, last);
    if (declared)
        qToLittleEndian<uint32_t>(declared, out.data() + 8);
    return out;
}

QByteArray readImage(uint32_t packetSize, quint16 dataPort, uint32_t source = 0)
{
    return command(CMD_READ_IMAGE, {source, 0, dataPort, 0, packetSize});
}

// A reply as the table writes it: "ack TYPE RESULT", "reply SUB" (with
// " result R" when not 0), "discovery TYPE", or "size N".
QString describe(const QByteArray &d)
{
    const auto *p = reinterpret_cast<const uint8_t *>(d.constData());
    const PacketHeader h = decodeHeader(p, size_t(d.size()));
    if (d.size() == int(kAckSize))
        return QStringLiteral("ack %1 %2").arg(h.type).arg(h.resultOrSelector);
    if (d.size() == int(kCommandReplySize) && h.type == PKT_COMMAND)
        return QStringLiteral("reply %1").arg(readU32(p, size_t(d.size()), 8))
               + (h.resultOrSelector ? QStringLiteral(" result %1").arg(h.resultOrSelector)
                                     : QString());
    if (d.size() == int(kDiscoveryReplySize))
        return QStringLiteral("discovery %1").arg(h.type);
    return QStringLiteral("size %1").arg(d.size());
}

// A placeholder in the table for the main client's data port.
constexpr quint16 kOwnPort = 0xFFFF;

}  // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Steps)

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void hostileInput_data();
    void hostileInput();

private:
    void addRow(const char *name, int mode, Setup setup, const Steps &steps,
                const QStringList &replies, int minSegments = 0, int maxSegments = 0);
    bool setUp(QCameraMonitor &monitor, LoopbackClient &client, Setup setup);
    // Receives on `client` until the acknowledgement of a NOP sent after the
    // case: the case's replies and how many segments came.
    bool collect(LoopbackClient &client, quint16 port, QStringList *replies, int *segments);
    QStringList listing() const;

    QTemporaryDir root;
    QString rootPath;
    QByteArray rawFolder;
    QByteArray volumes;
    QString callerDirectory;
};

void TestHostile::initTestCase()
{
    if (!simulatedDriverTable().setDriverOption)
        QSKIP("the simulated driver is not built in");
    QVERIFY(root.isValid());
    rootPath = QFileInfo(root.path()).canonicalFilePath();
    QDir dir(rootPath);
    for (const char *name : {"cwd", "outside", "raw", "volD", "volE"})
        QVERIFY(dir.mkpath(QLatin1String(name)));
    QFile marker(rootPath + QStringLiteral("/outside/marker"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    {
        // One raw file, so that the raw-file server answers discovery.
        RawFileWriter writer;
        QString error;
        const RawFileHeader header = makeRawFileHeader(64, 32, 8);
        QVERIFY(writer.create(rootPath + QStringLiteral("/raw/take.raw"), header, &error));
        const std::vector<uint8_t> frame(header.frameBytes, 7);
        QVERIFY(writer.appendFrame(frame.data(), &error));
    }
    // Links that lead out of volume D: a folder, the first file of a
    // recording named "rec" (dangling), the root itself.
    const QString d = rootPath + QStringLiteral("/volD");
    QCOMPARE(::symlink(QFile::encodeName(rootPath + "/outside").constData(),
                       QFile::encodeName(d + "/out").constData()), 0);
    QCOMPARE(::symlink(QFile::encodeName(rootPath + "/outside/rec.00.raw").constData(),
                       QFile::encodeName(d + "/rec.00.raw").constData()), 0);
    QCOMPARE(::symlink(QFile::encodeName(rootPath).constData(),
                       QFile::encodeName(d + "/up").constData()), 0);
    // A relative path that escaped would land here.
    callerDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(rootPath + QStringLiteral("/cwd")));

    rawFolder = QFile::encodeName(rootPath + "/raw");
    volumes = QFile::encodeName(QStringLiteral("D=%1/volD\nE=%1/volE\n").arg(rootPath));
    const DriverTable &driver = simulatedDriverTable();
    QCOMPARE(driver.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0), 0u);
    QCOMPARE(driver.setDriverOption(nullptr, ARVEX_OPTION_RAW_FOLDER,
                                    uintptr_t(rawFolder.constData()), 0), 0u);
    QCOMPARE(driver.setDriverOption(nullptr, ARVEX_OPTION_VOLUMES,
                                    uintptr_t(volumes.constData()), 0), 0u);
}

void TestHostile::cleanupTestCase()
{
    if (!callerDirectory.isEmpty())
        QDir::setCurrent(callerDirectory);
    if (simulatedDriverTable().setDriverOption)
        simulatedDriverTable().setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 10000, 0);
}

QStringList TestHostile::listing() const
{
    QStringList out;
    QDirIterator it(rootPath, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = it.next().mid(rootPath.size());
        if (!relative.startsWith(QLatin1String("/volD/")) && !relative.startsWith(QLatin1String("/volE/")))
            out << relative + QStringLiteral(" %1").arg(it.fileInfo().isSymLink() ? 0 : it.fileInfo().size());
    }
    out.sort();
    return out;
}

void TestHostile::addRow(const char *name, int mode, Setup setup, const Steps &steps,
                         const QStringList &replies, int minSegments, int maxSegments)
{
    QTest::newRow(name) << mode << int(setup) << steps << replies << minSegments << maxSegments;
}

void TestHostile::hostileInput_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("setup");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<int>("minSegments");
    QTest::addColumn<int>("maxSegments");
    const int cam = CameraMode;
    const int rawFiles = RawFileMode;
    auto one = [](const QByteArray &d) { return Steps{Step{0, d}}; };

    // Truncated and oversized datagrams of every type.
    addRow("empty datagram", cam, Fresh, one(QByteArray()), {});
    addRow("3 bytes, no type", cam, Fresh, one(raw({0, 0, 0})), {});
    addRow("enumerate, 4 bytes", cam, Fresh, one(ofType(PKT_ENUMERATE, 4)), {"discovery 1"});
    addRow("enumerate, 65507 bytes", cam, Fresh, one(ofType(PKT_ENUMERATE, 65507)), {"discovery 1"});
    addRow("raw info, 4 bytes", cam, Fresh, one(ofType(PKT_RAW_INFO, 4)), {"ack 225 4"});
    addRow("raw info, 8193 bytes", cam, Fresh, one(ofType(PKT_RAW_INFO, 8193)), {"ack 225 4"});
    addRow("command, 4 bytes", cam, Open, one(ofType(PKT_COMMAND, 4)), {});
    addRow("command, 11 bytes: NOP cut short", cam, Open,
           one(raw({0, 0, 0, 224, 11, 0, 9, 0, 31, 0, 0})), {"ack 224 0"});
    addRow("command, NOP of 8192 bytes", cam, Open, one(padded(command(CMD_NOP), 8192)), {"ack 224 0"});
    addRow("command, NOP of 8193 bytes", cam, Open, one(padded(command(CMD_NOP), 8193)), {"ack 224 0"});
    addRow("command, NOP of 65507 bytes", cam, Open, one(padded(command(CMD_NOP), 65507)), {"ack 224 0"});
    addRow("resend, 4 bytes", cam, Transfer, one(ofType(PKT_RESEND, 4)), {});
    addRow("resend, 65507 bytes", cam, Transfer, one(ofType(PKT_RESEND, 65507)), {});
    for (int type : {0, 2, 199, 201, 223, 226, 255}) {
        QByteArray d = padded(command(CMD_NOP), 64);
        d[3] = char(type);
        addRow(qPrintable(QStringLiteral("unknown type %1").arg(type)), cam, Open, one(d), {});
    }

    // Every sub-command with garbage arguments, on an open camera.
    const QVector<uint32_t> garbage(8, 0xFFFFFFFFu);
    struct Expect {
        uint32_t sub;
        const char *reply;
    };
    static const Expect kAnswers[] = {
        {CMD_OPEN, "ack 224 0"}, {CMD_CLOSE, "ack 224 0"}, {CMD_GET_PARAMETER, "reply 3"},
        {CMD_SET_PARAMETER, "ack 224 0"}, {CMD_READ_DEFAULT_SETTINGS, "ack 224 0"},
        {CMD_READ_CAMERA_SETTINGS, "ack 224 0"}, {CMD_REFRESH_CAMERA_SETTINGS, "reply 7"},
        {CMD_VALIDATE_CAMERA_SETTINGS, "ack 224 0"}, {CMD_QUERY_SETTING, "reply 9"},
        {CMD_GET_SETTING, "reply 10"}, {CMD_SET_SETTING, "ack 224 0"},
        {CMD_READ_IMAGE, "ack 224 9"}, {CMD_MEMORY_START_GRAB, "ack 224 0"},
        {CMD_MEMORY_STOP_GRAB, "reply 16"}, {CMD_GET_TRIGGER_INDEX, "reply 17"},
        {CMD_ZERO_VALUE_QUERY, "reply 18"}, {CMD_CALIBRATE, "ack 224 0"},
        {CMD_ACTION_20, "ack 224 0"}, {CMD_RESET, "ack 224 0"}, {CMD_VALUE_24, "ack 224 0"},
        {CMD_SAVE_RAW_FILE, "ack 224 9"}, {CMD_READ_SETTINGS_FROM_FLASH, "ack 224 0"},
        {CMD_WRITE_SETTINGS_TO_FLASH, "ack 224 0"}, {CMD_NOP, "ack 224 0"},
        {CMD_NOP_2, "ack 224 0"}, {CMD_NOP_3, "ack 224 0"}, {CMD_GET_STATUS, "reply 34"},
        {CMD_ACTION_40, "ack 224 0"}, {CMD_WRITE_TO_DISK, "ack 224 9"},
        {CMD_LIVE, "ack 224 0"}, {CMD_PIV, "ack 224 0"}, {CMD_GET_DEVICE_VALUE, "reply 68"},
        {CMD_SET_DEVICE_VALUE, "ack 224 0"}, {CMD_GET_STREAMING_GEOMETRY, "reply 72"},
        {CMD_GET_W2D_PROGRESS, "reply 73"}, {CMD_GET_CALIBRATION_PROGRESS, "reply 74"},
    };
    for (const Expect &e : kAnswers) {
        // The path field of 27 and 43 is garbage too: no NUL in it.
        QByteArray d = command(e.sub, garbage);
        if (e.sub == CMD_SAVE_RAW_FILE || e.sub == CMD_WRITE_TO_DISK)
            d = padded(d, int(kPathOffset + kPathField))
                    .replace(int(d.size()), int(kPathOffset + kPathField) - d.size(),
                             QByteArray(int(kPathOffset + kPathField) - d.size(), '\xFF'));
        addRow(qPrintable(QStringLiteral("sub-command %1, garbage arguments").arg(e.sub)), cam,
               Open, one(d), {QLatin1String(e.reply)});
    }
    for (uint32_t sub : {0u, 13u, 14u, 21u, 23u, 25u, 26u, 30u, 33u, 35u, 41u, 42u, 44u, 48u, 62u,
                         64u, 66u, 67u, 70u, 71u, 75u, 1000u, 0xFFFFFFFFu}) {
        addRow(qPrintable(QStringLiteral("unknown sub-command %1").arg(sub)), cam, Open,
               one(command(sub, garbage)), {});
    }

    // Packet sizes at and beyond each bound.
    for (uint32_t size : {0u, 16u, 31u, 65508u, 0xFFFFFFFFu})
        addRow(qPrintable(QStringLiteral("image at packet size %1").arg(size)), cam, Small,
               one(readImage(size, kOwnPort)), {"ack 224 9"});
    addRow("image at packet size 32", cam, Small, one(readImage(32, kOwnPort)), {"reply 12"}, 128, 128);
    addRow("image at packet size 65507", cam, Small, one(readImage(65507, kOwnPort)), {"reply 12"}, 1, 1);
    addRow("image of exactly 65536 segments", cam, Mega, one(readImage(32, kOwnPort)),
           {"reply 12"}, 65536, 65536);
    addRow("image of 65600 segments", cam, Mega,
           Steps{Step{0, command(CMD_SET_SETTING, {109, 1025})}, Step{0, readImage(32, kOwnPort)}},
           {"ack 224 0", "ack 224 9"});
    addRow("full-size image at packet size 32", cam, Open, one(readImage(32, kOwnPort)), {"ack 224 9"});
    addRow("image source 3", cam, Small, one(readImage(1500, kOwnPort, 3)), {"ack 224 7"});
    addRow("image before any open", cam, Fresh, one(readImage(1500, kOwnPort)), {"ack 224 7"});

    // Resend lists beyond every bound (the transfer has 2 segments).
    addRow("resend before any transfer", cam, Small, one(resend({0, 1}, true)), {});
    addRow("resend of index 2 of 2", cam, Transfer, one(resend({2}, true)), {});
    addRow("resend of index 65535", cam, Transfer, one(resend({0xFFFF}, true)), {});
    addRow("resend declaring 5000, carrying 2", cam, Transfer, one(resend({1, 0}, true, 5000)),
           {}, 2, 2);
    addRow("resend declaring 4294967295, carrying none", cam, Transfer,
           one(resend({}, true, 0xFFFFFFFFu)), {});
    addRow("resend of 4089 indices, 4088 carried", cam, Transfer,
           one(resend(QVector<uint16_t>(4089, 1), true)), {}, 4088, 4088);
    {
        Steps steps;
        for (int i = 0; i < 13; ++i)
            steps << Step{0, resend(QVector<uint16_t>(4088, uint16_t(i % 2)), false)};
        steps << Step{0, resend({0, 1}, true)};
        addRow("resend list past its 50000 entries", cam, Transfer, steps, {}, 50000, 50000);
    }
    addRow("resend from another client", cam, Transfer, Steps{Step{1, resend({0, 1}, true)}}, {});
    addRow("resend never finished", cam, Transfer,
           Steps{Step{0, resend({0}, false)}, Step{0, resend({1}, false)}}, {});
    addRow("resend after close", cam, Transfer,
           Steps{Step{0, command(CMD_CLOSE)}, Step{0, resend({0, 1}, true)}}, {"ack 224 0"});

    // Hostile paths for save-to-file and write-to-disk.
    const QByteArray p511 = "D:\\" + QByteArray(508, 'a');
    const QByteArray p512 = "D:\\" + QByteArray(509, 'a');
    const QByteArray p600 = "D:\\" + QByteArray(597, 'a');
    struct PathCase {
        const char *name;
        QByteArray path;
        const char *saveAnswer;
        const char *w2dAnswer;
    };
    const PathCase paths[] = {
        {"parent components", "..\\..\\etc\\x", "ack 224 9", "ack 224 9"},
        {"absolute outside the volumes", "/etc/x", "ack 224 9", "ack 224 9"},
        {"unknown drive", "C:\\Windows\\x", "ack 224 9", "ack 224 9"},
        {"drive-relative parent", "D:..\\x", "ack 224 9", "ack 224 9"},
        {"text behind an embedded NUL", QByteArray("D:\\a\0b", 6), "ack 224 9", "ack 224 9"},
        {"empty", "", "ack 224 9", "ack 224 9"},
        {"network share", "\\\\server\\share\\x", "ack 224 9", "ack 224 9"},
        {"link to a folder outside", "D:\\out\\x", "ack 224 9", "ack 224 9"},
        {"dangling link out", "D:\\rec.00.raw", "ack 224 9", "ack 224 9"},
        {"link to the root", "D:\\up\\raw\\x", "ack 224 9", "ack 224 9"},
        {"511 bytes", p511, "ack 224 0", "ack 224 0"},
        {"512 bytes, no NUL", p512, "ack 224 9", "ack 224 9"},
        {"600 bytes", p600, "ack 224 9", "ack 224 9"},
        {"inside volume E", "E:\\ok\\take.raw", "ack 224 0", "ack 224 9"},
        // Qt reads a path that starts with ':' as one of its resources.
        {"a folder named like a Qt resource", ":\\res\\take", "ack 224 0", "ack 224 0"},
    };
    for (const PathCase &c : paths) {
        addRow(qPrintable(QStringLiteral("save to %1").arg(QLatin1String(c.name))), cam, Grabbed,
               one(saveRaw(c.path, uint32_t(c.path.size()))), {QLatin1String(c.saveAnswer)});
        addRow(qPrintable(QStringLiteral("write to disk in %1").arg(QLatin1String(c.name))), cam,
               Small, Steps{Step{0, w2dStart(c.path)}, Step{0, command(CMD_WRITE_TO_DISK, {0})}},
               {QLatin1String(c.w2dAnswer), "ack 224 0"});
    }
    // More volumes than the record has slots, and none: the first four, or
    // the first usable volume.
    const uint32_t dede = 'D' | 'E' << 8 | 'D' << 16 | 'E' << 24;
    addRow("write to disk on 5 volumes", cam, Small,
           Steps{Step{0, withPath(CMD_WRITE_TO_DISK, {1, 5, dede, 0, 0}, "five")},
                 Step{0, command(CMD_WRITE_TO_DISK, {0})}},
           {"ack 224 0", "ack 224 0"});
    addRow("write to disk on 0 volumes", cam, Small,
           Steps{Step{0, withPath(CMD_WRITE_TO_DISK, {1, 0, 0, 0, 0}, "none")},
                 Step{0, command(CMD_WRITE_TO_DISK, {0})}},
           {"ack 224 0", "ack 224 0"});
    addRow("write to disk in a folder whose first file links out", cam, Small,
           one(w2dStart("rec")), {"ack 224 9"});
    addRow("write to disk through a link out", cam, Small, one(w2dStart("out\\take")), {"ack 224 9"});

    // The raw-file server.
    addRow("raw files: open number 70000", rawFiles, Fresh,
           Steps{Step{0, enumerateDatagram(nextId++)}, Step{0, command(CMD_OPEN, {0, 70000})}},
           {"discovery 1"});
    addRow("raw files: open number -1", rawFiles, Fresh, one(command(CMD_OPEN, {0, 0xFFFFFFFFu})), {});
    addRow("raw files: raw info -1", rawFiles, Fresh,
           one([] {
               QByteArray d(12, 0);
               buildRawInfoRequest(reinterpret_cast<uint8_t *>(d.data()), nextId++, -1);
               return d;
           }()),
           {"ack 225 4"});
    addRow("raw files: image with nothing open", rawFiles, Fresh,
           one(readImage(1500, kOwnPort, 2)), {"ack 224 7"});
    addRow("raw files: resend before any transfer", rawFiles, Fresh, one(resend({0}, true)), {});
}

bool TestHostile::setUp(QCameraMonitor &monitor, LoopbackClient &client, Setup setup)
{
    const quint16 port = monitor.listenPortNumber();
    auto ok = [&](uint32_t sub, const QVector<uint32_t> &args) {
        const auto reply = client.command(kServer, port, sub, args, kWaitMs);
        return reply && replyResult(*reply) == 0;
    };
    if (setup == Fresh)
        return true;
    const uint16_t id = client.nextId();
    client.send(kServer, port, enumerateDatagram(id));
    if (!client.waitForReply(id, kWaitMs) || !ok(CMD_OPEN, {16}))
        return false;
    if (setup == Open)
        return true;
    const uint32_t width = setup == Mega ? 1024 : 64;
    const uint32_t height = setup == Mega ? 1024 : 32;
    if (!ok(CMD_SET_SETTING, {109, width}) || !ok(CMD_SET_SETTING, {110, height}))
        return false;
    if (setup == Transfer) {
        QStringList replies;
        int segments = 0;
        client.send(kServer, port, readImage(1500, client.port()));
        return collect(client, port, &replies, &segments) && segments == 2;
    }
    if (setup == Grabbed) {
        if (!ok(CMD_MEMORY_START_GRAB, {3, 0}))
            return false;
        QThread::msleep(50);
        const auto stop = client.command(kServer, port, CMD_MEMORY_STOP_GRAB, {}, kWaitMs);
        return stop && replyWord(*stop, 16) == 3;
    }
    return true;
}

bool TestHostile::collect(LoopbackClient &client, quint16 port, QStringList *replies, int *segments)
{
    client.send(kServer, port, commandDatagram(kProbeId, CMD_NOP));
    QUdpSocket &socket = client.udp();
    for (;;) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(kWaitMs))
            return false;
        QByteArray d(int(std::max<qint64>(socket.pendingDatagramSize(), 0)), 0);
        QHostAddress from;
        quint16 fromPort = 0;
        socket.readDatagram(d.data(), d.size(), &from, &fromPort);
        if (from != kServer || fromPort != port) {
            *replies << QStringLiteral("from %1:%2").arg(from.toString()).arg(fromPort);
            continue;
        }
        SegmentHeader segment;
        if (decodeSegmentHeader(reinterpret_cast<const uint8_t *>(d.constData()), size_t(d.size()),
                                &segment)) {
            ++*segments;
            continue;
        }
        if (d.size() == int(kAckSize) && decodeHeader(reinterpret_cast<const uint8_t *>(d.constData()), 8).requestId == kProbeId)
            return true;
        *replies << describe(d);
    }
}

void TestHostile::hostileInput()
{
    QFETCH(int, mode);
    QFETCH(int, setup);
    QFETCH(Steps, steps);
    QFETCH(QStringList, replies);
    QFETCH(int, minSegments);
    QFETCH(int, maxSegments);

    const QStringList before = listing();
    QCameraMonitor monitor(simulatedDriverTable());
    monitor.setMode(MonitorMode(mode));
    monitor.setRecordingVolumes({RecordingVolume{QLatin1Char('D'), rootPath + "/volD"},
                                 RecordingVolume{QLatin1Char('E'), rootPath + "/volE"}});
    // ARVEX_HOSTILE_LOG=1: the server's log lines, to read a failing case.
    if (qEnvironmentVariableIsSet("ARVEX_HOSTILE_LOG")) {
        monitor.setLogEnabled(true);
        connect(&monitor, &QCameraMonitor::plainLog, this,
                [](const QString &line) { qInfo("%s", qPrintable(line.left(300))); },
                Qt::DirectConnection);
    }
    QVERIFY(startOnFreePort(monitor, kPortSeed));
    // Slow enough for the receiving socket to keep up with 50000 segments.
    monitor.setTransferOptions(20, 0);
    const quint16 port = monitor.listenPortNumber();
    LoopbackClient client(kServer);
    LoopbackClient other(QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(client.isBound() && other.isBound());
    QVERIFY2(setUp(monitor, client, Setup(setup)), "set-up");

    QStringList got;
    int segments = 0;
    for (const Step &step : qAsConst(steps)) {
        // Each step waits for the server to take the one before: a burst of
        // large datagrams would overrun its socket's receive buffer.
        if (&step != &steps.first())
            QVERIFY2(collect(client, port, &got, &segments), "the server stopped answering");
        QByteArray d = step.datagram;
        // The main client's own port as the data port of an image request.
        if (d.size() >= 28 && uint8_t(d[3]) == PKT_COMMAND && readU32(reinterpret_cast<const uint8_t *>(d.constData()), size_t(d.size()), 8) == CMD_READ_IMAGE
            && readU32(reinterpret_cast<const uint8_t *>(d.constData()), size_t(d.size()), 24) == kOwnPort)
            d.replace(24, 2, raw({client.port() & 0xFF, client.port() >> 8}));
        (step.client == 0 ? client : other).send(kServer, port, d);
    }
    QVERIFY2(collect(client, port, &got, &segments), "the server stopped answering");
    QCOMPARE(got, replies);
    QVERIFY2(segments >= minSegments && segments <= maxSegments,
             qPrintable(QStringLiteral("%1 segments").arg(segments)));
    // The other client asked for nothing but resends: nothing comes to it.
    QVERIFY(!other.udp().waitForReadyRead(50));

    // Still answering, and answering discovery.
    client.send(kServer, port, enumerateDatagram(kDiscoveryId));
    const auto discovery = client.waitForReply(kDiscoveryId, kWaitMs);
    QVERIFY(discovery.has_value());
    QCOMPARE(describe(*discovery), QStringLiteral("discovery 1"));
    monitor.stopServer();
    QCOMPARE(listing(), before);
}

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
