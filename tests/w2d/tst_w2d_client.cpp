// arvex-client's recording commands: the command line they accept, and a
// recording made, watched, stopped, listed and read back through them against
// both real servers of the headless runner on 127.0.0.1 (simulated camera).
#include "clientcli.h"

#include "adapters.h"
#include "drivertable.h"
#include "headless.h"
#include "loopbackservers.h"
#include "testpattern.h"

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Ports of this program: 34000 and up (tests/w2d/CMakeLists.txt).
constexpr quint16 kPortSeed = 34000;

struct Run {
    int exit = -1;
    QString out;
    QString err;
};

}  // namespace

class TestW2dClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void parse_data();
    void parse();
    void recordWatchStopList();
    void refusals_data();
    void refusals();

private:
    Run client(const QStringList &words);

    QTemporaryDir temp;
    QString root;
    RunOptions options;
    std::unique_ptr<HeadlessServers> servers;
};

void TestW2dClient::initTestCase()
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
    QCOMPARE(activeDriver().setDriverOption(nullptr, ARVEX_OPTION_SIM_FRAME_US, 1000, 0), 0u);
}

void TestW2dClient::cleanupTestCase()
{
    servers.reset();
}

Run TestW2dClient::client(const QStringList &words)
{
    QStringList argv = {QStringLiteral("arvex-client"), QStringLiteral("--port-base"),
                        QString::number(options.portBase), QStringLiteral("--timeout"),
                        QStringLiteral("3000")};
    argv += words;
    Run run;
    ClientInvocation inv;
    QString error;
    if (!parseClientArguments(argv, &inv, &error)) {
        run.exit = ExitUsage;
        run.err = error;
        return run;
    }
    inv.loopbackOnly = true;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.exit = runClient(inv, out, err);
    return run;
}

void TestW2dClient::parse_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QString>("error");  // empty: accepted

    const QString a = QStringLiteral("127.0.0.1");
    QTest::newRow("start, action first")
        << QStringList{"w2d", "start", a, "--folder", "Rec\\Take1", "--volumes", "D,E",
                       "--options", "0x10"}
        << "";
    QTest::newRow("start, address first")
        << QStringList{"w2d", a, "start", "--folder=Rec/Take1"} << "";
    QTest::newRow("stop") << QStringList{"w2d", "stop", a} << "";
    QTest::newRow("progress watched") << QStringList{"w2d", "progress", a, "--watch", "3"} << "";
    QTest::newRow("save-raw") << QStringList{"save-raw", a, "E:\\Rec\\x.raw", "--from", "2",
                                             "--count", "5", "--folder-chars", "6"}
                              << "";
    QTest::newRow("start without folder") << QStringList{"w2d", "start", a} << "needs --folder";
    QTest::newRow("five volumes") << QStringList{"w2d", "start", a, "--folder", "x", "--volumes",
                                                 "DEFGH"}
                                  << "one to four";
    QTest::newRow("volume that is no letter")
        << QStringList{"w2d", "start", a, "--folder", "x", "--volumes", "D,1"} << "--volumes";
    QTest::newRow("unknown action") << QStringList{"w2d", "jump", a} << "not start, stop or progress";
    QTest::newRow("no action") << QStringList{"w2d", a} << "start, stop or progress";
    QTest::newRow("stop takes no folder")
        << QStringList{"w2d", "stop", a, "--folder", "x"} << "w2d stop takes no --folder";
    QTest::newRow("watch 0") << QStringList{"w2d", "progress", a, "--watch", "0"} << "--watch";
    QTest::newRow("save-raw without path") << QStringList{"save-raw", a} << "needs the path";
    QTest::newRow("folder-chars past the field")
        << QStringList{"save-raw", a, "x", "--folder-chars", "512"} << "--folder-chars";
    QTest::newRow("path too long")
        << QStringList{"save-raw", a, QString(512, 'p')} << "at most 511";
    QTest::newRow("path not Latin-1") << QStringList{"save-raw", a, QString::fromUtf8("Aufnahme\u20ac")}
                                      << "cannot take";
    QTest::newRow("other command takes no w2d option")
        << QStringList{"open", a, "--folder", "x"} << "open takes no --folder";
    QTest::newRow("w2d takes no --raw")
        << QStringList{"w2d", "stop", a, "--raw", "1"} << "takes no --raw";
}

