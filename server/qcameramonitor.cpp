// QCameraMonitor: construction, configuration, start and stop, the worker's
// receive loop and the log.
#include "qcameramonitor.h"

#include "deviceinfo.h"
#include "logstamp.h"
#include "replysink.h"

#include <QUdpSocket>

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

// How long the worker waits in the kernel before it looks at a stop request
// again. A stop wakes the wait at once through the wake-up descriptor, so an
// idle server sleeps; without that descriptor the wait stays short.
constexpr int kIdleWaitMs = 1000;
constexpr int kReadyWaitMs = 20;

class SocketReplySink : public ReplySink
{
public:
    explicit SocketReplySink(QUdpSocket &socket) : udp(socket) {}

    void sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                      quint16 port) override
    {
        // A failed send is not retried: the client's time-out covers it.
        bool ipv4 = false;
        const quint32 v4 = address.toIPv4Address(&ipv4);
        if (!ipv4) {
            udp.writeDatagram(reinterpret_cast<const char *>(data), qint64(size), address, port);
            return;
        }
        // Straight to the kernel: writeDatagram makes address objects on the
        // heap for every datagram.
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(v4);
        if (sendto(int(udp.socketDescriptor()), data, size, 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to) < 0) {
            // Ignored, as above.
        }
    }

private:
    QUdpSocket &udp;
};

}  // namespace

QCameraMonitor::QCameraMonitor(QObject *parent) : QCameraMonitor(activeDriver(), parent) {}

QCameraMonitor::QCameraMonitor(const DriverTable &driverTable, QObject *parent)
    : QThread(parent),
      driver(driverTable),
      cameraInfo(size_t(4) * kDeviceInfoSize, 0),
      rawInfo(size_t(128) * kDeviceInfoSize, 0),
      defaultDevice(driverTable),
      rxBuffer(kReceiveBufferSize, 0),
      startTime(std::chrono::steady_clock::now())
{
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (driver.initializeDriver)
        driver.initializeDriver(nullptr);
    connect(this, &QCameraMonitor::calibrate, this, &QCameraMonitor::calibrateCamera,
            Qt::QueuedConnection);
}

QCameraMonitor::~QCameraMonitor()
{
    // A QThread must not be destroyed while it runs.
    if (isRunning()) {
        requestInterruption();
        wakeWorker();
    }
    joinWorker();
    if (wakeFd >= 0)
        close(wakeFd);
    // Devices go before the driver is shut down, never after.
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        for (auto &device : rawDevices)
            device->close();
        rawDevices.clear();
        defaultDevice.closeDevice();
    }
    if (driver.shutdownDriver)
        driver.shutdownDriver();
}

void QCameraMonitor::setMode(MonitorMode value)
{
    if (!isRunning())
        mode = value;
}

MonitorMode QCameraMonitor::monitorMode() const { return mode; }

void QCameraMonitor::setPortBase(quint16 base)
{
    if (!isRunning())
        portBase = base;
}

quint16 QCameraMonitor::listenPortNumber() const
{
    return quint16(portBase + (mode == RawFileMode ? 1 : 0));
}

void QCameraMonitor::setRecordingVolumes(const RecordingVolumes &volumes)
{
    if (!isRunning())
        recordingVolumes = volumes;
}

bool QCameraMonitor::startServer(quint32 ipv4, quint32 mask, qint64 mac, int mtuValue,
                                 int delayUs, int format)
{
    if (isRunning())
        stopServer();
    setLastError(QString());
    if (mode == RawFileMode && portBase == 0xFFFF) {
        const QString error = QStringLiteral("Cannot listen: port base %1 leaves no port for the "
                                             "raw-file server.")
                                  .arg(portBase);
        setLastError(error);
        emitLogLine(error);
        return false;
    }
    startOffline(ipv4, mask, mac, mtuValue, delayUs, format);
    bindOk = false;
    start(QThread::InheritPriority);
    bindDone.acquire();
    if (!bindOk) {
        joinWorker();
        setStatus(StatusDisabled);
        return false;
    }
    return true;
}

void QCameraMonitor::startOffline(quint32 ipv4, quint32 mask, qint64 mac, int mtuValue,
                                  int delayUs, int format)
{
    bindAddress = ipv4;
    subnetMask = mask;
    macAddress = mac;
    mtu = mtuValue;
    setTransferOptions(delayUs, format);
    setStatus(StatusEnabled);
}

