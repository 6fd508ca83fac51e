// Helpers for tests that drive a real monitor on 127.0.0.1: a client socket,
// a recorder of the monitor's signals, starting on a free port.
//
// Ports: each test program has its own 1000-port block (tst_monitor_framing
// 21000, _discovery 22000, _session 23000, _seam 24000, _simulator 25000);
// each call site inside a program starts at seed, seed + 200 or seed + 400.
// startOnFreePort tries seed, seed + 2, ... (100 tries) and keeps the first
// base whose bind succeeds. Binds are exclusive, so a port in use is skipped.
#ifndef ARVEX_TESTS_SERVER_MONITORKIT_H
#define ARVEX_TESTS_SERVER_MONITORKIT_H

#include "qcameramonitor.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QUdpSocket>
#include <QVector>

#include <cstdint>

constexpr quint32 kLoopback = 0x7F000001;  // 127.0.0.1
constexpr quint32 kLoopbackMask = 0xFF000000;
constexpr qint64 kTestMac = 0x0011223344556677LL & 0xFFFFFFFFFFFFLL;
constexpr int kTestMtu = 1500;

// Starts `monitor` (mode already set) on the first free port from `seed`.
bool startOnFreePort(QCameraMonitor &monitor, quint16 seed);
// Starts a camera-mode and a raw-file-mode monitor on one port base.
bool startPairOnFreePort(QCameraMonitor &camera, QCameraMonitor &raw, quint16 seed);

// Records every status and plain log line, delivered on the test's thread.
class MonitorRecorder : public QObject
{
    Q_OBJECT
public:
    explicit MonitorRecorder(QCameraMonitor &monitor);
    QVector<int> statuses;
    QStringList lines;  // without their stamps
    QStringList htmlLines;
    void clear();
    // Lets queued signals arrive, then tells whether a line equals `text`.
    bool waitForLine(const QString &text, int timeoutMs = 2000);
};

class TestClient
{
public:
    explicit TestClient(const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.1")));
    bool isBound() const;
    quint16 port() const;
    void send(const QByteArray &datagram, quint16 port);
    // The next datagram within the time, or a null array.
    QByteArray receive(int timeoutMs = 2000, QHostAddress *from = nullptr);
    // Sends CMD_NOP with `probeId` and returns the datagrams that came
    // before its acknowledgement: what earlier requests were answered with.
    QVector<QByteArray> repliesBeforeProbe(quint16 port, quint16 probeId = 0xBEEF);
    QUdpSocket socket;
};

QByteArray enumerateRequest(uint16_t id, uint8_t selector = 0);
QByteArray rawInfoRequest(uint16_t id, int32_t index);
QByteArray commandRequest(uint16_t id, uint32_t subCommand, const QVector<uint32_t> &args = {},
                          uint8_t selector = 0);
// An AckReply's fields.
struct Ack {
    bool valid = false;
    uint8_t result = 0;
    uint8_t type = 0;
    uint16_t id = 0;
};
Ack decodeAck(const QByteArray &datagram);

#endif