void TestW2dClient::parse()
{
    QFETCH(QStringList, words);
    QFETCH(QString, error);
    ClientInvocation inv;
    QString why;
    const bool ok = parseClientArguments(QStringList{"arvex-client"} + words, &inv, &why);
    QCOMPARE(ok, error.isEmpty());
    if (!ok)
        QVERIFY2(why.contains(error), qPrintable(why));
    else
        QCOMPARE(inv.address, QStringLiteral("127.0.0.1"));
}

void TestW2dClient::recordWatchStopList()
{
    Run run = client({"open", "127.0.0.1", "--memory", "16"});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));

    // 256 x 256 x 8 bits: 64 KiB a frame, so a second of recording passes 1 MiB
    // even on a slow machine without filling the disk on a fast one.
    for (const char *setting : {"109", "110"}) {
        run = client({"set-setting", "127.0.0.1", setting, "256"});
        QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    }
    run = client({"w2d", "start", "127.0.0.1", "--folder", "Cli\\Take", "--volumes", "E"});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    QVERIFY(run.out.contains(QLatin1String("write-to-disk started into \"Cli\\Take\" on volume E")));

    run = client({"w2d", "progress", "127.0.0.1", "--watch", "1"});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 2, qPrintable(run.out));
    QVERIFY(lines.last().contains(QLatin1String("on 1 volume, ")));
    QVERIFY(lines.last().endsWith(QLatin1String("recording")));

    run = client({"w2d", "stop", "127.0.0.1"});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    QVERIFY2(run.out.contains(QLatin1String(", stopped")), qPrintable(run.out));
    const QString file = root + "/e/Cli/Take.00.raw";
    QVERIFY(QFileInfo(file).size() >= 1048576);

    run = client({"raw-list", "127.0.0.1"});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    // "raw file N:" followed by its lines, the text among them.
    const QRegularExpression entry(QStringLiteral("raw file (\\d+):\\n(?:  [^\\n]*\\n)*?"
                                                  "  text: \"Cli/Take\\.00\\.raw\""));
    const QRegularExpressionMatch listed = entry.match(run.out);
    QVERIFY2(listed.hasMatch(), qPrintable(run.out));
    const QString number = listed.captured(1);
    QVERIFY(client({"close", "127.0.0.1"}).exit == ExitOk);

    // The recording's frame 1, served by the raw-file server, to a PNG.
    QVERIFY(client({"open", "127.0.0.1", "--raw", number}).exit == ExitOk);
    const QString png = root + "/frame1.png";
    run = client({"read", "127.0.0.1", "--raw", number, "--source", "2", "--index", "1", "--out",
                  png});
    QVERIFY2(run.exit == ExitOk, qPrintable(run.err));
    QImage image(png);
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    QCOMPARE(image.size(), QSize(256, 256));
    std::vector<uint8_t> expected(256 * 256);
    renderTestPattern(expected.data(), 256, 256, 8, 1);
    for (int y = 0; y < 256; ++y)
        QVERIFY(std::memcmp(image.constScanLine(y), expected.data() + 256 * y, 256) == 0);
    QVERIFY(client({"close", "127.0.0.1", "--raw", number}).exit == ExitOk);
}

void TestW2dClient::refusals_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::newRow("w2d dotdot") << QStringList{"w2d", "start", "127.0.0.1", "--folder", "..\\x"};
    QTest::newRow("w2d other letter")
        << QStringList{"w2d", "start", "127.0.0.1", "--folder", "C:\\Windows\\x"};
    QTest::newRow("save-raw outside") << QStringList{"save-raw", "127.0.0.1", "/etc/x"};
    QTest::newRow("save-raw announced dotdot")
        << QStringList{"save-raw", "127.0.0.1", "Rec/..a/x", "--folder-chars", "6"};
}

void TestW2dClient::refusals()
{
    QFETCH(QStringList, words);
    const Run run = client(words);
    QCOMPARE(run.exit, int(ExitErrorResult));
    QVERIFY2(run.err.contains(QLatin1String("refused by the server")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestW2dClient)
#include "tst_w2d_client.moc"
