// The real programs: arvex-remote --headless on 127.0.0.1 and arvex-client,
// their output, exit statuses, and a clean stop on SIGTERM.
#include "rawfile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>
#include <vector>

namespace {

// Ports of this test program: 27400 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 27400;
constexpr int kProcessWaitMs = 15000;

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome runClient(const QStringList &args)
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ARVEX_CLIENT_LOOPBACK_ONLY"), QStringLiteral("1"));
    client.setProcessEnvironment(env);
    client.start(QStringLiteral(ARVEX_CLIENT_PATH), args);
    Outcome o;
    if (!client.waitForFinished(kProcessWaitMs)) {
        client.kill();
        client.waitForFinished(kProcessWaitMs);
        o.err = QStringLiteral("arvex-client did not finish");
        return o;
    }
    o.exitCode = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    o.out = QString::fromLocal8Bit(client.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(client.readAllStandardError());
    return o;
}

Outcome runRemote(const QStringList &args)
{
    QProcess remote;
    remote.start(QStringLiteral(ARVEX_REMOTE_PATH), args);
    Outcome o;
    if (!remote.waitForFinished(kProcessWaitMs)) {
        remote.kill();
        remote.waitForFinished(kProcessWaitMs);
        return o;
    }
    o.exitCode = remote.exitStatus() == QProcess::NormalExit ? remote.exitCode() : -1;
    o.out = QString::fromLocal8Bit(remote.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(remote.readAllStandardError());
    return o;
}

// True when nothing is bound to this UDP port on 127.0.0.1.
bool portIsFree(quint16 port)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHost), port,
                      QAbstractSocket::DontShareAddress);
}

}  // namespace

class TestCliProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void client_data();
    void client();
    void rawFilesListed();
    void logLinesOnStandardError();
    void remoteRefuses_data();
    void remoteRefuses();
    void secondServerOnTakenPorts();
    void loadedDriver();
    void stopsCleanlyOnSigterm();

private:
    bool startServer(QProcess *process, quint16 base, QString *why,
                     const QStringList &extra = {});
    bool waitForServerText(const QString &text, int ms);

    QTemporaryDir folder;
    QProcess server;
    QString serverErr;
    quint16 base = 0;
};

bool TestCliProcess::startServer(QProcess *process, quint16 portBase, QString *why,
                                 const QStringList &extra)
{
    process->start(QStringLiteral(ARVEX_REMOTE_PATH),
                   QStringList{"--headless", "--log", "--listen", "127.0.0.1", "--port-base",
                               QString::number(portBase), "--download-folder", folder.path()} +
                       extra);
    if (!process->waitForStarted(kProcessWaitMs)) {
        *why = process->errorString();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QString err;
    while (clock.elapsed() < kProcessWaitMs) {
        process->waitForReadyRead(100);
        err += QString::fromLocal8Bit(process->readAllStandardError());
        if (err.contains(QLatin1String("arvex-remote: serving on"))) {
            serverErr = err;
            return true;
        }
        if (process->state() == QProcess::NotRunning) {
            *why = err;
            return false;
        }
    }
    *why = QStringLiteral("no start-up line: ") + err;
    return false;
}

bool TestCliProcess::waitForServerText(const QString &text, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        serverErr += QString::fromLocal8Bit(server.readAllStandardError());
        if (serverErr.contains(text))
            return true;
        server.waitForReadyRead(50);
    }
    return false;
}

void TestCliProcess::initTestCase()
{
    QVERIFY(folder.isValid());
    QString why;
    for (int attempt = 0; attempt < 40; ++attempt) {
        base = quint16(kPortSeed + 2 * attempt);
        if (!portIsFree(base) || !portIsFree(quint16(base + 1)))
            continue;
        if (startServer(&server, base, &why))
            return;
        QVERIFY2(why.contains(QLatin1String("Cannot listen")), qPrintable(why));
    }
    QFAIL(qPrintable(QStringLiteral("no server started: ") + why));
}

void TestCliProcess::cleanupTestCase()
{
    if (server.state() != QProcess::NotRunning) {
        server.kill();
        server.waitForFinished(kProcessWaitMs);
    }
}

