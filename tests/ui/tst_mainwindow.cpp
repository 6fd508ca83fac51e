// The main window on real servers bound to 127.0.0.1/127.0.0.2: widgets,
// status line, camera table, options, log window, the close rules and a
// failed start.
#include "camerainfotext.h"
#include "mainwindow.h"
#include "optionsdialog.h"
#include "uitestkit.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Each case gets its own pair of ports from here on.
constexpr quint16 kPortBase = 41000;

QRMApplication *app()
{
    return QRMApplication::instance();
}

// True when something holds this UDP port on this address.
bool portTaken(uint32_t ip, quint16 port)
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress(ip), port, QAbstractSocket::DontShareAddress);
}

QString logText(MainWindow &window)
{
    return window.findChild<QTextBrowser *>("logBrowser")->toPlainText();
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void widgetTree();
    void statusLine_data();
    void statusLine();
    void cameraTable();
    void startsOnTheAdapter();
    void unusableAdapter_data();
    void unusableAdapter();
    void failedStartIsShown();
    void optionsSameAdapter();
    void optionsOtherAdapter();
    void optionsCancelled();
    void optionsWithoutAdapters();
    void rawFolderChange_data();
    void rawFolderChange();
    void logWindow();
    void closeWithoutCameraQuits();
    void closeHidesToTray();
    void closeWithoutTrayMinimises();
    void firstRunOpensOptions();
    void tableLayout();

private:
    MainWindow *makeWindow(MainWindowOptions::Tray tray = MainWindowOptions::Tray::None,
                           bool log = true);
    // Runs OnOptions and does `answer` to the dialog once it is up.
    void runOptions(MainWindow &window, const std::function<void(OptionsDialog &)> &answer);
    QString status(MainWindow &window) { return window.findChild<QLabel *>("statusLbl")->text(); }
    QString adapterLabel(MainWindow &window)
    {
        return window.findChild<QLabel *>("netAdpLbl")->text();
    }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QTemporaryDir> folder;
    quint16 base = kPortBase;
};

void TestMainWindow::init()
{
    base = quint16(base + 10);
    folder = std::make_unique<QTemporaryDir>();
    uitest::useAdapters(uitest::loopbackPair());
    uitest::useCameras({uitest::cameraRecord(52, 1234567890u, 0x01020A1F, 7, 0x00030102)});
    app()->netAdapter = QStringLiteral("lo-a");
    app()->netPerformance = 4;
    app()->imageFormat = 0;
    app()->firstTime = false;
    app()->downloadFolder = folder->path();
}

void TestMainWindow::cleanup()
{
    window.reset();
    // Nothing of a case may still hold its ports.
    QVERIFY(!portTaken(uitest::kLoopbackA, base));
    QVERIFY(!portTaken(uitest::kLoopbackB, base));
}

MainWindow *TestMainWindow::makeWindow(MainWindowOptions::Tray tray, bool log)
{
    MainWindowOptions options;
    options.portBase = base;
    options.tray = tray;
    options.logEnabled = log;
    window = std::make_unique<MainWindow>(options);
    return window.get();
}

void TestMainWindow::runOptions(MainWindow &w, const std::function<void(OptionsDialog &)> &answer)
{
    bool answered = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<OptionsDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll.stop();
        answered = true;
        answer(*dialog);
    });
    poll.start();
    w.OnOptions();
    QVERIFY(answered);
}

