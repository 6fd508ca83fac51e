// The application object: the five settings (load, adapter check, save,
// command-line overrides kept out of the store), pixel scaling and the
// styled message box.
#include "qrmapplication.h"
#include "settings.h"
#include "settingsadapters.h"

#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstring>

namespace {

AdapterInfo adapter(const char *name, uint32_t ip)
{
    AdapterInfo info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.name, name, sizeof info.name - 1);
    std::strncpy(info.description, name, sizeof info.description - 1);
    std::strncpy(info.macText, "02:00:00:00:00:01", sizeof info.macText - 1);
    info.ipAddress = ip;
    info.mtu = 1500;
    return info;
}

using Adapters = QVector<AdapterInfo>;

void useAdapters(const Adapters &list)
{
    setAdapterLister([list](AdapterInfo *out, int capacity) {
        const int n = qMin(capacity, list.size());
        for (int i = 0; i < n; ++i)
            out[i] = list.at(i);
        return n;
    });
}

QRMApplication *app()
{
    return QRMApplication::instance();
}

void clearStore()
{
    QSettings(settingsOrganization(), settingsApplication()).clear();
}

}  // namespace

Q_DECLARE_METATYPE(Adapters)

class TestQRMApplication : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void initialisation();
    void defaultsAndConversions();
    void adapterCheck_data();
    void adapterCheck();
    void loadAndSaveRoundTrip();
    void overridesAreNotSaved_data();
    void overridesAreNotSaved();
    void scalePixels_data();
    void scalePixels();
    void fontSizeForScreen_data();
    void fontSizeForScreen();
    void messageBox_data();
    void messageBox();
    void messageBoxReturnsTheChoice();
};

void TestQRMApplication::init()
{
    clearStore();
    app()->setOverrides(SettingsOverrides());
    useAdapters({adapter("lo-a", 0x7F000001)});
}

void TestQRMApplication::initialisation()
{
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Korvane"));
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Arvex Remote Control"));
    QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("1.00.06"));
    const QString sheet = app()->styleSheet();
    QVERIFY(sheet.contains(QStringLiteral("#201F1F")));
    QVERIFY(sheet.contains(QStringLiteral("rgba(255,170,52,160)")));
    QVERIFY(!sheet.contains(QChar(0)));
    for (const char *image : {":/res/splash.png", ":/res/camera.png", ":/res/trayicon.png",
                              ":/res/ico-inf.png", ":/res/ico-wrn.png", ":/res/ico-qstn.png",
                              ":/res/ico-err.png", ":/res/cam.ico"})
        QVERIFY2(!QPixmap(QLatin1String(image)).isNull(), image);
    QCOMPARE(QPixmap(":/res/splash.png").size(), QSize(840, 420));
    QCOMPARE(QPixmap(":/res/camera.png").size(), QSize(64, 64));
    QCOMPARE(QPixmap(":/res/trayicon.png").size(), QSize(16, 16));
    QCOMPARE(QPixmap(":/res/ico-wrn.png").size(), QSize(80, 80));
    // Every image the style sheet names is there.
    QRegularExpression url(QStringLiteral("url\\((:/res/[^)]+)\\)"));
    auto matches = url.globalMatch(sheet);
    int images = 0;
    while (matches.hasNext()) {
        const QString path = matches.next().captured(1);
        QVERIFY2(!QPixmap(path).isNull(), qPrintable(path));
        ++images;
    }
    QVERIFY(images >= 12);
}

void TestQRMApplication::defaultsAndConversions()
{
    QTemporaryDir dir;
    QSettings store(dir.filePath("s.ini"), QSettings::IniFormat);
    StoredSettings expected;
    QCOMPARE(readStoredSettings(store), expected);
    QCOMPARE(expected.netPerformance, 4);
    QCOMPARE(expected.imageFormat, 0);
    QVERIFY(expected.firstTime);

    store.setValue("Settings/NetPerformance", 250);
    store.setValue("Settings/ImageFormat", QStringLiteral("jpeg"));
    store.setValue("Settings/FirstTime", QStringLiteral("false"));
    const StoredSettings read = readStoredSettings(store);
    QCOMPARE(read.netPerformance, 250);  // no range check when loading
    QCOMPARE(read.imageFormat, 0);       // the conversion's result, not the default
    QVERIFY(!read.firstTime);
}