void QCameraMonitor::stopServer()
{
    requestInterruption();
    wakeWorker();
    // Stored first so that the worker drops what still arrives; announced
    // after the worker has ended, so that no later status overtakes it.
    status = StatusDisabled;
    joinWorker();
    emit statusChanged(StatusDisabled);
    closeDevicesAfterStop();
}

void QCameraMonitor::setTransferOptions(int delayUs, int format)
{
    currentDelayUs = delayUs;
    baseDelayUs = delayUs;
    imageFormat = format;
    writeLog(QStringLiteral("Network Performance: %1 - Image Format: %2.")
                 .arg(delayUs)
                 .arg(format != 0 ? QStringLiteral("compressed") : QStringLiteral("uncompressed")));
}

void QCameraMonitor::setLogEnabled(bool enabled) { logEnabled = enabled; }

bool QCameraMonitor::isLogEnabled() const { return logEnabled; }

QString QCameraMonitor::lastError() const
{
    std::lock_guard<std::mutex> lock(errorMutex);
    return errorText;
}

void QCameraMonitor::setLastError(const QString &text)
{
    std::lock_guard<std::mutex> lock(errorMutex);
    errorText = text;
}

int QCameraMonitor::currentStatus() const { return status; }

quint8 QCameraMonitor::rawFileSelector() const { return quint8(rawSelector.load()); }

quint32 QCameraMonitor::imageBufferCapacity() const { return bufferCapacity; }

void QCameraMonitor::setReplySink(ReplySink *sink)
{
    if (!isRunning())
        externalSink = sink;
}

void QCameraMonitor::run()
{
    // The socket belongs to this thread: created, used and destroyed here.
    QUdpSocket udp;
    const QHostAddress address(bindAddress);
    const quint16 port = listenPortNumber();
    // Exclusive: a shared bind would let a second server take the port unseen.
    if (!udp.bind(address, port, QAbstractSocket::DontShareAddress)) {
        const QString error = QStringLiteral("Cannot listen on %1 port %2: %3")
                                  .arg(address.toString())
                                  .arg(port)
                                  .arg(udp.errorString());
        setLastError(error);
        emitLogLine(error);
        bindOk = false;
        bindDone.release();
        workerEnded.store(true, std::memory_order_release);
        return;
    }
    SocketReplySink sink(udp);
    socket = &udp;
    socketSink = &sink;
    bindOk = true;
    bindDone.release();

    // The worker sleeps in the kernel until a datagram or a stop request.
    pollfd waits[2] = {{int(udp.socketDescriptor()), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t waitCount = wakeFd >= 0 ? 2 : 1;
    while (!isInterruptionRequested()) {
        waits[0].revents = waits[1].revents = 0;
        if (poll(waits, waitCount, wakeFd >= 0 ? kIdleWaitMs : kReadyWaitMs) <= 0)
            continue;
        if (waits[0].revents & POLLERR) {
            // A pending socket error would keep the wait from sleeping.
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(waits[0].fd, SOL_SOCKET, SO_ERROR, &error, &length);
        }
        if (waits[0].revents & POLLIN)
            processUDPPackets();
        if (waits[1].revents & POLLIN) {
            uint64_t count = 0;
            if (read(wakeFd, &count, sizeof count) < 0)
                count = 0;
        }
    }
    socketSink = nullptr;
    socket = nullptr;
    workerEnded.store(true, std::memory_order_release);
}

void QCameraMonitor::joinWorker()
{
    wait();
    (void)workerEnded.load(std::memory_order_acquire);
}

void QCameraMonitor::wakeWorker()
{
    if (wakeFd < 0)
        return;
    const uint64_t one = 1;
    if (write(wakeFd, &one, sizeof one) < 0) {
        // Full counter: a wake is pending anyway.
    }
}

void QCameraMonitor::setStatus(int value)
{
    status = value;
    emit statusChanged(value);
}

void QCameraMonitor::setRunningStatus(int value)
{
    int current = status.load();
    while (current != StatusDisabled) {
        if (status.compare_exchange_weak(current, value)) {
            emit statusChanged(value);
            return;
        }
    }
}

void QCameraMonitor::writeLog(const QString &text)
{
    if (!logEnabled)
        return;
    emitLogLine(text);
}

void QCameraMonitor::emitLogLine(const QString &text)
{
    const QString stamp = formatLogStamp(std::chrono::steady_clock::now() - startTime);
    emit log(htmlLogLine(stamp, text));
    emit plainLog(stamp + text);
}

ServerIdentity QCameraMonitor::identity() const
{
    ServerIdentity id;
    id.macAddress = macAddress;
    id.address = bindAddress;
    id.mask = subnetMask;
    id.mtu = mtu;
    return id;
}
