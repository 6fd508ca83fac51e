// CMD_WRITE_TO_DISK and CMD_SAVE_RAW_FILE over the wire on a live monitor
// with a driver that records what it is handed: the record, the folders, the
// clean-up, the announced folder, and every hostile path refused before
// anything is created or the driver is called.
#include "fakedriver.h"
#include "monitorkit.h"

#include "protocol.h"
#include "w2dvolumes.h"
#include "writetodiskrecord.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>
#include <thread>

namespace {

// Ports of this program: 33000 and up (tests/w2d/CMakeLists.txt).
constexpr quint16 kPortSeed = 33000;
constexpr int kPathOffset = 80;
constexpr int kPathFieldSize = 512;

// What the driver was handed for saveToFile and setWriteToDisk.
struct DriverLog {
    std::mutex mutex;
    int saves = 0;
    QByteArray savePath;
    QVector<uint32_t> saveArgs;  // zero1, zero2, a, b, c
    int w2dCalls = 0;
    uint32_t w2dStart = 0;
    QByteArray w2dRecord;
    ArvexW2dProgressCallback callback = nullptr;
    void *context = nullptr;
};

DriverLog &driverLog()
{
    static DriverLog log;
    return log;
}

uint32_t recordSave(ArvexHandle, const char *path, uint32_t zero1, uint32_t zero2, uint32_t a,
                    uint32_t b, uint32_t c)
{
    DriverLog &log = driverLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    ++log.saves;
    log.savePath = QByteArray(path);
    log.saveArgs = {zero1, zero2, a, b, c};
    return 0;
}

uint32_t recordW2d(ArvexHandle, uint32_t start, uint8_t *record, ArvexW2dProgressCallback callback,
                   void *context)
{
    DriverLog &log = driverLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    ++log.w2dCalls;
    log.w2dStart = start;
    log.w2dRecord = QByteArray(reinterpret_cast<const char *>(record), int(kW2dRecordSize));
    log.callback = callback;
    log.context = context;
    return 0;
}

const DriverTable &recordingDriver()
{
    static const DriverTable table = [] {
        DriverTable t = fake::table();
        t.saveToFile = &recordSave;
        t.setWriteToDisk = &recordW2d;
        return t;
    }();
    return table;
}

// A request with five arguments at 16.. and `field` at 80, zero-padded to
// the end of the 512-byte field; `length` >= 0 cuts or extends the datagram.
QByteArray pathRequest(uint16_t id, uint32_t subCommand, const QVector<uint32_t> &args,
                       const QByteArray &field, int length = -1)
{
    QByteArray datagram = commandRequest(id, subCommand, args);
    datagram.resize(kPathOffset);
    datagram.append(field);
    if (datagram.size() < kPathOffset + kPathFieldSize)
        datagram.append(QByteArray(kPathOffset + kPathFieldSize - datagram.size(), '\0'));
    if (length >= 0)
        datagram.resize(length);
    return datagram;
}

uint32_t recordU32(const QByteArray &record, size_t offset)
{
    return readU32(reinterpret_cast<const uint8_t *>(record.constData()), size_t(record.size()),
                   offset);
}

// Every entry below `root`, links not followed, as paths relative to it.
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

bool writeFile(const QString &path, qint64 size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(size);
}

}  // namespace

class TestWriteToDisk : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startRecord_data();
    void startRecord();
    void stopCleanup_data();
    void stopCleanup();
    void saveRawFile_data();
    void saveRawFile();
    void refused_data();
    void refused();
    void longestPathAccepted_data();
    void longestPathAccepted();
    void noUsableVolume_data();
    void noUsableVolume();
    void progress();

private:
    Ack send(const QByteArray &datagram);
    void restart(const RecordingVolumes &volumes);

    QScopedPointer<QTemporaryDir> temp;
    QString root;
    RecordingVolumes volumes;
    QScopedPointer<QCameraMonitor> monitor;
    QScopedPointer<MonitorRecorder> recorder;
    QScopedPointer<TestClient> client;
    uint16_t nextId = 1;
};