void TestMainWindow::widgetTree()
{
    MainWindow &w = *makeWindow();
    QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Arvex Remote Control"));
    QCOMPARE(w.minimumSize(), QSize(370, 230));
    QCOMPARE(w.size(), QSize(370, 230));
    QCOMPARE(w.styleSheet(), QStringLiteral("font: normal %1pt \"Helvetica\"; ").arg(app()->fontPointSize));
    QVERIFY(w.findChild<QWidget *>("centralWidget"));
    QVERIFY(w.findChild<QLayout *>("verticalLayout"));
    QVERIFY(w.findChild<QLayout *>("horizontalLayout"));

    const QList<QPair<const char *, const char *>> buttons = {
        {"btnEnum", "Find Camera"}, {"btnLog", "Log"}, {"btnOptions", "Options..."},
        {"btnExit", "Exit"}};
    for (const auto &b : buttons) {
        auto *button = w.findChild<QPushButton *>(b.first);
        QVERIFY2(button, b.first);
        QCOMPARE(button->text(), QString::fromLatin1(b.second));
    }
    QVERIFY(w.findChild<QPushButton *>("btnLog")->isCheckable());

    auto *table = w.findChild<QTableWidget *>("camTable");
    QCOMPARE(table->rowCount(), 5);
    QCOMPARE(table->columnCount(), 2);
    QVERIFY(table->horizontalHeader()->isHidden());
    QVERIFY(table->verticalHeader()->isHidden());
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(table->item(row, 0)->text(), cameraTableLabels().at(row));
        QCOMPARE(table->item(row, 0)->foreground().color(), QColor(0xFF, 0xAA, 0x34, 192));
    }
}

void TestMainWindow::statusLine_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Disabled";
    QTest::newRow("1") << 1 << "Enabled";
    QTest::newRow("2") << 2 << "Waiting for remote enumeration...";
    QTest::newRow("3") << 3 << "Waiting for remote connection...";
    QTest::newRow("4") << 4 << "Connected, listening!!!";
    QTest::newRow("5") << 5 << "Sending missing segments!";
    QTest::newRow("9") << 9 << "Disabled";
}

void TestMainWindow::statusLine()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    MainWindow &w = *makeWindow();
    // The constructor's enumeration found the camera on a running server.
    QCOMPARE(status(w), QStringLiteral("Waiting for remote enumeration..."));
    w.OnStatusChanged(value);
    QCOMPARE(status(w), text);
}

void TestMainWindow::cameraTable()
{
    MainWindow &w = *makeWindow();
    auto *table = w.findChild<QTableWidget *>("camTable");
    const QStringList shown = {"Vantrel Elm", "0102-0a-1f", "0003-01-02", "12-3456-7890",
                               "4 (0003-01-02)"};
    for (int row = 0; row < 5; ++row)
        QCOMPARE(table->item(row, 1)->text(), shown.at(row));

    // Only the first camera is shown.
    uitest::useCameras({uitest::cameraRecord(55, 5, 0, 2, 0x00030102),
                        uitest::cameraRecord(46, 1, 1, 1, 1)});
    w.findChild<QPushButton *>("btnEnum")->click();
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Unknown camera"));
    QCOMPARE(table->item(3, 1)->text(), QStringLiteral("00-0000-0005"));
    QCOMPARE(table->item(4, 1)->text(), QStringLiteral("4294967295 (0003-01-02)"));

    uitest::useCameras({});
    w.OnEnumerate();
    for (int row = 0; row < 5; ++row)
        QCOMPARE(table->item(row, 1)->text(), QString());
    QCOMPARE(status(w), QStringLiteral("Enabled"));
}

void TestMainWindow::startsOnTheAdapter()
{
    MainWindow &w = *makeWindow();
    QVERIFY(w.cameraMonitor().isRunning());
    QVERIFY(w.rawFileMonitor().isRunning());
    QCOMPARE(w.cameraMonitor().monitorMode(), CameraMode);
    QCOMPARE(w.rawFileMonitor().monitorMode(), RawFileMode);
    QVERIFY(portTaken(uitest::kLoopbackA, base));
    QVERIFY(portTaken(uitest::kLoopbackA, quint16(base + 1)));
    QVERIFY(!portTaken(uitest::kLoopbackB, base));
    QCOMPARE(adapterLabel(w), adapterLabelText(QStringLiteral("Loopback A"), uitest::kLoopbackA));
    QCOMPARE(uitest::lastRawFolder(), folder->path().toLatin1());
}

void TestMainWindow::unusableAdapter_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("none chosen") << "";
    QTest::newRow("not present") << "gone0";
    QTest::newRow("no IPv4 address") << "eth9";
}

