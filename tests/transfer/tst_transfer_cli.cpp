// arvex-client as a program against a camera server on the simulated camera
// at 127.0.0.1: read writes a PNG of the right size and depth, the counters
// and a progress bar are reported, the grab commands answer, and errors end
// with a message and their exit code.
#include "monitorkit.h"

#include "drivertable.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Ports of this test program: 31500 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 31500;

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

}  // namespace

class TestTransferCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readToPng_data();
    void readToPng();
    void longReadShowsProgress();
    void grabCommands();
    void failures_data();
    void failures();

private:
    Outcome client(QStringList arguments, int timeoutMs = 30000);

    std::unique_ptr<QCameraMonitor> monitor;
    QTemporaryDir dir;
};

Outcome TestTransferCli::client(QStringList arguments, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ARVEX_CLIENT_LOOPBACK_ONLY"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    arguments.prepend(QString::number(monitor->listenPortNumber()));
    arguments.prepend(QStringLiteral("--port-base"));
    process.start(QStringLiteral(ARVEX_CLIENT_PATH), arguments);
    Outcome o;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return o;
    }
    o.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    o.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(process.readAllStandardError());
    return o;
}

void TestTransferCli::initTestCase()
{
    QVERIFY(dir.isValid());
    const DriverTable &sim = simulatedDriverTable();
    sim.setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0);
    monitor = std::make_unique<QCameraMonitor>(sim);
    QVERIFY(startOnFreePort(*monitor, kPortSeed));
    const Outcome open = client({QStringLiteral("open"), QStringLiteral("127.0.0.1")});
    QVERIFY2(open.exitCode == 0, qPrintable(open.err));
}

void TestTransferCli::cleanupTestCase()
{
    monitor.reset();
}

void TestTransferCli::readToPng_data()
{
    QTest::addColumn<uint>("bits");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("depth");  // of the loaded PNG's pixels
    QTest::newRow("8-bit gray") << 8u << 0 << 8;
    QTest::newRow("12-bit gray as 16") << 12u << 0 << 16;
    QTest::newRow("RGB 24") << 24u << 0 << 32;
    QTest::newRow("RGB 48") << 48u << 0 << 64;
    QTest::newRow("fast JPEG") << 8u << 1 << 8;
    QTest::newRow("JPEG RGB") << 24u << 2 << 32;
}

