// Both servers without windows: the camera server on the port base, the
// raw-file server on base + 1, configured from the command line alone.
// Nothing is read from or written to the stored settings.
#ifndef ARVEX_APP_HEADLESS_H
#define ARVEX_APP_HEADLESS_H

#include "adapters.h"
#include "runoptions.h"

#include <QObject>
#include <QString>

#include <memory>

class QCameraMonitor;

// Exit statuses of arvex-remote.
constexpr int kExitClean = 0;
constexpr int kExitServerFailed = 1;  // a server did not start (bind failed)
constexpr int kExitBadSetup = 2;      // bad option, driver, folder or address

class HeadlessServers : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessServers(const RunOptions &options, QObject *parent = nullptr);
    ~HeadlessServers() override;

    // Driver, folders, adapter and both servers. On failure returns false
    // with the reason and the exit status; nothing is left running.
    bool start(QString *error, int *exitStatus);
    // Stops both servers (their devices are closed).
    void stop();

    const AdapterInfo &adapter() const { return chosen; }
    QString downloadFolder() const { return download; }
    RecordingVolumes volumes() const { return recordingVolumes; }
    QCameraMonitor *cameraServer() const { return camera.get(); }
    QCameraMonitor *rawFileServer() const { return rawFiles.get(); }

private:
    bool fail(const QString &message, int status);
    bool chooseAdapter();
    bool prepareFolders();
    bool applyDriverOptions();

    RunOptions opts;
    AdapterInfo chosen{};
    QString download;
    RecordingVolumes recordingVolumes;
    std::unique_ptr<QCameraMonitor> camera;
    std::unique_ptr<QCameraMonitor> rawFiles;
    QString failure;
    int failureStatus = kExitClean;
};

// The whole headless program: builds the QCoreApplication, runs the servers
// until SIGINT or SIGTERM, stops them and returns the exit status.
int runHeadless(int &argc, char **argv, const RunOptions &options);

#endif
