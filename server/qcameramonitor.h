// QCameraMonitor: one UDP server (camera or raw-file mode) on its own thread.
//
// PUBLIC CONTRACT (used by app/ and ui/). The server work may add private
// members and helpers freely but keeps these signatures.
//
// Threads: the owner (GUI or main thread) constructs, starts, stops and
// reconfigures the monitor and calls enumerateCameras()/cameraTable(); the
// worker thread runs every request handler. Signals reach the owner queued.
#ifndef ARVEX_SERVER_QCAMERAMONITOR_H
#define ARVEX_SERVER_QCAMERAMONITOR_H

#include "cameradevice.h"
#include "recordingvolumes.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>

enum MonitorMode { CameraMode = 0, RawFileMode = 1 };

enum MonitorStatus {
    StatusDisabled = 0,
    StatusEnabled = 1,
    StatusAwaitingEnumeration = 2,
    StatusAwaitingConnection = 3,
    StatusConnected = 4,
    StatusResending = 5
};

constexpr quint16 kDefaultPortBase = 1030;

class QCameraMonitor : public QThread
{
    Q_OBJECT

public:
    explicit QCameraMonitor(QObject *parent = nullptr);
    ~QCameraMonitor() override;

    // Set by the owner before the first start.
    void setMode(MonitorMode mode);
    MonitorMode monitorMode() const;
    // Camera server on base, raw-file server on base + 1 (default 1030).
    void setPortBase(quint16 base);
    quint16 listenPortNumber() const;
    // Recording volumes for write-to-disk and save-to-file, fixed at start.
    void setRecordingVolumes(const RecordingVolumes &volumes);

    // Binds on ipv4 (first octet in the top byte) at the mode's port and starts
    // the worker. Waits for the bind: false (with lastError()) when it failed,
    // the status then back at 0 and the thread ended.
    bool startServer(quint32 ipv4, quint32 mask, qint64 mac, int mtu, int delayUs, int format);
    // Stops the worker (waits for it), then closes open devices. Status 0.
    void stopServer();
    void setTransferOptions(int delayUs, int format);
    void setLogEnabled(bool enabled);
    bool isLogEnabled() const;
    QString lastError() const;

    int currentStatus() const;

    // Refills the camera table from the driver (also from the owner's thread).
    void enumerateCameras();
    void enumerateRawFiles();
    // Copies of the DeviceInfo records (356 bytes each) of the last camera
    // enumeration.
    QVector<QByteArray> cameraTable() const;
    // Number of raw-file clients with an open raw file (raw-file mode).
    int openRawFileCount() const;

    CameraDevice *currentDevice();
    void writeLog(const QString &text);

signals:
    void statusChanged(int status);
    void log(const QString &line);
    void calibrate(int mode);
    void rawFolderChange(QString folder);

public slots:
    void processUDPPackets();
    void calibrateCamera(int mode);

protected:
    void run() override;

private:
    // Filled in by the server implementation.
};

#endif
