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

#include "batchsender.h"
#include "cameradevice.h"
#include "monitorrequest.h"
#include "protocol.h"
#include "recordingvolumes.h"
#include "resendlist.h"
#include "w2dtargets.h"

#include <QByteArray>
#include <QHostAddress>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QVector>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

class QUdpSocket;
class ReplySink;

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
    // On a driver of the caller's choice (tests); it must outlive the monitor.
    explicit QCameraMonitor(const DriverTable &driver, QObject *parent = nullptr);
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

    // --- without a socket: tests and fuzzing ------------------------------
    // Takes the configuration of startServer and enables the monitor (status
    // 1) without a thread or socket; datagrams then come in through
    // handleDatagram and every outgoing datagram goes to the reply sink.
    void startOffline(quint32 ipv4, quint32 mask, qint64 mac, int mtu, int delayUs, int format);
    // Replaces the socket as destination of every outgoing datagram (null:
    // the socket again). Set only while the worker is not running.
    void setReplySink(ReplySink *sink);
    // Hands one datagram to the same code the receive loop runs, on the
    // caller's thread. Ignored while the worker thread runs.
    void handleDatagram(const uint8_t *data, size_t length, const QHostAddress &sender,
                        quint16 senderPort);

    // Byte 0 of the last datagram handled in raw-file mode.
    quint8 rawFileSelector() const;
    // Bytes the image buffer holds for one image (0 when none is allocated).
    quint32 imageBufferCapacity() const;

signals:
    void statusChanged(int status);
    void log(const QString &line);
    void calibrate(int mode);
    void rawFolderChange(QString folder);
    // Each log line as plain text: the stamp with its two spaces, the message.
    void plainLog(const QString &line);

public slots:
    void processUDPPackets();
    void calibrateCamera(int mode);

protected:
    void run() override;