void TestWriteToDisk::init()
{
    temp.reset(new QTemporaryDir);
    QVERIFY(temp->isValid());
    root = QFileInfo(temp->path()).canonicalFilePath();
    for (const char *name : {"d", "e", "f", "g", "outside"})
        QVERIFY(QDir().mkpath(root + "/" + name));
    QVERIFY(QFile::link(root + "/outside", root + "/d/escape"));
    QVERIFY(QDir().mkpath(root + "/d/Rec"));
    QVERIFY(writeFile(root + "/outside/victim", 10));
    QVERIFY(QFile::link(root + "/outside/victim", root + "/d/Rec/Linked.00.raw"));
    volumes = {{'D', root + "/d"}, {'E', root + "/e"}, {'F', root + "/f"}, {'G', root + "/g"}};
    {
        DriverLog &log = driverLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        log.saves = 0;
        log.w2dCalls = 0;
        log.callback = nullptr;
    }
    fake::reset();
    restart(volumes);
    client.reset(new TestClient);
    QVERIFY(client->isBound());
}

void TestWriteToDisk::cleanup()
{
    if (monitor)
        monitor->stopServer();
    recorder.reset();
    monitor.reset();
    client.reset();
    temp.reset();
}

void TestWriteToDisk::restart(const RecordingVolumes &configured)
{
    if (monitor)
        monitor->stopServer();
    recorder.reset();
    monitor.reset(new QCameraMonitor(recordingDriver()));
    monitor->setMode(CameraMode);
    monitor->setRecordingVolumes(configured);
    monitor->setLogEnabled(true);
    recorder.reset(new MonitorRecorder(*monitor));
    QVERIFY(startOnFreePort(*monitor, kPortSeed));
}

Ack TestWriteToDisk::send(const QByteArray &datagram)
{
    client->send(datagram, monitor->listenPortNumber());
    return decodeAck(client->receive());
}

void TestWriteToDisk::startRecord_data()
{
    QTest::addColumn<uint32_t>("count");
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QByteArray>("recordFolder");
    QTest::addColumn<QStringList>("created");

    QTest::newRow("one volume") << 1u << "D" << QByteArray("Rec\\Take1") << "D"
                                << QByteArray("Rec/Take1") << QStringList{"d/Rec"};
    QTest::newRow("two volumes in slot order")
        << 2u << "ED" << QByteArray("New/Take1") << "ED" << QByteArray("New/Take1")
        << QStringList{"e/New", "d/New"};
    QTest::newRow("chosen letter dropped") << 1u << "E" << QByteArray("E:\\Rec\\Take1") << "E"
                                           << QByteArray("Rec/Take1") << QStringList{"e/Rec"};
    QTest::newRow("absent letter falls back to the first volume")
        << 1u << "X" << QByteArray("Rec\\Take1") << "D" << QByteArray("Rec/Take1")
        << QStringList{};
    QTest::newRow("no volume requested") << 0u << "" << QByteArray("Take1") << "D"
                                         << QByteArray("Take1") << QStringList{};
    QTest::newRow("more than four volumes: the first four slots")
        << 9u << "GFED" << QByteArray("Many\\T") << "GFED" << QByteArray("Many/T")
        << QStringList{"g/Many", "f/Many", "e/Many", "d/Many"};
}

