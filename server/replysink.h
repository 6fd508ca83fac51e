// Where the monitor's outgoing datagrams go: its socket in normal runs, a
// recorder when tests or fuzzers feed datagrams in without a socket.
#ifndef ARVEX_SERVER_REPLYSINK_H
#define ARVEX_SERVER_REPLYSINK_H

#include <QByteArray>
#include <QHostAddress>
#include <QVector>

#include <cstddef>
#include <cstdint>

class ReplySink
{
public:
    virtual ~ReplySink() = default;
    // Called on the thread that handles the datagram; must not keep `data`.
    virtual void sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                              quint16 port) = 0;
};

// Keeps every datagram. Not thread-safe: read it on the thread that fed the
// monitor, or after the monitor's worker has ended.
class RecordingReplySink : public ReplySink
{
public:
    struct Datagram {
        QByteArray bytes;
        QHostAddress address;
        quint16 port = 0;
    };

    void sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                      quint16 port) override
    {
        datagrams.append(Datagram{
            QByteArray(reinterpret_cast<const char *>(data), int(size)), address, port});
    }

    QVector<Datagram> datagrams;
};

#endif
