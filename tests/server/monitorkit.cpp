// Test helpers for driving a real monitor on 127.0.0.1.
#include "monitorkit.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {
constexpr int kPortAttempts = 100;

const uint8_t *bytesOf(const QByteArray &a) { return reinterpret_cast<const uint8_t *>(a.constData()); }
}  // namespace

bool startOnFreePort(QCameraMonitor &monitor, quint16 seed)
{
    for (int i = 0; i < kPortAttempts; ++i) {
        monitor.setPortBase(quint16(seed + 2 * i));
        if (monitor.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0))
            return true;
    }
    return false;
}

bool startPairOnFreePort(QCameraMonitor &camera, QCameraMonitor &raw, quint16 seed)
{
    for (int i = 0; i < kPortAttempts; ++i) {
        const quint16 base = quint16(seed + 2 * i);
        camera.setPortBase(base);
        raw.setPortBase(base);
        if (!camera.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0))
            continue;
        if (raw.startServer(kLoopback, kLoopbackMask, kTestMac, kTestMtu, 4, 0))
            return true;
        camera.stopServer();
    }
    return false;
}

MonitorRecorder::MonitorRecorder(QCameraMonitor &monitor)
{
    connect(&monitor, &QCameraMonitor::statusChanged, this, [this](int s) { statuses << s; });
    // The stamp is 15 characters or more; the message follows its two spaces.
    connect(&monitor, &QCameraMonitor::plainLog, this, [this](const QString &line) {
        const int split = line.indexOf(QLatin1String("  "));
        lines << (split < 0 ? line : line.mid(split + 2));
    });
    connect(&monitor, &QCameraMonitor::log, this, [this](const QString &line) { htmlLines << line; });
}

void MonitorRecorder::clear()
{
    QCoreApplication::processEvents();
    statuses.clear();
    lines.clear();
    htmlLines.clear();
}

bool MonitorRecorder::waitForLine(const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        QCoreApplication::processEvents();
        if (lines.contains(text))
            return true;
    } while (!deadline.hasExpired());
    return false;
}

TestClient::TestClient(const QHostAddress &address)
{
    socket.bind(address, 0, QAbstractSocket::DontShareAddress);
}

bool TestClient::isBound() const { return socket.state() == QAbstractSocket::BoundState; }

quint16 TestClient::port() const { return socket.localPort(); }

void TestClient::send(const QByteArray &datagram, quint16 port)
{
    socket.writeDatagram(datagram, QHostAddress(QStringLiteral("127.0.0.1")), port);
}

QByteArray TestClient::receive(int timeoutMs, QHostAddress *from)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
        return QByteArray();
    QByteArray datagram(int(socket.pendingDatagramSize()), 0);
    socket.readDatagram(datagram.data(), datagram.size(), from);
    return datagram;
}

QVector<QByteArray> TestClient::repliesBeforeProbe(quint16 port, quint16 probeId)
{
    send(commandRequest(probeId, CMD_NOP), port);
    QVector<QByteArray> before;
    for (;;) {
        const QByteArray datagram = receive();
        if (datagram.isNull()) {
            before << QByteArray("probe lost");
            return before;
        }
        const Ack ack = decodeAck(datagram);
        if (ack.valid && ack.type == PKT_COMMAND && ack.id == probeId)
            return before;
        before << datagram;
    }
}

QByteArray enumerateRequest(uint16_t id, uint8_t selector)
{
    QByteArray out(int(kHeaderSize), 0);
    buildEnumerateRequest(reinterpret_cast<uint8_t *>(out.data()), id, selector);
    return out;
}

QByteArray rawInfoRequest(uint16_t id, int32_t index)
{
    QByteArray out(12, 0);
    buildRawInfoRequest(reinterpret_cast<uint8_t *>(out.data()), id, index);
    return out;
}

QByteArray commandRequest(uint16_t id, uint32_t subCommand, const QVector<uint32_t> &args,
                          uint8_t selector)
{
    QByteArray out(16 + 4 * args.size(), 0);
    buildCommandRequest(reinterpret_cast<uint8_t *>(out.data()), id, subCommand, args.constData(),
                        size_t(args.size()), selector);
    return out;
}

Ack decodeAck(const QByteArray &datagram)
{
    Ack ack;
    if (datagram.size() != int(kAckSize))
        return ack;
    const PacketHeader h = decodeHeader(bytesOf(datagram), size_t(datagram.size()));
    ack.valid = h.length == kAckSize && datagram[1] == 0 && datagram[2] == 0;
    ack.result = h.resultOrSelector;
    ack.type = h.type;
    ack.id = h.requestId;
    return ack;
}