void TestMainWindow::unusableAdapter()
{
    QFETCH(QString, name);
    QVector<AdapterInfo> list = uitest::loopbackPair();
    list.append(uitest::adapter("eth9", "No Address", 0));
    uitest::useAdapters(list);
    app()->netAdapter = name;
    MainWindow &w = *makeWindow();
    QCOMPARE(adapterLabel(w), QStringLiteral("Select a valid network adapter"));
    QVERIFY(!w.cameraMonitor().isRunning());
    QVERIFY(!w.rawFileMonitor().isRunning());
    QCOMPARE(status(w), QStringLiteral("Disabled"));
    QVERIFY(!portTaken(uitest::kLoopbackA, base));
}

void TestMainWindow::failedStartIsShown()
{
    QUdpSocket occupant;
    QVERIFY(occupant.bind(QHostAddress(uitest::kLoopbackA), base, QAbstractSocket::DontShareAddress));
    MainWindow &w = *makeWindow();
    QVERIFY(!w.cameraMonitor().isRunning());
    QVERIFY2(status(w).startsWith(QStringLiteral("Not serving: ")), qPrintable(status(w)));
    // Later status reports do not cover the failure up.
    w.OnStatusChanged(StatusDisabled);
    w.OnEnumerate();
    QVERIFY(status(w).startsWith(QStringLiteral("Not serving: ")));
    QTRY_VERIFY(logText(w).contains(QString::number(base)));

    // Accepting the options once the port is free starts what did not start.
    occupant.close();
    runOptions(w, [](OptionsDialog &d) { d.findChild<QPushButton *>("btnOK")->click(); });
    QVERIFY(w.cameraMonitor().isRunning());
    QVERIFY(w.rawFileMonitor().isRunning());
    QCOMPARE(status(w), QStringLiteral("Enabled"));
}

void TestMainWindow::optionsSameAdapter()
{
    MainWindow &w = *makeWindow();
    QSignalSpy cameraStatus(&w.cameraMonitor(), &QCameraMonitor::statusChanged);
    QSignalSpy rawStatus(&w.rawFileMonitor(), &QCameraMonitor::statusChanged);
    runOptions(w, [](OptionsDialog &d) {
        d.findChild<QSpinBox *>("netPerfSpin")->setValue(10);
        d.findChild<QComboBox *>("imgTypeList")->setCurrentIndex(1);
        d.findChild<QPushButton *>("btnOK")->click();
    });
    QCOMPARE(app()->netPerformance, 10);
    QCOMPARE(app()->imageFormat, 1);
    QCOMPARE(app()->netAdapter, QStringLiteral("lo-a"));
    // Not restarted: no status went through 0, both still bound.
    QVERIFY(cameraStatus.isEmpty());
    QVERIFY(rawStatus.isEmpty());
    QVERIFY(w.cameraMonitor().isRunning());
    QVERIFY(portTaken(uitest::kLoopbackA, base));
    QVERIFY(portTaken(uitest::kLoopbackA, quint16(base + 1)));
    QTRY_COMPARE(logText(w).count(QStringLiteral("Network Performance: 10 - Image Format: compressed.")), 2);
    QCOMPARE(adapterLabel(w), adapterLabelText(QStringLiteral("Loopback A"), uitest::kLoopbackA));
}

void TestMainWindow::optionsOtherAdapter()
{
    MainWindow &w = *makeWindow();
    QSignalSpy cameraStatus(&w.cameraMonitor(), &QCameraMonitor::statusChanged);
    QSignalSpy rawStatus(&w.rawFileMonitor(), &QCameraMonitor::statusChanged);
    QStringList statusTexts;
    QObject scope;  // the connection ends with this case
    connect(&w.cameraMonitor(), &QCameraMonitor::statusChanged, &scope,
            [&] { statusTexts << status(w); });
    runOptions(w, [](OptionsDialog &d) {
        d.findChild<QComboBox *>("netAdpList")->setCurrentIndex(1);
        d.findChild<QPushButton *>("btnOK")->click();
    });
    QCOMPARE(app()->netAdapter, QStringLiteral("lo-b"));
    QCOMPARE(cameraStatus.size(), 2);
    QCOMPARE(cameraStatus.at(0).at(0).toInt(), int(StatusDisabled));
    QCOMPARE(cameraStatus.at(1).at(0).toInt(), int(StatusEnabled));
    QCOMPARE(statusTexts, QStringList({"Disabled", "Enabled"}));
    QCOMPARE(rawStatus.size(), 2);
    QVERIFY(!portTaken(uitest::kLoopbackA, base));
    QVERIFY(!portTaken(uitest::kLoopbackA, quint16(base + 1)));
    QVERIFY(portTaken(uitest::kLoopbackB, base));
    QVERIFY(portTaken(uitest::kLoopbackB, quint16(base + 1)));
    QCOMPARE(adapterLabel(w), adapterLabelText(QStringLiteral("Loopback B"), uitest::kLoopbackB));
}