void TestQRMApplication::adapterCheck_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<Adapters>("adapters");
    QTest::addColumn<QString>("result");
    const Adapters pair = {adapter("eth0", 0), adapter("eth1", 0xC0A8030A)};
    QTest::newRow("first run: first with an address") << "" << pair << "eth1";
    QTest::newRow("present without address stays") << "eth0" << pair << "eth0";
    QTest::newRow("present stays") << "eth1" << pair << "eth1";
    QTest::newRow("gone: first with an address") << "wlan7" << pair << "eth1";
    QTest::newRow("names are case-sensitive") << "ETH0" << pair << "eth1";
    QTest::newRow("none with an address: stale stays")
        << "wlan7" << Adapters{adapter("eth0", 0)} << "wlan7";
    QTest::newRow("no adapters: stale stays") << "wlan7" << Adapters{} << "wlan7";
    QTest::newRow("no adapters, first run") << "" << Adapters{} << "";
}

void TestQRMApplication::adapterCheck()
{
    QFETCH(QString, stored);
    QFETCH(Adapters, adapters);
    QFETCH(QString, result);
    QCOMPARE(checkedAdapterName(stored, adapters.constData(), adapters.size()), result);

    // The same through the application's load.
    useAdapters(adapters);
    if (!stored.isEmpty())
        QSettings(settingsOrganization(), settingsApplication()).setValue("Settings/NetAdapter", stored);
    app()->loadSettings();
    QCOMPARE(app()->netAdapter, result);
}

void TestQRMApplication::loadAndSaveRoundTrip()
{
    app()->loadSettings();
    QCOMPARE(app()->netAdapter, QStringLiteral("lo-a"));
    QCOMPARE(app()->netPerformance, 4);
    QCOMPARE(app()->imageFormat, 0);
    QVERIFY(app()->firstTime);
    QCOMPARE(app()->downloadFolder, QString());

    app()->netPerformance = 250;
    app()->imageFormat = 1;
    app()->firstTime = false;
    app()->downloadFolder = QStringLiteral("/data/raw");
    app()->saveSettings();
    {
        QSettings store(settingsOrganization(), settingsApplication());
        QCOMPARE(store.value("Settings/NetAdapter").toString(), QStringLiteral("lo-a"));
        QCOMPARE(store.value("Settings/NetPerformance").toInt(), 250);
        QCOMPARE(store.value("Settings/ImageFormat").toInt(), 1);
        QCOMPARE(store.value("Settings/FirstTime").toBool(), false);
        QCOMPARE(store.value("Settings/DownloadFolder").toString(), QStringLiteral("/data/raw"));
    }
    app()->netPerformance = 0;
    app()->loadSettings();
    QCOMPARE(app()->netPerformance, 250);
    QVERIFY(!app()->firstTime);
    QCOMPARE(app()->downloadFolder, QStringLiteral("/data/raw"));
}

void TestQRMApplication::overridesAreNotSaved_data()
{
    QTest::addColumn<bool>("userChanges");
    QTest::newRow("override left alone") << false;
    QTest::newRow("user changed it during the run") << true;
}

void TestQRMApplication::overridesAreNotSaved()
{
    QFETCH(bool, userChanges);
    useAdapters({adapter("lo-a", 0x7F000001), adapter("lo-b", 0x7F000002)});
    app()->loadSettings();
    SettingsOverrides overrides;
    overrides.netAdapter = QStringLiteral("lo-b");
    overrides.netPerformance = 500000;
    overrides.imageFormat = 2;
    overrides.downloadFolder = QStringLiteral("/tmp/run-only");
    app()->setOverrides(overrides);
    // The run uses them.
    QCOMPARE(app()->netAdapter, QStringLiteral("lo-b"));
    QCOMPARE(app()->netPerformance, 500000);
    QCOMPARE(app()->imageFormat, 2);
    QCOMPARE(app()->downloadFolder, QStringLiteral("/tmp/run-only"));

    if (userChanges) {
        app()->netAdapter = QStringLiteral("lo-a");
        app()->netPerformance = 9;
        app()->imageFormat = 1;
        app()->downloadFolder = QStringLiteral("/data/chosen");
    }
    app()->firstTime = false;
    app()->saveSettings();
    QSettings store(settingsOrganization(), settingsApplication());
    QCOMPARE(store.value("Settings/NetAdapter").toString(), QStringLiteral("lo-a"));
    QCOMPARE(store.value("Settings/NetPerformance").toInt(), userChanges ? 9 : 4);
    QCOMPARE(store.value("Settings/ImageFormat").toInt(), userChanges ? 1 : 0);
    QCOMPARE(store.value("Settings/DownloadFolder").toString(),
             userChanges ? QStringLiteral("/data/chosen") : QString());
    QCOMPARE(store.value("Settings/FirstTime").toBool(), false);
}