void TestWriteToDisk::startRecord()
{
    QFETCH(uint32_t, count);
    QFETCH(QString, requested);
    QFETCH(QByteArray, folder);
    QFETCH(QString, chosen);
    QFETCH(QByteArray, recordFolder);
    QFETCH(QStringList, created);

    const Ack ack = send(pathRequest(7, CMD_WRITE_TO_DISK,
                                     {5, count, encodeVolumeChoice(requested), 3, 0xCAFE}, folder));
    QVERIFY(ack.valid);
    QCOMPARE(ack.result, RESULT_OK);
    QCOMPARE(ack.id, uint16_t(7));

    DriverLog &log = driverLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    QCOMPARE(log.w2dCalls, 1);
    QCOMPARE(log.w2dStart, 5u);
    QVERIFY(log.callback);
    QCOMPARE(log.context, static_cast<void *>(monitor.data()));
    const QByteArray &record = log.w2dRecord;
    QCOMPARE(recordU32(record, W2dRecordOffset::PassThrough), 0xCAFEu);
    QCOMPARE(recordU32(record, W2dRecordOffset::Options), 3u);
    QCOMPARE(recordU32(record, W2dRecordOffset::VolumeCount), uint32_t(chosen.size()));
    for (int i = 0; i < 4; ++i) {
        QByteArray expected(int(W2dRecordOffset::SlotSize), '\0');
        if (i < chosen.size())
            expected.replace(0, 3, chosen.mid(i, 1).toLatin1() + ":\\");
        QCOMPARE(record.mid(int(W2dRecordOffset::Slots) + i * int(W2dRecordOffset::SlotSize),
                            int(W2dRecordOffset::SlotSize)),
                 expected);
    }
    QByteArray expectedFolder(int(W2dRecordOffset::FolderSize), '\0');
    expectedFolder.replace(0, recordFolder.size(), recordFolder);
    QCOMPARE(record.mid(int(W2dRecordOffset::Folder)), expectedFolder);

    for (const QString &made : created)
        QVERIFY2(QFileInfo(root + "/" + made).isDir(), qPrintable(made));
    QVERIFY(recorder->waitForLine(QStringLiteral("Start W2D: %1 Volumes - Folder: %2 - Opt:3")
                                      .arg(chosen.size())
                                      .arg(QString::fromLatin1(folder))));
}

void TestWriteToDisk::stopCleanup_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<qint64>("firstFileSize");  // -1: no file
    QTest::addColumn<QStringList>("removed");   // relative to the temporary folder
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("small recording: the folder the start made goes")
        << QByteArray("New\\Take1") << qint64(500000) << QStringList{"d/New"} << QStringList{"d"};
    QTest::newRow("1 MiB stays") << QByteArray("New\\Take1") << qint64(1048576) << QStringList{}
                                 << QStringList{"d/New/Take1.00.raw"};
    QTest::newRow("no recording: nothing removed")
        << QByteArray("New\\Take1") << qint64(-1) << QStringList{} << QStringList{"d/New"};
    QTest::newRow("folder that existed: only the recording's files")
        << QByteArray("Rec\\Take1") << qint64(100) << QStringList{"d/Rec/Take1.00.raw"}
        << QStringList{"d/Rec", "d/Rec/other.raw"};
    QTest::newRow("on the volume itself: only the recording's files")
        << QByteArray("Take1") << qint64(100) << QStringList{"d/Take1.00.raw"}
        << QStringList{"d", "d/Rec"};
}

void TestWriteToDisk::stopCleanup()
{
    QFETCH(QByteArray, folder);
    QFETCH(qint64, firstFileSize);
    QFETCH(QStringList, removed);
    QFETCH(QStringList, kept);

    QVERIFY(writeFile(root + "/d/Rec/other.raw", 100));
    QCOMPARE(send(pathRequest(1, CMD_WRITE_TO_DISK, {1, 1, encodeVolumeChoice("D"), 0, 0}, folder))
                 .result,
             RESULT_OK);
    const QString prefix = root + "/d/" + QString::fromLatin1(folder).replace('\\', '/');
    if (firstFileSize >= 0) {
        QVERIFY(writeFile(prefix + ".00.raw", firstFileSize));
        QVERIFY(writeFile(prefix + ".01.raw", 10));
    }
    recorder->clear();

    const Ack ack = send(pathRequest(2, CMD_WRITE_TO_DISK, {0, 1, 0x44, 0, 0}, folder));
    QVERIFY(ack.valid);
    QCOMPARE(ack.result, RESULT_OK);
    {
        DriverLog &log = driverLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        QCOMPARE(log.w2dCalls, 2);
        QCOMPARE(log.w2dStart, 0u);
        QCOMPARE(log.w2dRecord, QByteArray(int(kW2dRecordSize), '\0'));
    }
    QVERIFY(recorder->waitForLine(QStringLiteral("Stop W2D.")));
    for (const QString &gone : removed) {
        QVERIFY2(!QFileInfo::exists(root + "/" + gone), qPrintable(gone));
        const QString path = root + "/" + gone;
        const QString line = gone.endsWith(".raw") ? QStringLiteral("Remove file %1").arg(path)
                                                   : QStringLiteral("Remove dir %1").arg(path);
        QVERIFY2(recorder->waitForLine(line), qPrintable(recorder->lines.join('\n')));
    }
    for (const QString &stays : kept)
        QVERIFY2(QFileInfo::exists(root + "/" + stays), qPrintable(stays));
    // Nothing beside the volumes was touched.
    QCOMPARE(tree(root + "/outside"), QStringList{"victim"});
}

