// The main window: owner of the camera and raw-file servers, with the
// adapter label, camera table, status line, log window and tray icon.
#include "mainwindow.h"

#include "camerainfotext.h"
#include "drivertable.h"
#include "logdialog.h"
#include "mainwindowui.h"
#include "optionsdialog.h"
#include "qrmapplication.h"
#include "rawfolder.h"
#include "settingsadapters.h"

#include <QAction>
#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTableWidget>

namespace {

QRMApplication *application()
{
    QRMApplication *app = QRMApplication::instance();
    Q_ASSERT(app);
    return app;
}

const QColor kLabelColour(0xFF, 0xAA, 0x34, 192);

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(MainWindowOptions(), parent)
{
}

MainWindow::MainWindow(const MainWindowOptions &runOptions, QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowUi)
    , options(runOptions)
{
    clock.start();
    QRMApplication *app = application();
    ui->setupUi(this);

    setWindowIcon(QIcon(QStringLiteral(":/res/camera.png")));
    setStyleSheet(QStringLiteral("font: normal %1pt \"Helvetica\"; ").arg(app->fontPointSize));

    connect(ui->btnExit, &QPushButton::clicked, this, &MainWindow::requestExit);
    connect(ui->btnEnum, &QPushButton::clicked, this, &MainWindow::OnEnumerate);
    connect(ui->btnOptions, &QPushButton::clicked, this, &MainWindow::OnOptions);
    connect(ui->btnLog, &QPushButton::clicked, this, &MainWindow::OnLog);
    connect(&cameraServer, &QCameraMonitor::statusChanged, this, &MainWindow::OnStatusChanged);
    connect(&cameraServer, &QCameraMonitor::log, this, &MainWindow::OnShowLog);
    connect(&cameraServer, &QCameraMonitor::rawFolderChange, this, &MainWindow::OnRawFolderChange);
    connect(&rawFileServer, &QCameraMonitor::log, this, &MainWindow::OnShowLog);

    cameraServer.setMode(CameraMode);
    rawFileServer.setMode(RawFileMode);
    for (QCameraMonitor *server : {&cameraServer, &rawFileServer}) {
        server->setPortBase(options.portBase);
        server->setLogEnabled(options.logEnabled);
    }

    logDialog = new LogDialog(this);
    logDialog->setGeometry(app->scalePixels(100), app->scalePixels(100), app->scalePixels(540),
                           app->scalePixels(640));
    logDialog->hide();
    logDialog->setLogChecked(options.logEnabled);
    connect(logDialog, &QDialog::rejected, this, [this] { ui->btnLog->setChecked(false); });
    connect(logDialog, &LogDialog::enableLog, this, [this](bool enabled) {
        cameraServer.setLogEnabled(enabled);
        rawFileServer.setLogEnabled(enabled);
    });

    // Both monitors have initialised the driver by now, so its options stay set.
    if (options.simCameras && activeDriver().setDriverOption) {
        const uint32_t result = activeDriver().setDriverOption(
            nullptr, ARVEX_OPTION_SIM_CAMERAS, uintptr_t(*options.simCameras), 0);
        if (result != 0)
            logNotice(tr("The simulated driver refused %1 cameras (status %2).")
                          .arg(*options.simCameras)
                          .arg(result));
    }
    applyDownloadFolder(app->downloadFolder);

    ui->statusLbl->setText(statusText(StatusDisabled));
    ui->statusLbl->setStyleSheet(QStringLiteral(
        "QLabel { color:#fff; font-weight:bold; background-color: rgba(64,64,64,128); "
        "border:none; border-radius:0px; text-align: center center; }"));
    ui->netAdpLbl->setStyleSheet(
        QStringLiteral("QLabel { color: rgba(255,170,52,192); font-weight:bold; }"));

    AdapterInfo adapter;
    if (usableAdapter(app->netAdapter, &adapter)) {
        ui->netAdpLbl->setText(
            adapterLabelText(QString::fromLatin1(adapter.description), adapter.ipAddress));
        startServers(adapter);
    } else {
        showNoAdapter();
    }

    QTableWidget *table = ui->camTable;
    table->clear();
    table->setColumnCount(2);
    table->setStyleSheet(QStringLiteral("QTableWidget { border: none; }"));
    table->setRowCount(kCameraTableRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    const QStringList labels = cameraTableLabels();
    for (int row = 0; row < kCameraTableRows; ++row) {
        auto *label = new QTableWidgetItem(tr(labels.at(row).toLatin1().constData()));
        label->setForeground(kLabelColour);
        table->setItem(row, 0, label);
        table->setItem(row, 1, new QTableWidgetItem(QString()));
    }

    exitRequested = false;
    setupTray();
    OnEnumerate();
}

MainWindow::~MainWindow()
{
    // Every quitting path has stopped the servers already; a window destroyed
    // without that (a test, an early return) must not leave threads behind,
    // nor have their last status reach widgets that are gone.
    cameraServer.disconnect(this);
    rawFileServer.disconnect(this);
    stopServers();
    delete ui;
}

void MainWindow::requestExit()
{
    exitRequested = true;
    close();
}

void MainWindow::resizeEvent(QResizeEvent *)
{
    applyTableLayout();
}

void MainWindow::showEvent(QShowEvent *)
{
    applyTableLayout();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    const bool quit = exitRequested || quitDone
        || (cameraServer.cameraTable().isEmpty() && !rawFileClientActive());
    if (quit) {
        quitProgram();
        event->accept();
        return;
    }

    event->ignore();
    if (trayAvailable) {
        hide();
        if (ui->btnLog->isChecked())
            logDialog->hide();
        trayIcon->showMessage(QStringLiteral("Arvex Remote Control"),
                              tr("The program will keep running in the system tray. To "
                                 "terminate it, choose 'Exit' in the context menu."),
                              QSystemTrayIcon::Information, 3000);
        return;
    }
    // Hidden without a tray there would be no way back to the window.
    showMinimized();
    if (ui->btnLog->isChecked())
        logDialog->showMinimized();
    logNotice(tr("No system tray: the window is minimised and the servers keep running. "
                 "To terminate the program, choose 'Exit'."));
}

void MainWindow::OnEnumerate()
{
    cameraServer.enumerateCameras();
    const QVector<QByteArray> cameras = cameraServer.cameraTable();
    const QStringList values = cameras.isEmpty() ? QStringList() : cameraTableValues(cameras.first());
    for (int row = 0; row < kCameraTableRows; ++row) {
        if (QTableWidgetItem *item = ui->camTable->item(row, 1))
            item->setText(values.value(row));
    }
}

void MainWindow::OnOptions()
{
    QRMApplication *app = application();
    OptionsDialog dialog(app->netAdapter, app->downloadFolder, app->netPerformance,
                         app->imageFormat, this);
    if (dialog.exec() != QDialog::Accepted || quitDone)
        return;

    const QString name = dialog.selectedAdapterName();
    const bool changed = name != app->netAdapter;
    AdapterInfo adapter;
    const bool usable = usableAdapter(name, &adapter);

    app->netAdapter = name;
    app->netPerformance = dialog.selectedPerformance();
    app->imageFormat = dialog.selectedImageFormat();
    app->downloadFolder = dialog.selectedFolder();
    applyDownloadFolder(app->downloadFolder);

    if (!usable) {
        stopServers();
        showNoAdapter();
        return;
    }
    ui->netAdpLbl->setText(
        adapterLabelText(QString::fromLatin1(adapter.description), adapter.ipAddress));

    if (changed) {
        stopServers();
        startServers(adapter);
    } else if (!cameraServer.isRunning() || !rawFileServer.isRunning()) {
        // Same adapter, but a server is not serving (its start failed): try again.
        stopServers();
        startServers(adapter);
    } else {
        cameraServer.setTransferOptions(app->netPerformance, app->imageFormat);
        rawFileServer.setTransferOptions(app->netPerformance, app->imageFormat);
    }
}

void MainWindow::OnLog()
{
    if (logDialog->isMinimized())
        logDialog->showNormal();
    else if (logDialog->isVisible())
        logDialog->hide();
    else
        logDialog->show();
    ui->btnLog->setChecked(logDialog->isVisible());
}

void MainWindow::OnStatusChanged(int status)
{
    ui->statusLbl->setText(startError.isEmpty() ? statusText(status) : startError);
}

void MainWindow::OnShowLog(const QString &text)
{
    logDialog->appendLog(text);
}

void MainWindow::OnRawFolderChange(const QString &folder)
{
    QString reason;
    if (!applyRawFolderChange(folder, &application()->downloadFolder, &reason))
        logNotice(tr("New download folder refused: %1").arg(reason));
}

void MainWindow::ShowMainWindow()
{
    setWindowOpacity(1.0);
    QRMApplication *app = application();
    if (app->firstTime) {
        OnOptions();
        app->firstTime = false;
    }
}

void MainWindow::setupTray()
{
    trayMenu = new QMenu(this);
    trayMenu->addAction(tr("&Restore"), this, &MainWindow::restoreWindows);
    trayMenu->addAction(tr("&About..."), this, &MainWindow::showAbout);
    trayMenu->addSeparator();
    trayMenu->addAction(tr("&Exit"), this, &MainWindow::requestExit);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setIcon(QIcon(QStringLiteral(":/res/trayicon.png")));
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    restoreWindows();
            });

