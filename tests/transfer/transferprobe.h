// Read access to a monitor's transfer state for the transfer tests (the
// monitor names this class its friend), and a reply sink that notes the
// segment delay in force at every datagram.
#ifndef ARVEX_TESTS_TRANSFER_TRANSFERPROBE_H
#define ARVEX_TESTS_TRANSFER_TRANSFERPROBE_H

#include "qcameramonitor.h"
#include "replysink.h"

class TransferProbe
{
public:
    static int currentDelay(const QCameraMonitor &monitor) { return monitor.currentDelayUs; }
    static uint32_t resendCount(const QCameraMonitor &monitor) { return monitor.resendList.size(); }
    static bool cameraGrabbing(const QCameraMonitor &monitor)
    {
        return monitor.defaultDevice.isGrabbing;
    }
};

class DelayNotingSink : public RecordingReplySink
{
public:
    explicit DelayNotingSink(const QCameraMonitor &observed) : monitor(observed) {}
    void sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                      quint16 port) override
    {
        delays.append(TransferProbe::currentDelay(monitor));
        RecordingReplySink::sendDatagram(data, size, address, port);
    }
    void clear()
    {
        datagrams.clear();
        delays.clear();
    }
    QVector<int> delays;  // one per datagram, in step with `datagrams`

private:
    const QCameraMonitor &monitor;
};

#endif