void TestWriteToDisk::saveRawFile_data()
{
    QTest::addColumn<QByteArray>("path");  // "<root>" is replaced by the temporary folder
    QTest::addColumn<uint32_t>("b");
    QTest::addColumn<uint32_t>("n");
    QTest::addColumn<QString>("driverPath");  // relative to the temporary folder
    QTest::addColumn<QString>("createdFolder");
    QTest::addColumn<QString>("announced");  // empty: no announcement

    QTest::newRow("folder of the first n characters announced")
        << QByteArray("Rec/Take1/file") << 0u << 9u << "d/Rec/Take1/file" << "d/Rec/Take1"
        << "d/Rec/Take1";
    QTest::newRow("letter and backslashes, n = 0: folder made, nothing announced")
        << QByteArray("E:\\Shots\\x.raw") << 0u << 0u << "e/Shots/x.raw" << "e/Shots" << "";
    QTest::newRow("b not 0: no folder, no announcement")
        << QByteArray("Later/file") << 1u << 5u << "d/Later/file" << "" << "";
    QTest::newRow("absolute path inside a volume")
        << QByteArray("<root>/f/A/f.raw") << 0u << 0u << "f/A/f.raw" << "f/A" << "";
    QTest::newRow("n beyond the path: the whole path")
        << QByteArray("Rec/f") << 0u << 100u << "d/Rec/f" << "d/Rec" << "d/Rec/f";
    QTest::newRow("n cut at a letter: the volume")
        << QByteArray("G:\\Take\\f") << 0u << 2u << "g/Take/f" << "g/Take" << "g";
    QTest::newRow("trailing separator names a folder")
        << QByteArray("Dir\\") << 0u << 0u << "d/Dir/" << "d/Dir" << "";
}

void TestWriteToDisk::saveRawFile()
{
    QFETCH(QByteArray, path);
    QFETCH(uint32_t, b);
    QFETCH(uint32_t, n);
    QFETCH(QString, driverPath);
    QFETCH(QString, createdFolder);
    QFETCH(QString, announced);

    path.replace("<root>", root.toLatin1());
    QSignalSpy folderChanges(monitor.data(), &QCameraMonitor::rawFolderChange);
    const Ack ack = send(pathRequest(3, CMD_SAVE_RAW_FILE, {4, b, 6, n, 0}, path));
    QVERIFY(ack.valid);
    QCOMPARE(ack.result, RESULT_OK);
    {
        DriverLog &log = driverLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        QCOMPARE(log.saves, 1);
        QCOMPARE(QString::fromLatin1(log.savePath), root + "/" + driverPath);
        QCOMPARE(log.saveArgs, (QVector<uint32_t>{0, 0, 4, b, 6}));
    }
    if (!createdFolder.isEmpty())
        QVERIFY(QFileInfo(root + "/" + createdFolder).isDir());
    else
        QCOMPARE(tree(root + "/d"), (QStringList{"Rec", "Rec/Linked.00.raw", "escape"}));
    // The spy records on the worker's thread, before the acknowledgement.
    if (announced.isEmpty()) {
        QCOMPARE(folderChanges.count(), 0);
    } else {
        QCOMPARE(folderChanges.count(), 1);
        QCOMPARE(folderChanges.at(0).at(0).toString(), root + "/" + announced);
    }
}