void TestMainWindow::optionsCancelled()
{
    MainWindow &w = *makeWindow();
    const QString label = adapterLabel(w);
    QSignalSpy cameraStatus(&w.cameraMonitor(), &QCameraMonitor::statusChanged);
    runOptions(w, [](OptionsDialog &d) {
        d.findChild<QComboBox *>("netAdpList")->setCurrentIndex(1);
        d.findChild<QSpinBox *>("netPerfSpin")->setValue(50);
        d.findChild<QPushButton *>("btnCancel")->click();
    });
    QCOMPARE(app()->netAdapter, QStringLiteral("lo-a"));
    QCOMPARE(app()->netPerformance, 4);
    QVERIFY(cameraStatus.isEmpty());
    QCOMPARE(adapterLabel(w), label);
    QVERIFY(portTaken(uitest::kLoopbackA, base));
}

void TestMainWindow::optionsWithoutAdapters()
{
    MainWindow &w = *makeWindow();
    uitest::useAdapters({});
    runOptions(w, [](OptionsDialog &d) { d.findChild<QPushButton *>("btnOK")->click(); });
    QCOMPARE(app()->netAdapter, QString());
    QCOMPARE(adapterLabel(w), QStringLiteral("Select a valid network adapter"));
    QVERIFY(!w.cameraMonitor().isRunning());
    QVERIFY(!w.rawFileMonitor().isRunning());
    QVERIFY(!portTaken(uitest::kLoopbackA, base));
}

void TestMainWindow::rawFolderChange_data()
{
    QTest::addColumn<QString>("announced");
    QTest::addColumn<bool>("taken");
    QTest::newRow("latin-1") << QStringLiteral("/data/Aufnahme \u00e4") << true;
    QTest::newRow("beyond latin-1") << QStringLiteral("/data/\u5f55\u50cf") << false;
}

void TestMainWindow::rawFolderChange()
{
    QFETCH(QString, announced);
    QFETCH(bool, taken);
    MainWindow &w = *makeWindow();
    emit w.cameraMonitor().rawFolderChange(announced);
    if (taken) {
        QCOMPARE(app()->downloadFolder, announced);
        QCOMPARE(uitest::lastRawFolder(), announced.toLatin1());
    } else {
        QCOMPARE(app()->downloadFolder, folder->path());
        QCOMPARE(uitest::lastRawFolder(), folder->path().toLatin1());
        QVERIFY(logText(w).contains(QStringLiteral("New download folder refused")));
    }
}

void TestMainWindow::logWindow()
{
    MainWindow &w = *makeWindow(MainWindowOptions::Tray::None, false);
    auto *logButton = w.findChild<QPushButton *>("btnLog");
    auto *log = w.findChild<QDialog *>("LogDialog");
    QVERIFY(log && !log->isVisible());

    logButton->click();
    QVERIFY(log->isVisible());
    QVERIFY(logButton->isChecked());
    logButton->click();
    QVERIFY(!log->isVisible());
    QVERIFY(!logButton->isChecked());

    logButton->click();
    log->findChild<QPushButton *>("btnClose")->click();
    QVERIFY(!log->isVisible());
    QVERIFY(!logButton->isChecked());

    QVERIFY(!w.cameraMonitor().isLogEnabled());
    auto *enable = log->findChild<QAbstractButton *>("btnEnable");
    enable->click();
    QVERIFY(w.cameraMonitor().isLogEnabled());
    QVERIFY(w.rawFileMonitor().isLogEnabled());
    w.OnEnumerate();
    QTRY_VERIFY(logText(w).contains(QStringLiteral("Enumerate Vantrel - Found 1 cameras.")));
    enable->click();
    QVERIFY(!w.cameraMonitor().isLogEnabled());
    QVERIFY(!w.rawFileMonitor().isLogEnabled());
}

