// Both servers on the simulated camera, over 127.0.0.1: discovery, raw-file
// information and open/close end to end, with raw files written to disk.
#include "deviceinfo.h"
#include "drivertable.h"
#include "monitorkit.h"
#include "protocol.h"
#include "rawfile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {
constexpr quint16 kPortSeed = 25000;

uint32_t u32(const QByteArray &a, int offset)
{
    return readU32(reinterpret_cast<const uint8_t *>(a.constData()), size_t(a.size()), size_t(offset));
}

bool writeRawFile(const QString &path, uint32_t width, uint32_t height, uint32_t bits, int frames)
{
    RawFileWriter writer;
    QString error;
    const RawFileHeader header = makeRawFileHeader(width, height, bits);
    if (!writer.create(path, header, &error))
        return false;
    std::vector<uint8_t> frame(header.frameBytes, 0x5A);
    for (int i = 0; i < frames; ++i)
        if (!writer.appendFrame(frame.data(), &error))
            return false;
    writer.close();
    return true;
}

Ack ackOf(const QByteArray &d) { return decodeAck(d); }
}  // namespace

class TestMonitorSimulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cameraServer();
    void rawFileServer();
    void rawFileServerWithNoFiles();

private:
    void setDriverOption(uint32_t option, uintptr_t value);

    QTemporaryDir rawFolder;
    QTemporaryDir emptyFolder;
    QByteArray rawFolderText;
    QByteArray emptyFolderText;
};

void TestMonitorSimulator::setDriverOption(uint32_t option, uintptr_t value)
{
    QVERIFY(simulatedDriverTable().setDriverOption);
    QCOMPARE(simulatedDriverTable().setDriverOption(nullptr, option, value, 0), 0u);
}

void TestMonitorSimulator::initTestCase()
{
    if (!simulatedDriverTable().enumerateDevices)
        QSKIP("the simulated driver is not built in");
    QVERIFY(rawFolder.isValid());
    QVERIFY(emptyFolder.isValid());
    QVERIFY(writeRawFile(rawFolder.filePath("a.raw"), 640, 480, 8, 2));
    QVERIFY(writeRawFile(rawFolder.filePath("b.raw"), 320, 240, 16, 1));
    rawFolderText = QFile::encodeName(rawFolder.path());
    emptyFolderText = QFile::encodeName(emptyFolder.path());
}

void TestMonitorSimulator::cameraServer()
{
    QCameraMonitor camera(simulatedDriverTable());
    camera.setMode(CameraMode);
    setDriverOption(ARVEX_OPTION_SIM_CAMERAS, 3);
    QVERIFY(startOnFreePort(camera, kPortSeed));
    TestClient client;
    const quint16 port = camera.listenPortNumber();

    client.send(enumerateRequest(0x0101), port);
    const QByteArray reply = client.receive();
    QCOMPARE(reply.size(), 216);
    const QVector<QByteArray> table = camera.cameraTable();
    QCOMPARE(table.size(), 3);
    // The reply describes the first camera only.
    const auto *first = reinterpret_cast<const uint8_t *>(table[0].constData());
    QCOMPARE(u32(reply, 8), deviceInfoU32(first, DeviceInfoOffset::ModelCode));
    QCOMPARE(u32(reply, 16), deviceInfoU32(first, DeviceInfoOffset::SerialNumber));
    QCOMPARE(QByteArray(reply.constData() + 76), QByteArray(table[0].constData() + DeviceInfoOffset::Text));
    QCOMPARE(u32(reply, 44), kLoopback);

    client.send(commandRequest(2, CMD_OPEN, {16}), port);
    const Ack open = ackOf(client.receive());
    QVERIFY(open.valid);
    QCOMPARE(int(open.result), 0);
    // The open finishes after its acknowledgement; the probe waits for it.
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    QCOMPARE(camera.currentStatus(), int(StatusConnected));
    QCOMPARE(camera.imageBufferCapacity(), 1280u * 1024u * 6u);

    client.send(commandRequest(3, CMD_CLOSE), port);
    QCOMPARE(int(ackOf(client.receive()).result), 0);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    QCOMPARE(camera.imageBufferCapacity(), 0u);
    QCOMPARE(camera.currentStatus(), int(StatusAwaitingConnection));
    camera.stopServer();
    setDriverOption(ARVEX_OPTION_SIM_CAMERAS, 1);
}

void TestMonitorSimulator::rawFileServer()
{
    QCameraMonitor raw(simulatedDriverTable());
    raw.setMode(RawFileMode);
    setDriverOption(ARVEX_OPTION_RAW_FOLDER, reinterpret_cast<uintptr_t>(rawFolderText.constData()));
    QVERIFY(startOnFreePort(raw, kPortSeed + 200));
    TestClient client;
    const quint16 port = raw.listenPortNumber();

    client.send(enumerateRequest(1), port);
    const QByteArray reply = client.receive();
    QCOMPARE(reply.size(), 216);
    QCOMPARE(u32(reply, 8), 48u);
    QCOMPARE(u32(reply, 16), 3401010001u);
    QCOMPARE(u32(reply, 204), 2u);

    for (int index : {0, 1}) {
        client.send(rawInfoRequest(uint16_t(10 + index), index), port);
        const QByteArray info = client.receive();
        QCOMPARE(info.size(), 216);
        QCOMPARE(int(uint8_t(info[3])), int(PKT_RAW_INFO));
    }
    client.send(rawInfoRequest(12, 2), port);
    QCOMPARE(ackOf(client.receive()).result, RESULT_NO_RAW_FILE);

    // The 640 x 480 file, then the 320 x 240 one: the buffers keep the first size.
    client.send(commandRequest(20, CMD_OPEN, {0, 0}), port);
    QCOMPARE(int(ackOf(client.receive()).result), 0);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    const quint32 capacity = raw.imageBufferCapacity();
    QVERIFY(capacity >= 640u * 480u * 6u);
    client.send(commandRequest(21, CMD_OPEN, {0, 1}), port);
    QCOMPARE(int(ackOf(client.receive()).result), 0);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    QCOMPARE(raw.imageBufferCapacity(), capacity);
    QCOMPARE(raw.openRawFileCount(), 2);
    // The same file again is refused silently.
    client.send(commandRequest(22, CMD_OPEN, {0, 1}), port);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);

    client.send(commandRequest(23, CMD_CLOSE, {}, 1), port);
    QCOMPARE(int(ackOf(client.receive()).result), 0);
    client.send(commandRequest(24, CMD_CLOSE, {}, 0), port);
    QCOMPARE(int(ackOf(client.receive()).result), 0);
    QCOMPARE(client.repliesBeforeProbe(port).size(), 0);
    QCOMPARE(raw.openRawFileCount(), 0);
    QCOMPARE(raw.imageBufferCapacity(), 0u);
}

void TestMonitorSimulator::rawFileServerWithNoFiles()
{
    QCameraMonitor raw(simulatedDriverTable());
    raw.setMode(RawFileMode);
    setDriverOption(ARVEX_OPTION_RAW_FOLDER, reinterpret_cast<uintptr_t>(emptyFolderText.constData()));
    QVERIFY(startOnFreePort(raw, kPortSeed + 400));
    TestClient client;
    client.send(enumerateRequest(1), raw.listenPortNumber());
    QCOMPARE(client.repliesBeforeProbe(raw.listenPortNumber()).size(), 0);
    QCOMPARE(raw.currentStatus(), int(StatusEnabled));
}

QTEST_GUILESS_MAIN(TestMonitorSimulator)
#include "tst_monitor_simulator.moc"