void TestCliProcess::client_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");  // expected in standard output
    QTest::addColumn<QString>("err");  // expected in standard error

    QTest::newRow("discover") << QStringList{"discover", "127.0.0.1"} << 0
                              << "text: \"Arvex simulated camera 0\"" << "";
    QTest::newRow("discover reports the missing raw files")
        << QStringList{"discover", "127.0.0.1"} << 0 << "no raw files (no reply from" << "";
    QTest::newRow("open") << QStringList{"open", "127.0.0.1", "--memory", "16"} << 0
                          << "opened the camera (16 MB" << "";
    QTest::newRow("nop") << QStringList{"nop", "127.0.0.1"} << 0 << "nop acknowledged" << "";
    QTest::newRow("generic nop") << QStringList{"command", "127.0.0.1", "nop"} << 0
                                 << "31 (nop): acknowledged, result 0" << "";
    QTest::newRow("unknown sub-command is not answered")
        << QStringList{"command", "127.0.0.1", "200"} << 1 << ""
        << "sub-command 200 is not one of the protocol's";
    QTest::newRow("close") << QStringList{"close", "127.0.0.1"} << 0 << "closed the camera" << "";
    QTest::newRow("raw-list without raw files") << QStringList{"raw-list", "127.0.0.1"} << 1 << ""
                                                << "stays silent when it has no raw files";
    QTest::newRow("raw-info without raw files") << QStringList{"raw-info", "127.0.0.1", "0"} << 1
                                                << "" << "no reply from 127.0.0.1 port";
    QTest::newRow("open of an absent raw file") << QStringList{"open", "127.0.0.1", "--raw", "4"}
                                                << 1 << "" << "no reply";
    QTest::newRow("bad option value") << QStringList{"--timeout", "soon", "nop", "127.0.0.1"} << 2
                                      << "" << "--timeout";
    QTest::newRow("unknown command") << QStringList{"scan", "127.0.0.1"} << 2 << "" << "scan";
    // Refused before any socket exists: nothing is sent.
    QTest::newRow("outside 127.0.0.0/8 in a test run") << QStringList{"nop", "192.0.2.1"} << 5
                                                       << "" << "refusing to send to 192.0.2.1";
}

void TestCliProcess::client()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    const Outcome o = runClient(QStringList{"--port-base", QString::number(base), "--timeout",
                                            "300"} +
                                args);
    QVERIFY2(o.exitCode == exitCode, qPrintable(o.out + o.err));
    QVERIFY2(o.out.contains(out), qPrintable(o.out));
    QVERIFY2(o.err.contains(err), qPrintable(o.err));
}

void TestCliProcess::rawFilesListed()
{
    RawFileWriter writer;
    QString error;
    const RawFileHeader header = makeRawFileHeader(40, 30, 8);
    QVERIFY(writer.create(folder.path() + "/take.raw", header, &error));
    std::vector<uint8_t> frame(header.frameBytes, 1);
    QVERIFY(writer.appendFrame(frame.data(), &error));
    writer.close();

    const QStringList common{"--port-base", QString::number(base), "--timeout", "500"};
    Outcome o = runClient(common + QStringList{"raw-list", "127.0.0.1"});
    QVERIFY2(o.exitCode == 0, qPrintable(o.err));
    QVERIFY2(o.out.contains(QStringLiteral("port %1: 1\n").arg(base + 1)), qPrintable(o.out));
    QVERIFY(o.out.contains(QLatin1String("text: \"take.raw\"")));

    o = runClient(common + QStringList{"raw-info", "127.0.0.1", "1"});
    QCOMPARE(o.exitCode, 3);
    QVERIFY2(o.err.contains(QLatin1String("no raw file with index 1")), qPrintable(o.err));

    o = runClient(common + QStringList{"open", "127.0.0.1", "--raw", "0"});
    QVERIFY2(o.exitCode == 0, qPrintable(o.err));
    o = runClient(common + QStringList{"close", "127.0.0.1", "--raw", "0"});
    QVERIFY2(o.exitCode == 0, qPrintable(o.err));
    QVERIFY(o.out.contains(QLatin1String("closed raw file 0")));
    QFile::remove(folder.path() + "/take.raw");
}

void TestCliProcess::logLinesOnStandardError()
{
    QCOMPARE(runClient({"--port-base", QString::number(base), "nop", "127.0.0.1"}).exitCode, 0);
    QVERIFY(runClient({"--port-base", QString::number(base), "discover", "127.0.0.1"}).exitCode ==
            0);
    QVERIFY(waitForServerText(QStringLiteral("Received cam enum command from add [127.0.0.1]"),
                              5000));
    // Plain text: the stamp with its two spaces, then the message; no HTML.
    static const QRegularExpression line(
        QStringLiteral("^\\d{2,}:\\d{2}:\\d{2}:\\d{3}  Received cam enum command from add "
                       "\\[127\\.0\\.0\\.1\\], port \\d+\\.$"),
        QRegularExpression::MultilineOption);
    QVERIFY2(line.match(serverErr).hasMatch(), qPrintable(serverErr));
    QVERIFY(!serverErr.contains(QLatin1String("<font")));
}

