// A minimal blocking client for soak and stress tests, on the protocol's own
// builders: one socket bound to a loopback address of the caller's choice,
// requests with fresh ids, replies matched by id, segments counted or kept.
// Create and use it on one thread; it never sends outside 127.0.0.0/8.
#ifndef ARVEX_TESTS_SOAK_LOOPBACKCLIENT_H
#define ARVEX_TESTS_SOAK_LOOPBACKCLIENT_H

#include "protocol.h"

#include <QByteArray>
#include <QHostAddress>
#include <QUdpSocket>
#include <QVector>

#include <cstdint>
#include <functional>
#include <optional>

class LoopbackClient
{
public:
    explicit LoopbackClient(const QHostAddress &local);
    bool isBound() const;
    quint16 port() const { return socket.localPort(); }

    uint16_t nextId() { return ++lastId; }
    // False when `server` is not a loopback address.
    bool send(const QHostAddress &server, quint16 port, const QByteArray &datagram);
    // The reply with this id; segments that arrive meanwhile go to `onSegment`
    // (when set), anything else is counted as stray.
    std::optional<QByteArray> waitForReply(uint16_t id, int timeoutMs);
    // Sends a command and waits for its reply.
    std::optional<QByteArray> command(const QHostAddress &server, quint16 port,
                                      uint32_t subCommand, const QVector<uint32_t> &args = {},
                                      int timeoutMs = 1000);
    // Receives until `timeoutMs` passes without a datagram.
    void drain(int timeoutMs);

    QUdpSocket &udp() { return socket; }

    std::function<void(const QByteArray &segment)> onSegment;
    int strays = 0;
    int segments = 0;

private:
    QUdpSocket socket;
    uint16_t lastId = 0;
};

QByteArray commandDatagram(uint16_t id, uint32_t subCommand, const QVector<uint32_t> &args = {},
                           uint8_t selector = 0);
QByteArray enumerateDatagram(uint16_t id);
QByteArray resendDatagram(uint16_t id, const QVector<uint16_t> &indices, bool last);
// The result byte of a reply (AckReply or record).
uint8_t replyResult(const QByteArray &reply);
uint32_t replyWord(const QByteArray &reply, int offset);

#endif