void TestQRMApplication::scalePixels_data()
{
    QTest::addColumn<double>("factor");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("scaled");
    QTest::newRow("840") << 1.0 << 840 << 840;
    QTest::newRow("101") << 1.0 << 101 << 100;
    QTest::newRow("0") << 1.0 << 0 << 0;
    QTest::newRow("1") << 1.0 << 1 << 0;
    QTest::newRow("1.5 x 101") << 1.5 << 101 << 152;
    QTest::newRow("1.25 x 540") << 1.25 << 540 << 674;
}

void TestQRMApplication::scalePixels()
{
    QFETCH(double, factor);
    QFETCH(int, value);
    QFETCH(int, scaled);
    app()->scaleFactor = factor;
    QCOMPARE(app()->scalePixels(value), scaled);
    app()->scaleFactor = 1.0;
}

void TestQRMApplication::fontSizeForScreen_data()
{
    QTest::addColumn<double>("dpi");
    QTest::addColumn<int>("points");
    QTest::newRow("96") << 96.0 << 10;
    QTest::newRow("72") << 72.0 << 10;
    QTest::newRow("96.5") << 96.5 << 8;
    QTest::newRow("120") << 120.0 << 8;
}

void TestQRMApplication::fontSizeForScreen()
{
    QFETCH(double, dpi);
    QFETCH(int, points);
    QCOMPARE(fontPointSizeForDpi(dpi), points);
    QCOMPARE(messageBoxStyleSheet(points),
             QStringLiteral("QPushButton { padding: 2px; min-width: 60px; min-height: 25px; } "
                            "QLabel { font: normal %1pt \"Helvetica\"; }")
                 .arg(points));
}

void TestQRMApplication::messageBox_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::newRow("warning yes/no") << (MsgWarning | MsgYesNo) << ":/res/ico-wrn.png"
                                    << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No);
    QTest::newRow("information") << int(MsgInformation) << ":/res/ico-inf.png"
                                 << int(QMessageBox::Ok) << int(QMessageBox::Ok);
    QTest::newRow("question yes/no/cancel")
        << (MsgQuestion | MsgYesNoCancel) << ":/res/ico-qstn.png"
        << int(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) << int(QMessageBox::No);
    QTest::newRow("warning wins over information")
        << (MsgWarning | MsgInformation) << ":/res/ico-wrn.png" << int(QMessageBox::Ok)
        << int(QMessageBox::Ok);
    QTest::newRow("no icon") << int(MsgYesNo) << "" << int(QMessageBox::Yes | QMessageBox::No)
                             << int(QMessageBox::No);
}

void TestQRMApplication::messageBox()
{
    QFETCH(int, flags);
    QFETCH(QString, icon);
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    for (int points : {8, 10}) {
        app()->fontPointSize = points;
        std::unique_ptr<QMessageBox> box(app()->createMessageBox(QStringLiteral("Text"), flags, nullptr));
        QCOMPARE(box->text(), QStringLiteral("Text"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Arvex Remote Control"));
        QVERIFY(!box->windowIcon().isNull());
        QCOMPARE(box->styleSheet(), messageBoxStyleSheet(points));
        QVERIFY(box->styleSheet().contains(QStringLiteral("font: normal %1pt").arg(points)));
        if (icon.isEmpty())
            QVERIFY(box->iconPixmap().isNull());
        else
            QCOMPARE(box->iconPixmap().toImage(), QPixmap(icon).toImage());
        QCOMPARE(int(box->standardButtons()), buttons);
        QCOMPARE(int(box->standardButton(box->defaultButton())), defaultButton);
    }
    app()->fontPointSize = 10;
}

void TestQRMApplication::messageBoxReturnsTheChoice()
{
    QTimer::singleShot(100, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->defaultButton()->click();
    });
    QCOMPARE(app()->showMessageBox(QStringLiteral("Sure?"), MsgWarning | MsgYesNo, nullptr),
             int(QMessageBox::No));
}

int main(int argc, char **argv)
{
    QTemporaryDir storage;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(storage.path()));
    QRMApplication application(argc, argv);
    application.initApplication();
    TestQRMApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qrmapplication.moc"