void TestCliProcess::remoteRefuses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");

    QTest::newRow("no adapter has the address")
        << QStringList{"--headless", "--listen", "203.0.113.7", "--port-base", "27398",
                       "--download-folder", "DL"}
        << 2 << "no network adapter has the address 203.0.113.7";
    QTest::newRow("bad option value") << QStringList{"--headless", "--sim-cameras", "9"} << 2
                                      << "--sim-cameras";
    QTest::newRow("unknown option") << QStringList{"--headles"} << 2 << "--headles";
    QTest::newRow("driver that does not load")
        << QStringList{"--headless", "--listen", "127.0.0.1", "--driver", "/nonexistent/drv.so",
                       "--download-folder", "DL"}
        << 2 << "/nonexistent/drv.so";
    QTest::newRow("driver without an operation")
        << QStringList{"--headless", "--listen", "127.0.0.1", "--driver",
                       ARVEX_TEST_DRIVER_MISSING_OP_PATH, "--download-folder", "DL"}
        << 2 << "getStatus";
}

void TestCliProcess::remoteRefuses()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    args.replaceInStrings(QStringLiteral("DL"), folder.path());
    const Outcome o = runRemote(args);
    QCOMPARE(o.exitCode, exitCode);
    QVERIFY2(o.err.contains(err), qPrintable(o.err));

    const Outcome help = runRemote({"--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains(QLatin1String("--listen ADDRESS")));
}

void TestCliProcess::secondServerOnTakenPorts()
{
    const Outcome o = runRemote({"--headless", "--listen", "127.0.0.1", "--port-base",
                                 QString::number(base), "--download-folder", folder.path()});
    QCOMPARE(o.exitCode, 1);
    QVERIFY2(o.err.contains(QStringLiteral("port %1").arg(base)), qPrintable(o.err));
    // The first server still answers.
    QCOMPARE(runClient({"--port-base", QString::number(base), "nop", "127.0.0.1"}).exitCode, 0);
}

void TestCliProcess::loadedDriver()
{
    // The camera server then serves the library's camera, not the simulator's.
    QProcess other;
    QString why;
    quint16 otherBase = 0;
    for (int attempt = 0; attempt < 20 && otherBase == 0; ++attempt) {
        const quint16 candidate = quint16(kPortSeed + 100 + 2 * attempt);
        if (portIsFree(candidate) && portIsFree(quint16(candidate + 1)) &&
            startServer(&other, candidate, &why, {"--driver", ARVEX_TEST_DRIVER_PATH}))
            otherBase = candidate;
    }
    QVERIFY2(otherBase != 0, qPrintable(why));
    const Outcome o = runClient({"--port-base", QString::number(otherBase), "discover",
                                 "127.0.0.1"});
    QCOMPARE(o.exitCode, 0);
    QVERIFY2(o.out.contains(QLatin1String("text: \"Arvex test camera\"")), qPrintable(o.out));
    ::kill(pid_t(other.processId()), SIGTERM);
    QVERIFY(other.waitForFinished(kProcessWaitMs));
    QCOMPARE(other.exitCode(), 0);
}

void TestCliProcess::stopsCleanlyOnSigterm()
{
    // Opened first, so that the stop has a device to close.
    QCOMPARE(runClient({"--port-base", QString::number(base), "open", "127.0.0.1"}).exitCode, 0);
    ::kill(pid_t(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(kProcessWaitMs));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    serverErr += QString::fromLocal8Bit(server.readAllStandardError());
    QVERIFY2(serverErr.contains(QLatin1String("arvex-remote: stopped")), qPrintable(serverErr));

    // The ports are free again, and nothing answers there any more.
    QVERIFY(portIsFree(base));
    const Outcome o = runClient({"--port-base", QString::number(base), "--timeout", "200", "nop",
                                 "127.0.0.1"});
    QCOMPARE(o.exitCode, 1);
    QVERIFY2(o.err.contains(QStringLiteral("no reply from 127.0.0.1 port %1 within 200 ms")
                                .arg(base)),
             qPrintable(o.err));
}

QTEST_GUILESS_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"