    switch (options.tray) {
    case MainWindowOptions::Tray::Auto:
        trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
        break;
    case MainWindowOptions::Tray::Available:
        trayAvailable = true;
        break;
    case MainWindowOptions::Tray::None:
        trayAvailable = false;
        break;
    }
    if (trayAvailable)
        trayIcon->setVisible(true);
}

void MainWindow::restoreWindows()
{
    showNormal();
    if (ui->btnLog->isChecked())
        logDialog->showNormal();
}

void MainWindow::showAbout()
{
    restoreWindows();
    QMessageBox box(this);
    box.setStyleSheet(
        QStringLiteral("QPushButton { padding: 2px; min-width: 60px; min-height: 22px; }"));
    box.setWindowTitle(tr("About Arvex Remote"));
    box.setTextFormat(Qt::RichText);
    box.setText(aboutText());
    box.setIconPixmap(QPixmap(QStringLiteral(":/res/camera.png")));
    box.exec();
}

void MainWindow::startServers(const AdapterInfo &adapter)
{
    const QRMApplication *app = application();
    const qint64 mac = macTextToNumber(adapter.macText);
    startError.clear();
    const RecordingVolumes volumes = volumesForStart();
    QString reason;
    if (!setDriverVolumes(volumes, &reason))
        logNotice(tr("Recording volumes refused: %1").arg(reason));
    for (QCameraMonitor *server : {&cameraServer, &rawFileServer}) {
        server->setRecordingVolumes(volumes);
        if (server->startServer(adapter.ipAddress, adapter.ipMask, mac, int(adapter.mtu),
                                app->netPerformance, app->imageFormat))
            continue;
        // The server has logged the reason itself.
        if (startError.isEmpty())
            startError = tr("Not serving: %1").arg(server->lastError());
    }
    if (!startError.isEmpty())
        ui->statusLbl->setText(startError);
}

