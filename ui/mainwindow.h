// The main window: owner of the camera and raw-file servers, with the
// adapter label, camera table, status line, log window and tray icon.
#ifndef ARVEX_UI_MAINWINDOW_H
#define ARVEX_UI_MAINWINDOW_H

#include "adapters.h"
#include "qcameramonitor.h"
#include "recordingvolumes.h"

#include <QElapsedTimer>
#include <QMainWindow>

#include <optional>

class LogDialog;
class QMenu;
class QSystemTrayIcon;
struct MainWindowUi;

// How one run sets the window up; the defaults are the plain program's.
struct MainWindowOptions {
    enum class Tray { Auto, Available, None };

    quint16 portBase = kDefaultPortBase;
    // Empty: volume D is the download folder as it stands at each start.
    RecordingVolumes volumes;
    // Cameras of the simulated driver; unset for a loaded driver.
    std::optional<int> simCameras;
    bool logEnabled = false;
    // The program's window ends the event loop when it really closes; a
    // window inside a test leaves the loop alone.
    bool quitApplication = false;
    // Auto asks the platform whether a system tray exists.
    Tray tray = Tray::Auto;
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    explicit MainWindow(const MainWindowOptions &options, QWidget *parent = nullptr);
    ~MainWindow() override;

    // What Exit does: stop both servers, save the settings, close.
    void requestExit();

    QCameraMonitor &cameraMonitor() { return cameraServer; }
    QCameraMonitor &rawFileMonitor() { return rawFileServer; }
    bool hasSystemTray() const { return trayAvailable; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

public slots:
    void OnEnumerate();
    void OnOptions();
    void OnLog();
    void OnStatusChanged(int status);
    void OnShowLog(const QString &text);
    void OnRawFolderChange(const QString &folder);
    void ShowMainWindow();

private:
    void setupTray();
    void restoreWindows();
    void showAbout();
    // Both servers on this adapter; a failure goes to the status line and log.
    void startServers(const AdapterInfo &adapter);
    void stopServers();
    // The adapter the servers may use: listed under this name and with an
    // address that names it. False for anything else.
    bool usableAdapter(const QString &name, AdapterInfo *out) const;
    void showNoAdapter();
    void applyDownloadFolder(const QString &folder);
    RecordingVolumes volumesForStart() const;
    void applyTableLayout();
    bool rawFileClientActive() const;
    void quitProgram();
    void logNotice(const QString &text);

    QCameraMonitor cameraServer;
    QCameraMonitor rawFileServer;
    LogDialog *logDialog = nullptr;
    MainWindowUi *ui = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    bool exitRequested = false;

    MainWindowOptions options;
    bool trayAvailable = false;
    bool quitDone = false;
    // Why the servers are not serving, while it holds.
    QString startError;
    QElapsedTimer clock;
};

#endif
