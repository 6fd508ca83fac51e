// arvex-remote's command line: every option, its bounds and its errors.
#include "runoptions.h"

#include <QDir>
#include <QtTest>

class TestRunOptions : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void volumes();
    void help();
};

namespace {

QStringList argv(const QStringList &rest)
{
    return QStringList{QStringLiteral("arvex-remote")} + rest;
}

// A compact view of what parsing produced, to compare in one go.
QString summary(const RunOptions &o)
{
    QStringList parts;
    if (o.headless)
        parts << QStringLiteral("headless");
    if (o.log)
        parts << QStringLiteral("log");
    if (o.help)
        parts << QStringLiteral("help");
    if (o.listen)
        parts << QStringLiteral("listen=%1").arg(*o.listen);
    parts << QStringLiteral("base=%1").arg(o.portBase) << QStringLiteral("sim=%1").arg(o.simCameras);
    if (o.downloadFolder)
        parts << QStringLiteral("download=%1").arg(*o.downloadFolder);
    if (o.driverPath)
        parts << QStringLiteral("driver=%1").arg(*o.driverPath);
    if (o.imageFormat)
        parts << QStringLiteral("format=%1").arg(*o.imageFormat);
    if (o.netPerformance)
        parts << QStringLiteral("net=%1").arg(*o.netPerformance);
    for (const RecordingVolume &v : o.volumes)
        parts << QStringLiteral("%1=%2").arg(v.letter).arg(v.folder);
    return parts.join(QLatin1Char(' '));
}

}  // namespace

void TestRunOptions::defaults()
{
    RunOptions o;
    QString error;
    QVERIFY(parseRunOptions(argv({}), &o, &error));
    QCOMPARE(summary(o), QStringLiteral("base=1030 sim=1"));
    QVERIFY(o.volumes.isEmpty());
}

void TestRunOptions::accepted_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("want");

    QTest::newRow("flags") << QStringList{"--headless", "--log"} << "headless log base=1030 sim=1";
    QTest::newRow("listen") << QStringList{"--listen", "127.0.0.1"}
                            << "listen=127.0.0.1 base=1030 sim=1";
    QTest::newRow("inline value") << QStringList{"--port-base=2000"} << "base=2000 sim=1";
    QTest::newRow("port base bounds") << QStringList{"--port-base", "1", "--port-base", "65534"}
                                      << "base=65534 sim=1";
    QTest::newRow("no cameras") << QStringList{"--sim-cameras", "0"} << "base=1030 sim=0";
    QTest::newRow("four cameras") << QStringList{"--sim-cameras", "4"} << "base=1030 sim=4";
    QTest::newRow("absolute download folder") << QStringList{"--download-folder", "/tmp/a/../b/"}
                                              << "base=1030 sim=1 download=/tmp/b";
    QTest::newRow("driver") << QStringList{"--driver", "/opt/lib/drv.so"}
                            << "base=1030 sim=1 driver=/opt/lib/drv.so";
    QTest::newRow("image formats") << QStringList{"--image-format", "2"}
                                   << "base=1030 sim=1 format=2";
    QTest::newRow("no delay") << QStringList{"--net-performance", "0"} << "base=1030 sim=1 net=0";
    QTest::newRow("largest delay") << QStringList{"--net-performance", "1000000"}
                                   << "base=1030 sim=1 net=1000000";
    QTest::newRow("help") << QStringList{"-h"} << "help base=1030 sim=1";
}

void TestRunOptions::accepted()
{
    QFETCH(QStringList, args);
    QFETCH(QString, want);
    RunOptions o;
    QString error;
    QVERIFY2(parseRunOptions(argv(args), &o, &error), qPrintable(error));
    QCOMPARE(summary(o), want);
}

void TestRunOptions::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");  // the error must name this

    QTest::newRow("unknown option") << QStringList{"--fast"} << "--fast";
    QTest::newRow("positional") << QStringList{"extra"} << "extra";
    QTest::newRow("missing value") << QStringList{"--port-base"} << "--port-base";
    QTest::newRow("port base 0") << QStringList{"--port-base", "0"} << "--port-base";
    QTest::newRow("port base 65535 leaves no raw-file port") << QStringList{"--port-base", "65535"}
                                                             << "--port-base";
    QTest::newRow("port base not a number") << QStringList{"--port-base", "12ab"} << "12ab";
    QTest::newRow("port base hex") << QStringList{"--port-base", "0x400"} << "--port-base";
    QTest::newRow("five cameras") << QStringList{"--sim-cameras", "5"} << "--sim-cameras";
    QTest::newRow("negative cameras") << QStringList{"--sim-cameras", "-1"} << "--sim-cameras";
    QTest::newRow("image format 3") << QStringList{"--image-format", "3"} << "--image-format";
    QTest::newRow("delay too large") << QStringList{"--net-performance", "1000001"}
                                     << "--net-performance";
    QTest::newRow("delay negative") << QStringList{"--net-performance", "-4"}
                                    << "--net-performance";
    QTest::newRow("listen three parts") << QStringList{"--listen", "127.0.1"} << "127.0.1";
    QTest::newRow("listen five parts") << QStringList{"--listen", "1.2.3.4.5"} << "--listen";
    QTest::newRow("listen part above 255") << QStringList{"--listen", "1.2.3.256"} << "--listen";
    QTest::newRow("listen host name") << QStringList{"--listen", "localhost"} << "--listen";
    QTest::newRow("empty download folder") << QStringList{"--download-folder="}
                                           << "--download-folder";
    QTest::newRow("empty driver") << QStringList{"--driver", ""} << "--driver";
    QTest::newRow("value on a flag") << QStringList{"--headless=yes"} << "--headless";
    QTest::newRow("volume without folder") << QStringList{"--volume", "D="} << "--volume";
    QTest::newRow("volume without letter") << QStringList{"--volume", "/mnt"} << "--volume";
    QTest::newRow("volume digit letter") << QStringList{"--volume", "1=/mnt"} << "--volume";
    QTest::newRow("volume twice, any case") << QStringList{"--volume", "d=/a", "--volume", "D=/b"}
                                            << "D";
}

void TestRunOptions::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    RunOptions o;
    o.portBase = 4242;
    QString error;
    QVERIFY(!parseRunOptions(argv(args), &o, &error));
    QVERIFY2(error.contains(named), qPrintable(error));
    // Nothing half-parsed leaks into the caller's options.
    QCOMPARE(o.portBase, quint16(4242));
}

void TestRunOptions::volumes()
{
    RunOptions o;
    QString error;
    QVERIFY(parseRunOptions(argv({"--volume", "e=/mnt/ssd1/", "--volume", "F=rel/dir"}), &o,
                            &error));
    QCOMPARE(o.volumes.size(), 2);
    QCOMPARE(o.volumes[0].letter, QChar('E'));
    QCOMPARE(o.volumes[0].folder, QStringLiteral("/mnt/ssd1"));
    QCOMPARE(o.volumes[1].letter, QChar('F'));
    QCOMPARE(o.volumes[1].folder, QDir::cleanPath(QDir::currentPath() + "/rel/dir"));
}

void TestRunOptions::help()
{
    const QString text = runOptionsHelp();
    for (const char *option : {"--headless", "--listen", "--port-base", "--sim-cameras",
                               "--download-folder", "--volume", "--driver", "--image-format",
                               "--net-performance", "--log", "--help"})
        QVERIFY2(text.contains(QLatin1String(option)), option);
}

QTEST_APPLESS_MAIN(TestRunOptions)
#include "tst_runoptions.moc"