void MainWindow::stopServers()
{
    // A server that is not running is still stopped, so that devices left
    // open by a failed start are closed.
    for (QCameraMonitor *server : {&cameraServer, &rawFileServer}) {
        if (server->isRunning() || server->currentStatus() != StatusDisabled)
            server->stopServer();
    }
}

bool MainWindow::usableAdapter(const QString &name, AdapterInfo *out) const
{
    return !name.isEmpty() && lookUpAdapter(name, out) && isUsableAdapterAddress(out->ipAddress);
}

void MainWindow::showNoAdapter()
{
    startError.clear();
    ui->netAdpLbl->setText(tr("Select a valid network adapter"));
}

void MainWindow::applyDownloadFolder(const QString &folder)
{
    QString reason;
    if (!setDriverRawFolder(folder, &reason))
        logNotice(tr("Download folder not handed to the driver: %1").arg(reason));
}

RecordingVolumes MainWindow::volumesForStart() const
{
    if (!options.volumes.isEmpty())
        return options.volumes;
    QString folder = application()->downloadFolder;
    if (folder.isEmpty())
        folder = QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                 + QStringLiteral("/recordings"));
    folder = QDir(folder).absolutePath();
    QDir().mkpath(folder);
    return {RecordingVolume{QLatin1Char('D'), folder}};
}

void MainWindow::applyTableLayout()
{
    QTableWidget *table = ui->camTable;
    const int w = table->width();
    const int h = table->height();
    const int headerHeight = table->horizontalHeader()->geometry().height();
    table->setColumnWidth(0, w / 2 - 2);
    table->setColumnWidth(1, w - w / 2 - 4);
    const int rows = table->rowCount();
    if (rows == 0)
        return;
    for (int row = 0; row < rows; ++row)
        table->setRowHeight(row, (h - headerHeight) / rows - 1);
}

bool MainWindow::rawFileClientActive() const
{
    const int status = rawFileServer.currentStatus();
    return status == StatusConnected || status == StatusResending
        || rawFileServer.openRawFileCount() > 0;
}

void MainWindow::quitProgram()
{
    if (quitDone)
        return;
    quitDone = true;
    if (cameraServer.isRunning())
        cameraServer.stopServer();
    if (rawFileServer.isRunning())
        rawFileServer.stopServer();
    application()->saveSettings();
    logDialog->hide();
    trayIcon->hide();
    if (options.quitApplication)
        QCoreApplication::quit();
}

void MainWindow::logNotice(const QString &text)
{
    logDialog->appendLog(windowLogLine(clock.elapsed(), text));
}