void TestWriteToDisk::refused_data()
{
    QTest::addColumn<uint32_t>("subCommand");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("length");  // of the datagram, -1: the whole field

    const QByteArray fill512(kPathFieldSize, 'a');
    const struct {
        const char *name;
        QByteArray field;
        int length;
    } hostile[] = {
        {"dotdot", QByteArray("..\\..\\etc"), -1},
        {"absolute outside", QByteArray("/etc/x"), -1},
        {"unknown letter", QByteArray("C:\\Windows"), -1},
        {"dotdot after a letter", QByteArray("D:..\\x"), -1},
        {"dotdot in the middle", QByteArray("Rec/../../x"), -1},
        {"link leading out", QByteArray("escape/x"), -1},
        {"link leading out, by letter", QByteArray("D:\\escape\\x"), -1},
        {"first file a link leading out", QByteArray("Rec/Linked.00.raw"), -1},
        {"embedded NUL", QByteArray("Rec\0/../../x", 12), -1},
        {"512 bytes, no NUL", fill512, -1},
        {"600 bytes", fill512 + QByteArray(88, 'b'), -1},
        {"datagram ends before the NUL", QByteArray("Rec/Take1"), kPathOffset + 9},
        {"datagram ends before the field", QByteArray(), 60},
    };
    for (const auto &row : hostile) {
        QTest::addRow("save: %s", row.name) << CMD_SAVE_RAW_FILE << row.field << row.length;
        QByteArray w2d = row.field;
        if (w2d == "Rec/Linked.00.raw")
            w2d = "Rec/Linked";  // the first file is the prefix plus ".00.raw"
        QTest::addRow("w2d: %s", row.name) << CMD_WRITE_TO_DISK << w2d << row.length;
    }
    QTest::newRow("save: announced folder with dotdot")
        << CMD_SAVE_RAW_FILE << QByteArray("Rec/..x/f") << -1;
    QTest::newRow("w2d: folder of another volume")
        << CMD_WRITE_TO_DISK << QByteArray("E:\\Rec\\Take1") << -1;
    QTest::newRow("w2d: empty folder") << CMD_WRITE_TO_DISK << QByteArray("") << -1;
}

void TestWriteToDisk::refused()
{
    QFETCH(uint32_t, subCommand);
    QFETCH(QByteArray, field);
    QFETCH(int, length);

    const QStringList before = tree(root);
    QSignalSpy folderChanges(monitor.data(), &QCameraMonitor::rawFolderChange);
    // Save: b = 0 and n = 6 so that a folder would be made and announced.
    const QVector<uint32_t> args = subCommand == CMD_SAVE_RAW_FILE
                                       ? QVector<uint32_t>{0, 0, 0, 6, 0}
                                       : QVector<uint32_t>{1, 1, encodeVolumeChoice("D"), 0, 0};
    const Ack ack = send(pathRequest(9, subCommand, args, field, length));
    QVERIFY(ack.valid);
    QCOMPARE(ack.result, RESULT_REFUSED);
    QCOMPARE(ack.id, uint16_t(9));
    {
        DriverLog &log = driverLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        QCOMPARE(log.saves, 0);
        QCOMPARE(log.w2dCalls, 0);
    }
    QCOMPARE(tree(root), before);
    QCOMPARE(folderChanges.count(), 0);
    const QString expected = subCommand == CMD_SAVE_RAW_FILE ? QStringLiteral("Save raw file refused: ")
                                                             : QStringLiteral("Write-to-disk refused: ");
    QTRY_VERIFY_WITH_TIMEOUT(!recorder->lines.filter(expected).isEmpty(), 2000);
    QVERIFY(!recorder->lines.filter(expected).first().endsWith(": ."));
}