void TestTransferCli::readToPng()
{
    QFETCH(uint, bits);
    QFETCH(int, format);
    QFETCH(int, depth);
    monitor->setTransferOptions(4, format);
    for (const auto &[id, value] : {std::pair<int, uint>{109, 200}, {110, 120}, {3, bits}}) {
        const Outcome set = client({QStringLiteral("set-setting"), QStringLiteral("127.0.0.1"),
                                    QString::number(id), QString::number(value)});
        QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    }
    const QString path = dir.filePath(QStringLiteral("image-%1-%2.png").arg(bits).arg(format));
    const Outcome read = client({QStringLiteral("read"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("--source"), QStringLiteral("0"),
                                 QStringLiteral("--packet-size"), QStringLiteral("1400"),
                                 QStringLiteral("--out"), path});
    QVERIFY2(read.exitCode == 0, qPrintable(read.err));
    QVERIFY2(read.out.contains(QStringLiteral("read 200 x 120 at %1 bits").arg(bits)),
             qPrintable(read.out));
    QVERIFY2(read.out.contains(QLatin1String("segments received ")), qPrintable(read.out));
    QVERIFY(read.out.contains(QLatin1String("missing 0, resend requests 0")));
    const QImage image(path);
    QCOMPARE(image.size(), QSize(200, 120));
    QCOMPARE(image.depth(), depth);
    monitor->setTransferOptions(4, 0);
}

void TestTransferCli::longReadShowsProgress()
{
    for (const auto &[id, value] : {std::pair<int, uint>{109, 1280}, {110, 1024}, {3, 8u}}) {
        QCOMPARE(client({QStringLiteral("set-setting"), QStringLiteral("127.0.0.1"),
                         QString::number(id), QString::number(value)})
                     .exitCode,
                 0);
    }
    const QString path = dir.filePath(QStringLiteral("large.png"));
    // 1310720 bytes in 48-byte payloads: 27307 segments.
    const Outcome read = client({QStringLiteral("read"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("--packet-size=64"), QStringLiteral("--out"),
                                 path});
    QVERIFY2(read.exitCode == 0, qPrintable(read.err));
    QVERIFY2(read.err.contains(QLatin1String("] 100% 27307/27307 segments")), qPrintable(read.err));
    QCOMPARE(QImage(path).size(), QSize(1280, 1024));
}

void TestTransferCli::grabCommands()
{
    const Outcome start = client({QStringLiteral("grab"), QStringLiteral("start"),
                                  QStringLiteral("127.0.0.1"), QStringLiteral("--frames"),
                                  QStringLiteral("3"), QStringLiteral("--trigger"),
                                  QStringLiteral("1")});
    QVERIFY2(start.exitCode == 0, qPrintable(start.err));
    QVERIFY(start.out.startsWith(QLatin1String("memory grab started: 3 frames")));
    QTRY_VERIFY_WITH_TIMEOUT(
        client({QStringLiteral("trigger-index"), QStringLiteral("127.0.0.1")})
            .out.startsWith(QLatin1String("frames recorded 3, trigger position 1")),
        5000);
    const Outcome stop = client({QStringLiteral("grab"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("stop")});
    QVERIFY2(stop.exitCode == 0, qPrintable(stop.err));
    QCOMPARE(stop.out, QStringLiteral("memory grab stopped: 3 frames recorded\n"));
    const Outcome read = client({QStringLiteral("read"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("--source"), QStringLiteral("2"),
                                 QStringLiteral("--index"), QStringLiteral("2"),
                                 QStringLiteral("--out"), dir.filePath(QStringLiteral("m.png"))});
    QVERIFY2(read.exitCode == 0, qPrintable(read.err));
    const Outcome calibrate = client({QStringLiteral("calibrate"), QStringLiteral("127.0.0.1"),
                                      QStringLiteral("1")});
    QVERIFY2(calibrate.exitCode == 0, qPrintable(calibrate.err));
    QVERIFY(calibrate.out.startsWith(QLatin1String("calibration started (mode 1)")));
}

void TestTransferCli::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString out = QDir::tempPath() + QStringLiteral("/arvex-no-such-folder/x/y.png");
    QTest::newRow("no such memory frame")
        << QStringList{"read", "127.0.0.1", "--source", "2", "--index", "999999", "--out", "a.png"}
        << 3 << "result 7";
    QTest::newRow("output cannot be written")
        << QStringList{"read", "127.0.0.1", "--out", out} << 6 << "cannot write";
    QTest::newRow("bad source") << QStringList{"read", "127.0.0.1", "--source", "3", "--out", "a.png"}
                                << 2 << "--source";
    QTest::newRow("packet size out of range")
        << QStringList{"read", "127.0.0.1", "--packet-size", "31", "--out", "a.png"} << 2
        << "--packet-size";
    QTest::newRow("no out") << QStringList{"read", "127.0.0.1"} << 2 << "--out";
    QTest::newRow("raw-file server silent")
        << QStringList{"--timeout", "200", "trigger-index", "127.0.0.1", "--raw", "0"} << 1
        << "no reply";
}

void TestTransferCli::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    // Relative names land in the test's own folder.
    for (QString &a : arguments) {
        if (a == QLatin1String("a.png"))
            a = dir.filePath(a);
    }
    const Outcome o = client(arguments);
    QCOMPARE(o.exitCode, exitCode);
    QVERIFY2(o.err.contains(message), qPrintable(o.err));
    QVERIFY(o.err.startsWith(QLatin1String("arvex-client: ")) || o.err.contains("segments received"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("a.png"))));
}

QTEST_GUILESS_MAIN(TestTransferCli)
#include "tst_transfer_cli.moc"