private:
    using CommandHandler = CommandOutcome (QCameraMonitor::*)(const MonitorRequest &);

    // Receive loop and dispatch (qcameramonitor.cpp, dispatch.cpp).
    void handleReceived(size_t length, const QHostAddress &sender, quint16 senderPort);
    void dispatchCommand(const MonitorRequest &request);
    // The handler of a PKT_COMMAND sub-command, null when unknown
    // (commandtable.cpp: one line per sub-command).
    static CommandHandler commandHandler(uint32_t subCommand);

    // Outgoing datagrams (dispatch.cpp).
    void sendTo(const QHostAddress &address, quint16 port, const uint8_t *data, size_t size);
    // To the request's sender address and port.
    void sendReply(const MonitorRequest &request, const uint8_t *data, size_t size);
    void sendAck(const MonitorRequest &request, uint8_t result);

    // Status and log.
    void setStatus(int value);
    // Sets the status unless the server is disabled (stopping or stopped),
    // so that a handler finishing late cannot revive a stopped server.
    void setRunningStatus(int value);
    // Emits the line whatever the log flag says (bind failures).
    void emitLogLine(const QString &text);
    void setLastError(const QString &text);
    ServerIdentity identity() const;

    // Discovery (discovery.cpp).
    void handleEnumerate(const MonitorRequest &request);
    void handleRawInfo(const MonitorRequest &request);

    // Session (session.cpp).
    CommandOutcome handleOpen(const MonitorRequest &request);
    CommandOutcome handleClose(const MonitorRequest &request);
    CommandOutcome handleNop(const MonitorRequest &request);
    void openCamera(const MonitorRequest &request);
    void openRawFile(const MonitorRequest &request);
    void closeCamera(const MonitorRequest &request);
    void closeRawFile(const MonitorRequest &request);
    // Sizes the image buffers for the device's largest image; with growOnly
    // the buffers are only ever enlarged.
    void sizeBuffers(CameraDevice &device, bool growOnly);
    void freeBuffers();
    // After the worker has ended: live and grab off, devices closed.
    void closeDevicesAfterStop();

    // Handlers still to come, one table line each in commandtable.cpp.
    // Parameters, settings, status (server/commands*.cpp):
    CommandOutcome handleGetParameter(const MonitorRequest &request);
    CommandOutcome handleSetParameter(const MonitorRequest &request);
    CommandOutcome handleReadDefaultSettings(const MonitorRequest &request);
    CommandOutcome handleReadCameraSettings(const MonitorRequest &request);
    CommandOutcome handleRefreshCameraSettings(const MonitorRequest &request);
    CommandOutcome handleValidateCameraSettings(const MonitorRequest &request);
    CommandOutcome handleQuerySetting(const MonitorRequest &request);
    CommandOutcome handleGetSetting(const MonitorRequest &request);
    CommandOutcome handleSetSetting(const MonitorRequest &request);
    CommandOutcome handleAction20(const MonitorRequest &request);
    CommandOutcome handleReset(const MonitorRequest &request);
    CommandOutcome handleValue24(const MonitorRequest &request);
    CommandOutcome handleReadSettingsFromFlash(const MonitorRequest &request);
    CommandOutcome handleWriteSettingsToFlash(const MonitorRequest &request);
    CommandOutcome handleGetStatus(const MonitorRequest &request);
    CommandOutcome handleAction40(const MonitorRequest &request);
    CommandOutcome handleLive(const MonitorRequest &request);
    CommandOutcome handlePiv(const MonitorRequest &request);
    CommandOutcome handleGetDeviceValue(const MonitorRequest &request);
    CommandOutcome handleSetDeviceValue(const MonitorRequest &request);
    CommandOutcome handleGetStreamingGeometry(const MonitorRequest &request);
    CommandOutcome handleGetW2dProgress(const MonitorRequest &request);
    CommandOutcome handleGetCalibrationProgress(const MonitorRequest &request);
    // Image transfer (server/transfer*.cpp); PKT_RESEND goes to handleResend.
    CommandOutcome handleReadImage(const MonitorRequest &request);
    CommandOutcome handleMemoryStartGrab(const MonitorRequest &request);
    CommandOutcome handleMemoryStopGrab(const MonitorRequest &request);
    CommandOutcome handleGetTriggerIndex(const MonitorRequest &request);
    CommandOutcome handleZeroValueQuery(const MonitorRequest &request);
    CommandOutcome handleCalibrate(const MonitorRequest &request);
    void handleResend(const MonitorRequest &request);
    // Write-to-disk (server/writetodisk*.cpp):
    CommandOutcome handleSaveRawFile(const MonitorRequest &request);
    CommandOutcome handleWriteToDisk(const MonitorRequest &request);

    // Driver callbacks (any thread): they store values only.
    static void onCalibrationProgress(void *context, uint32_t done, uint32_t total);

    // Write-to-disk (writetodisk.cpp). w2dPrefixes: one target per volume of
    // the last accepted start, kept for the clean-up at every stop.
    bool selectW2dVolumes(const MonitorRequest &request, const QByteArray &folder,
                          uint8_t *record, QString *reason);
    void stopWriteToDisk();
    void removeSmallRecordings();
    static void onW2dProgress(void *context, uint32_t p, uint32_t q, uint32_t r, uint32_t s);
    QVector<W2dTarget> w2dPrefixes;

    const DriverTable &driver;

    // Guards cameraInfo, cameraCount, rawInfo and rawCount: the owner's thread
    // refreshes the camera table while the worker answers from it.
    mutable std::mutex tableMutex;
    std::vector<uint8_t> cameraInfo;  // 4 DeviceInfo records
    int cameraCount = 0;
    std::vector<uint8_t> rawInfo;     // 128 DeviceInfo records
    int rawCount = 0;

    // Guards the membership of rawDevices and the opening and closing of any
    // device against calibrateCamera, which runs on the owner's thread. The
    // worker alone changes them; it reads them without the lock.
    mutable std::mutex deviceMutex;
    CameraDevice defaultDevice;
    std::vector<std::unique_ptr<CameraDevice>> rawDevices;
    std::atomic<int> rawDeviceCount{0};
    std::atomic<int> rawSelector{0};

    // Network configuration: written by startServer before the worker starts.
    MonitorMode mode = CameraMode;
    quint16 portBase = kDefaultPortBase;
    quint32 bindAddress = 0xC0A8030A;  // 192.168.3.10
    quint32 subnetMask = 0xFFFFFF00;
    qint64 macAddress = 0;
    int mtu = 1500;
    RecordingVolumes recordingVolumes;

    // Transfer options, written by the owner while the worker runs.
    std::atomic<int> baseDelayUs{4};
    std::atomic<int> currentDelayUs{4};
    std::atomic<int> imageFormat{0};

    // Worker state.
    QUdpSocket *socket = nullptr;      // exists only while run() executes
    ReplySink *socketSink = nullptr;   // wraps socket while run() executes
    ReplySink *externalSink = nullptr;
    std::vector<uint8_t> rxBuffer;     // kReceiveBufferSize bytes
    QHostAddress receivedFrom;         // sender of the datagram in rxBuffer
    QSemaphore bindDone;
    std::atomic<bool> bindOk{false};   // handed over with bindDone
    // Stored by run() as it ends and loaded after every wait(): QThread::wait
    // hands over inside Qt's library, where ThreadSanitizer cannot see it.
    std::atomic<bool> workerEnded{false};
    void joinWorker();
    // An eventfd the worker waits on beside its socket: a stop request
    // writes it, so the idle worker sleeps until a datagram or the stop.
    int wakeFd = -1;
    void wakeWorker();

    std::atomic<int> status{StatusDisabled};
    std::atomic<bool> logEnabled{false};
    std::chrono::steady_clock::time_point startTime;
    mutable std::mutex errorMutex;     // guards errorText
    QString errorText;

    // Image buffers, sized at open for the largest image (session.cpp).
    struct FreeBuffer {
        void operator()(uint8_t *buffer) const { std::free(buffer); }
    };
    using Buffer = std::unique_ptr<uint8_t[], FreeBuffer>;
    Buffer imageBuffer;     // bufferCapacity + 16384 bytes
    // bufferCapacity + kSegmentStreamOverhead bytes: the JPEG encoders'
    // output, then the transfer's datagrams laid back to back.
    Buffer compressBuffer;
    std::atomic<quint32> bufferCapacity{0};

    // Progress values written by driver callbacks.
    std::atomic<uint32_t> w2dProgress[4] = {};
    std::atomic<uint32_t> calibDone{0};
    std::atomic<uint32_t> calibTotal{0};
    std::atomic<uint32_t> calibComplete{0};

    // Image transfer (transfer*.cpp), worker only. The last transfer's
    // parameters and the data in imageBuffer stay valid for resends until the
    // next successful CMD_READ_IMAGE or until the image buffers are freed.
    friend class TransferProbe;  // tests/transfer reads this state
    uint32_t sendImageSegments();
    void resendSegments();
    // Lays the transfer's datagrams back to back in compressBuffer (free
    // once compressed data is back in imageBuffer), ready for sending.
    void prepareSegmentStream();
    // Readies the batch sender for the transfer's client; false when the
    // datagrams go through sendTo instead (a test's sink, or an address the
    // batch sender does not take).
    bool segmentsToSocket();
    // `count` datagrams of `packet` bytes laid back to back; after them the
    // delay (a delay sends one datagram per call).
    void sendDatagrams(const uint8_t *datagrams, size_t packet, uint32_t count, bool toSocket,
                       uint32_t delayUs);
    void noteDroppedSegments(uint64_t droppedBefore);
    void endTransfer();
    static void onGrabFinished(void *context);
    bool transferValid = false;
    uint32_t sendSize = 0;
    uint32_t packetSize = 0;
    quint16 dataPort = 0;
    QHostAddress transferClient;  // with transferClientPort: who asked for it
    quint16 transferClientPort = 0;
    ResendList resendList;        // its size is the resend count
    std::vector<uint8_t> segmentDatagram = std::vector<uint8_t>(kMaxPacketSize, 0);
    bool segmentStreamReady = false;  // compressBuffer holds this transfer's datagrams
    BatchSender batchSender;
};

#endif