void TestWriteToDisk::longestPathAccepted_data()
{
    QTest::addColumn<uint32_t>("subCommand");
    QTest::newRow("save") << CMD_SAVE_RAW_FILE;
    QTest::newRow("w2d") << CMD_WRITE_TO_DISK;
}

void TestWriteToDisk::longestPathAccepted()
{
    QFETCH(uint32_t, subCommand);
    // 511 characters and the NUL fill the field exactly.
    QByteArray path;
    while (path.size() < 509)
        path += "a/";
    path += "zz";
    path.resize(511);
    QCOMPARE(path.size(), 511);
    const QVector<uint32_t> args = subCommand == CMD_SAVE_RAW_FILE
                                       ? QVector<uint32_t>{0, 0, 0, 0, 0}
                                       : QVector<uint32_t>{1, 1, encodeVolumeChoice("D"), 0, 0};
    QCOMPARE(send(pathRequest(4, subCommand, args, path)).result, RESULT_OK);
    DriverLog &log = driverLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (subCommand == CMD_SAVE_RAW_FILE) {
        QCOMPARE(log.saves, 1);
        QCOMPARE(log.savePath, root.toLatin1() + "/d/" + path);
    } else {
        QCOMPARE(log.w2dCalls, 1);
        QCOMPARE(log.w2dRecord.mid(int(W2dRecordOffset::Folder), 512), path + '\0');
    }
}

void TestWriteToDisk::noUsableVolume_data()
{
    QTest::addColumn<bool>("configured");
    QTest::newRow("no volume configured") << false;
    QTest::newRow("volume folder missing") << true;
}

void TestWriteToDisk::noUsableVolume()
{
    QFETCH(bool, configured);
    restart(configured ? RecordingVolumes{{'D', root + "/missing"}} : RecordingVolumes{});
    const QStringList before = tree(root);
    QCOMPARE(send(pathRequest(1, CMD_WRITE_TO_DISK, {1, 1, 0x44, 0, 0}, "Rec\\Take1")).result,
             RESULT_REFUSED);
    QCOMPARE(send(pathRequest(2, CMD_SAVE_RAW_FILE, {0, 0, 0, 3, 0}, "Rec\\file")).result,
             RESULT_REFUSED);
    QCOMPARE(tree(root), before);
    DriverLog &log = driverLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    QCOMPARE(log.saves + log.w2dCalls, 0);
}

void TestWriteToDisk::progress()
{
    const QByteArray start = pathRequest(1, CMD_WRITE_TO_DISK, {1, 1, 0x44, 0, 0}, "Rec\\Take1");
    QCOMPARE(send(start).result, RESULT_OK);
    ArvexW2dProgressCallback callback = nullptr;
    void *context = nullptr;
    {
        DriverLog &log = driverLog();
        std::lock_guard<std::mutex> lock(log.mutex);
        callback = log.callback;
        context = log.context;
    }
    QVERIFY(callback);
    // The driver reports from a thread of its own.
    std::thread reporter([&] { callback(context, 11, 22, 33, 44); });
    reporter.join();

    auto readProgress = [&](uint16_t id) {
        client->send(commandRequest(id, CMD_GET_W2D_PROGRESS), monitor->listenPortNumber());
        const QByteArray reply = client->receive();
        const CommandReply decoded =
            decodeCommandReply(reinterpret_cast<const uint8_t *>(reply.constData()),
                               size_t(reply.size()));
        return decoded.valid ? QVector<uint32_t>{decoded.value(0), decoded.value(1),
                                                 decoded.value(2), decoded.value(3)}
                             : QVector<uint32_t>{};
    };
    QCOMPARE(readProgress(2), (QVector<uint32_t>{11, 22, 33, 44}));
    // A new start begins from zero.
    QCOMPARE(send(start).result, RESULT_OK);
    QCOMPARE(readProgress(3), (QVector<uint32_t>{0, 0, 0, 0}));
}

QTEST_GUILESS_MAIN(TestWriteToDisk)
#include "tst_writetodisk.moc"
