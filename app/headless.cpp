// The headless runner of arvex-remote.
#include "headless.h"

#include "rawfolder.h"
#include "stopsignals.h"

#include "drivertable.h"
#include "qcameramonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace {

constexpr int kDefaultNetPerformance = 4;
constexpr int kDefaultImageFormat = 0;

void printLine(const QString &line)
{
    // One call per line, so that lines of the two server threads never mix.
    const QByteArray text = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

HeadlessServers::HeadlessServers(const RunOptions &options, QObject *parent)
    : QObject(parent), opts(options)
{
}

HeadlessServers::~HeadlessServers()
{
    stop();
}

bool HeadlessServers::fail(const QString &message, int status)
{
    failure = message;
    failureStatus = status;
    return false;
}

bool HeadlessServers::chooseAdapter()
{
    if (opts.listen) {
        const uint32_t ip = textToIp(*opts.listen);
        // 0 would match an adapter that has no address at all.
        if (ip == 0 || !findAdapterByAddress(ip, &chosen))
            return fail(QStringLiteral("no network adapter has the address %1").arg(*opts.listen),
                        kExitBadSetup);
        return true;
    }
    // As the windowed program's first run does: the first adapter with an address.
    AdapterInfo list[MaxAdapters];
    const int count = enumerateAdapters(list, MaxAdapters);
    for (int i = 0; i < count; ++i) {
        if (list[i].ipAddress != 0) {
            chosen = list[i];
            return true;
        }
    }
    return fail(QStringLiteral("no network adapter has an IPv4 address; name one with --listen"),
                kExitBadSetup);
}

bool HeadlessServers::prepareFolders()
{
    if (opts.downloadFolder) {
        download = *opts.downloadFolder;
    } else {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (data.isEmpty())
            return fail(QStringLiteral("no application data folder; give --download-folder"),
                        kExitBadSetup);
        download = QDir::cleanPath(data + QStringLiteral("/recordings"));
    }
    if (!QDir().mkpath(download))
        return fail(QStringLiteral("cannot create the download folder %1").arg(download),
                    kExitBadSetup);

    recordingVolumes = opts.volumes;
    if (recordingVolumes.isEmpty())
        recordingVolumes.append(RecordingVolume{QLatin1Char('D'), download});
    for (const RecordingVolume &v : recordingVolumes) {
        if (!QDir().mkpath(v.folder))
            return fail(QStringLiteral("cannot create the folder %1 of volume %2")
                            .arg(v.folder)
                            .arg(v.letter),
                        kExitBadSetup);
    }
    return true;
}

bool HeadlessServers::applyDriverOptions()
{
    const DriverTable &driver = activeDriver();
    QString error;
    // Option 100 is the simulator's own; a loaded driver is not sent it.
    if (!opts.driverPath && driver.setDriverOption) {
        const uint32_t status = driver.setDriverOption(nullptr, ARVEX_OPTION_SIM_CAMERAS,
                                                       uintptr_t(opts.simCameras), 0);
        if (status != 0)
            return fail(QStringLiteral("the simulated driver refused %1 cameras (status %2)")
                            .arg(opts.simCameras)
                            .arg(status),
                        kExitBadSetup);
    }
    if (!setDriverRawFolder(download, &error, driver))
        return fail(QStringLiteral("download folder: %1").arg(error), kExitBadSetup);
    if (!setDriverVolumes(recordingVolumes, &error, driver))
        return fail(QStringLiteral("recording volumes: %1").arg(error), kExitBadSetup);
    return true;
}

bool HeadlessServers::start(QString *error, int *exitStatus)
{
    auto report = [&]() {
        if (error)
            *error = failure;
        if (exitStatus)
            *exitStatus = failureStatus;
        return false;
    };
    stop();

    if (opts.driverPath) {
        DriverTable table;
        QString reason;
        if (!loadDriverLibrary(*opts.driverPath, &table, &reason)) {
            fail(QStringLiteral("cannot use the driver %1: %2").arg(*opts.driverPath, reason),
                 kExitBadSetup);
            return report();
        }
        setActiveDriver(table);
    }
    if (!prepareFolders() || !chooseAdapter())
        return report();

    camera = std::make_unique<QCameraMonitor>();
    rawFiles = std::make_unique<QCameraMonitor>();
    // After the monitors exist: each has initialised the driver by then.
    if (!applyDriverOptions()) {
        camera.reset();
        rawFiles.reset();
        return report();
    }

    camera->setMode(CameraMode);
    rawFiles->setMode(RawFileMode);
    for (QCameraMonitor *monitor : {camera.get(), rawFiles.get()}) {
        monitor->setPortBase(opts.portBase);
        monitor->setRecordingVolumes(recordingVolumes);
        monitor->setLogEnabled(opts.log);
        if (opts.log)
            connect(monitor, &QCameraMonitor::plainLog, this, printLine, Qt::DirectConnection);
    }
    connect(camera.get(), &QCameraMonitor::rawFolderChange, this, [this](const QString &folder) {
        QString reason;
        if (!applyRawFolderChange(folder, &download, &reason))
            printLine(QStringLiteral("arvex-remote: new download folder refused: %1").arg(reason));
    });

    const int delay = opts.netPerformance.value_or(kDefaultNetPerformance);
    const int format = opts.imageFormat.value_or(kDefaultImageFormat);
    const qint64 mac = macTextToNumber(chosen.macText);
    for (QCameraMonitor *monitor : {camera.get(), rawFiles.get()}) {
        if (!monitor->startServer(chosen.ipAddress, chosen.ipMask, mac, int(chosen.mtu), delay,
                                  format)) {
            fail(monitor->lastError().isEmpty()
                     ? QStringLiteral("a server could not start on %1 port %2")
                           .arg(ipToText(chosen.ipAddress))
                           .arg(monitor->listenPortNumber())
                     : monitor->lastError(),
                 kExitServerFailed);
            stop();
            return report();
        }
    }
    return true;
}

void HeadlessServers::stop()
{
    for (QCameraMonitor *monitor : {camera.get(), rawFiles.get()}) {
        if (monitor && monitor->currentStatus() != StatusDisabled)
            monitor->stopServer();
    }
    // Monitors shut the driver down when destroyed, after their devices.
    camera.reset();
    rawFiles.reset();
}

int runHeadless(int &argc, char **argv, const RunOptions &options)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Arvex Remote Control"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00.06"));

    StopSignals stopSignals;
    QString error;
    if (!stopSignals.install(&error)) {
        printLine(QStringLiteral("arvex-remote: %1").arg(error));
        return kExitServerFailed;
    }
    HeadlessServers servers(options);
    int status = kExitClean;
    if (!servers.start(&error, &status)) {
        printLine(QStringLiteral("arvex-remote: %1").arg(error));
        return status;
    }
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, &QCoreApplication::quit);
    printLine(QStringLiteral("arvex-remote: serving on %1 (adapter %2): camera server port %3, "
                             "raw-file server port %4; raw files in %5")
                  .arg(ipToText(servers.adapter().ipAddress))
                  .arg(QString::fromLatin1(servers.adapter().name))
                  .arg(options.portBase)
                  .arg(options.portBase + 1)
                  .arg(servers.downloadFolder()));
    app.exec();
    servers.stop();
    printLine(QStringLiteral("arvex-remote: stopped"));
    return kExitClean;
}