void TestMainWindow::closeWithoutCameraQuits()
{
    uitest::useCameras({});
    MainWindow &w = *makeWindow();
    w.show();
    app()->netPerformance = 17;
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    QVERIFY(!w.cameraMonitor().isRunning());
    QVERIFY(!w.rawFileMonitor().isRunning());
    QVERIFY(!portTaken(uitest::kLoopbackA, base));
    QSettings store(QStringLiteral("Korvane"), QStringLiteral("RemoteCamera"));
    QCOMPARE(store.value("Settings/NetPerformance").toInt(), 17);
    QCOMPARE(store.value("Settings/NetAdapter").toString(), QStringLiteral("lo-a"));
}

void TestMainWindow::closeHidesToTray()
{
    MainWindow &w = *makeWindow(MainWindowOptions::Tray::Available);
    QVERIFY(w.hasSystemTray());
    w.show();
    w.findChild<QPushButton *>("btnLog")->click();
    auto *log = w.findChild<QDialog *>("LogDialog");
    QVERIFY(log->isVisible());

    QVERIFY(!w.close());
    QVERIFY(!w.isVisible());
    QVERIFY(!log->isVisible());
    QVERIFY(w.cameraMonitor().isRunning());
    QVERIFY(w.rawFileMonitor().isRunning());

    app()->netPerformance = 23;
    w.requestExit();
    QVERIFY(!w.cameraMonitor().isRunning());
    QVERIFY(!w.rawFileMonitor().isRunning());
    QSettings store(QStringLiteral("Korvane"), QStringLiteral("RemoteCamera"));
    QCOMPARE(store.value("Settings/NetPerformance").toInt(), 23);
}

void TestMainWindow::closeWithoutTrayMinimises()
{
    MainWindow &w = *makeWindow(MainWindowOptions::Tray::None);
    QVERIFY(!w.hasSystemTray());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.close());
    QVERIFY(w.isMinimized());
    QVERIFY(w.cameraMonitor().isRunning());
    QVERIFY(logText(w).contains(QStringLiteral("No system tray")));

    w.findChild<QPushButton *>("btnExit")->click();
    QVERIFY(!w.isVisible());
    QVERIFY(!w.cameraMonitor().isRunning());
}

void TestMainWindow::firstRunOpensOptions()
{
    app()->firstTime = true;
    MainWindow &w = *makeWindow();
    w.setWindowOpacity(0.0);
    w.show();
    bool opened = false;
    QTimer::singleShot(50, [&] {
        if (auto *d = qobject_cast<OptionsDialog *>(QApplication::activeModalWidget())) {
            opened = true;
            d->findChild<QPushButton *>("btnCancel")->click();
        }
    });
    w.ShowMainWindow();
    QVERIFY(opened);
    QVERIFY(!app()->firstTime);
    QCOMPARE(w.windowOpacity(), 1.0);

    // Not again.
    bool again = false;
    QTimer::singleShot(50, [&] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            again = true;
            d->reject();
        }
    });
    w.ShowMainWindow();
    QTest::qWait(100);
    QVERIFY(!again);
}

void TestMainWindow::tableLayout()
{
    MainWindow &w = *makeWindow();
    w.show();
    auto *table = w.findChild<QTableWidget *>("camTable");
    table->resize(301, 160);
    QResizeEvent event(w.size(), w.size());
    QCoreApplication::sendEvent(&w, &event);
    QCOMPARE(table->columnWidth(0), 148);
    QCOMPARE(table->columnWidth(1), 147);
    const int header = table->horizontalHeader()->geometry().height();
    QCOMPARE(table->rowHeight(2), (160 - header) / 5 - 1);
}

ARVEX_UI_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
