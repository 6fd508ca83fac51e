// arvex-client's named parameter, settings and status commands as programs:
// the real arvex-client against arvex-remote --headless on 127.0.0.1 with
// the simulated camera, their output and exit statuses.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

// Ports of this test program: 29400 and up (see CMakeLists.txt).
constexpr quint16 kPortSeed = 29400;
constexpr int kProcessWaitMs = 15000;

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

bool portIsFree(quint16 port)
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::LocalHost), port,
                      QAbstractSocket::DontShareAddress);
}

}  // namespace

class TestCommandsCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void settingsRoundTrip();
    void commands_data();
    void commands();
    void noServer();

private:
    Outcome run(const QStringList &args, quint16 portBase = 0);
    bool startServer(quint16 portBase, QString *why);

    QTemporaryDir folder;
    QProcess server;
    quint16 base = 0;
};

Outcome TestCommandsCli::run(const QStringList &args, quint16 portBase)
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ARVEX_CLIENT_LOOPBACK_ONLY"), QStringLiteral("1"));
    client.setProcessEnvironment(env);
    client.start(QStringLiteral(ARVEX_CLIENT_PATH),
                 QStringList{"--port-base", QString::number(portBase ? portBase : base),
                             "--timeout", "500"} +
                     args);
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

bool TestCommandsCli::startServer(quint16 portBase, QString *why)
{
    // Without --log: the server's standard error stays a few lines, so its
    // pipe never fills while nobody reads it.
    server.start(QStringLiteral(ARVEX_REMOTE_PATH),
                 {"--headless", "--listen", "127.0.0.1", "--port-base", QString::number(portBase),
                  "--download-folder", folder.path()});
    if (!server.waitForStarted(kProcessWaitMs)) {
        *why = server.errorString();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QString err;
    while (clock.elapsed() < kProcessWaitMs) {
        server.waitForReadyRead(100);
        err += QString::fromLocal8Bit(server.readAllStandardError());
        if (err.contains(QLatin1String("arvex-remote: serving on")))
            return true;
        if (server.state() == QProcess::NotRunning) {
            *why = err;
            return false;
        }
    }
    *why = QStringLiteral("no start-up line: ") + err;
    return false;
}

void TestCommandsCli::initTestCase()
{
    QVERIFY(folder.isValid());
    QString why;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const quint16 candidate = quint16(kPortSeed + 2 * attempt);
        if (!portIsFree(candidate) || !portIsFree(quint16(candidate + 1)))
            continue;
        if (startServer(candidate, &why)) {
            base = candidate;
            break;
        }
        QVERIFY2(why.contains(QLatin1String("Cannot listen")), qPrintable(why));
    }
    QVERIFY2(base != 0, qPrintable(QStringLiteral("no server started: ") + why));
    const Outcome o = run({"open", "127.0.0.1", "--memory", "16"});
    QVERIFY2(o.exitCode == 0, qPrintable(o.err));
}

void TestCommandsCli::cleanupTestCase()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(kProcessWaitMs)) {
            server.kill();
            server.waitForFinished(kProcessWaitMs);
        }
    }
}

void TestCommandsCli::settingsRoundTrip()
{
    const QList<QPair<QStringList, QString>> steps = {
        {{"set-setting", "127.0.0.1", "3", "12"}, "set setting 3 to 12: acknowledged\n"},
        {{"set-setting", "127.0.0.1", "109", "640"}, "set setting 109 to 640: acknowledged\n"},
        {{"get-setting", "127.0.0.1", "109"}, "setting 109: 640\n"},
        {{"get-setting", "127.0.0.1", "110"}, "setting 110: 1024\n"},
        {{"refresh-settings", "127.0.0.1"}, "image bytes: 1310720\n"},
        // Refused by the camera: acknowledged, and nothing changed.
        {{"set-setting", "127.0.0.1", "3", "11"}, "set setting 3 to 11: acknowledged\n"},
        {{"get-setting", "127.0.0.1", "3"}, "setting 3: 12\n"},
        {{"flash", "127.0.0.1", "write"}, "settings written to flash: acknowledged\n"},
        {{"command", "127.0.0.1", "read-default-settings"}, "acknowledged, result 0"},
        {{"get-setting", "127.0.0.1", "109"}, "setting 109: 1280\n"},
        {{"get-setting", "127.0.0.1", "3"}, "setting 3: 8\n"},
        {{"flash", "127.0.0.1", "read"}, "settings read from flash: acknowledged\n"},
        {{"get-setting", "127.0.0.1", "109"}, "setting 109: 640\n"},
    };
    for (const auto &step : steps) {
        const Outcome o = run(step.first);
        QVERIFY2(o.exitCode == 0, qPrintable(step.first.join(' ') + ": " + o.err));
        QVERIFY2(o.out.contains(step.second), qPrintable(step.first.join(' ') + ": " + o.out));
    }
}

