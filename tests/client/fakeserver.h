// A scripted UDP responder on 127.0.0.1 for client tests: for every datagram
// it receives, a test-supplied function says what to send back to the sender.
// Runs on its own thread because the client under test blocks while waiting.
#ifndef ARVEX_TESTS_CLIENT_FAKESERVER_H
#define ARVEX_TESTS_CLIENT_FAKESERVER_H

#include <QByteArray>
#include <QVector>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class FakeServer
{
public:
    // Datagrams to send to the sender of a request that came in on port
    // base + channel, in order.
    using Responder = std::function<QVector<QByteArray>(int channel, const QByteArray &request)>;

    FakeServer() = default;
    ~FakeServer();

    // Binds 127.0.0.1 at two consecutive ports (a port base and base + 1),
    // trying bases from `seed` up; false when none is free.
    bool start(quint16 seed, Responder responder);
    quint16 portBase() const { return base; }
    // Sends from the socket of port base + `channel`.
    void sendFrom(int channel, const QByteArray &datagram, quint16 toPort);
    QVector<QByteArray> received() const;

private:
    void loop();

    int fds[2] = {-1, -1};
    quint16 base = 0;
    Responder respond;
    std::thread worker;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;  // guards requests
    QVector<QByteArray> requests;
};

#endif