void TestCommandsCli::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");  // expected in standard output
    QTest::addColumn<QString>("err");  // expected in standard error

    QTest::newRow("text parameter") << QStringList{"get-param", "127.0.0.1", "35"} << 0
                                    << "parameter 35: \"Arvex simulated camera 0" << "";
    QTest::newRow("numeric parameter") << QStringList{"get-param", "127.0.0.1", "0xe"} << 0
                                       << "parameter 14: 1280 (second value 0)\n" << "";
    QTest::newRow("set parameter") << QStringList{"set-param", "127.0.0.1", "500", "-1"} << 0
                                   << "set parameter 500 to 4294967295: acknowledged\n" << "";
    QTest::newRow("status") << QStringList{"status", "127.0.0.1"} << 0 << "status: " << "";
    QTest::newRow("live on") << QStringList{"live", "127.0.0.1", "on"} << 0
                             << "live on: acknowledged\n" << "";
    QTest::newRow("live off") << QStringList{"live", "127.0.0.1", "off"} << 0
                              << "live off: acknowledged\n" << "";
    QTest::newRow("geometry") << QStringList{"geometry", "127.0.0.1"} << 0
                              << "streaming geometry: " << "";
    QTest::newRow("calibration progress") << QStringList{"calib-progress", "127.0.0.1"} << 0
                                          << "calibration: 0 of 0, not complete\n" << "";
    QTest::newRow("reset") << QStringList{"reset", "127.0.0.1"} << 0 << "reset: acknowledged\n"
                           << "";
    // No raw file is open: the driver refuses the geometry, the server says 2.
    QTest::newRow("geometry of no raw file") << QStringList{"geometry", "127.0.0.1", "--raw", "0"}
                                             << 3 << "" << "answered with result 2";
    QTest::newRow("status of no raw file") << QStringList{"status", "127.0.0.1", "--raw", "0"} << 0
                                           << "status: 0 0 0 0 0 0\n" << "";
    QTest::newRow("live without a word") << QStringList{"live", "127.0.0.1"} << 2 << ""
                                         << "usage: live ADDRESS on|off";
    QTest::newRow("live maybe") << QStringList{"live", "127.0.0.1", "maybe"} << 2 << ""
                                << "\"maybe\" is neither on nor off";
    QTest::newRow("flash with a number") << QStringList{"flash", "127.0.0.1", "1"} << 2 << ""
                                         << "neither read nor write";
    QTest::newRow("get-param without an id") << QStringList{"get-param", "127.0.0.1"} << 2 << ""
                                             << "needs 1 number";
    QTest::newRow("set-setting with junk") << QStringList{"set-setting", "127.0.0.1", "3", "12x"}
                                           << 2 << "" << "\"12x\" is not a 32-bit number";
    QTest::newRow("status with an argument") << QStringList{"status", "127.0.0.1", "1"} << 2 << ""
                                             << "takes no arguments";
}

void TestCommandsCli::commands()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Outcome o = run(args);
    QVERIFY2(o.exitCode == exitCode, qPrintable(o.out + o.err));
    QVERIFY2(o.out.contains(out), qPrintable(o.out));
    QVERIFY2(o.err.contains(err), qPrintable(o.err));
}

void TestCommandsCli::noServer()
{
    quint16 silent = 0;
    for (quint16 p = quint16(kPortSeed + 200); p < kPortSeed + 300 && !silent; p += 2) {
        if (portIsFree(p) && portIsFree(quint16(p + 1)))
            silent = p;
    }
    QVERIFY(silent != 0);
    const Outcome o = run({"status", "127.0.0.1"}, silent);
    QCOMPARE(o.exitCode, 1);
    QVERIFY2(o.err.contains(QLatin1String("no reply")), qPrintable(o.err));
    QVERIFY(o.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandsCli)
#include "tst_commands_cli.moc"
