// The scripted responder's socket loop.
#include "fakeserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int bindLoopback(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void sendTo(int fd, const QByteArray &datagram, quint16 port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
           reinterpret_cast<sockaddr *>(&to), sizeof(to));
}

}  // namespace

FakeServer::~FakeServer()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    for (int fd : fds) {
        if (fd >= 0)
            close(fd);
    }
}

bool FakeServer::start(quint16 seed, Responder responder)
{
    respond = std::move(responder);
    for (int attempt = 0; attempt < 50; ++attempt) {
        const quint16 candidate = quint16(seed + 2 * attempt);
        fds[0] = bindLoopback(candidate);
        fds[1] = fds[0] >= 0 ? bindLoopback(quint16(candidate + 1)) : -1;
        if (fds[0] >= 0 && fds[1] >= 0) {
            base = candidate;
            worker = std::thread([this] { loop(); });
            return true;
        }
        for (int &fd : fds) {
            if (fd >= 0)
                close(fd);
            fd = -1;
        }
    }
    return false;
}

void FakeServer::sendFrom(int channel, const QByteArray &datagram, quint16 toPort)
{
    sendTo(fds[channel], datagram, toPort);
}

QVector<QByteArray> FakeServer::received() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

void FakeServer::loop()
{
    pollfd pfds[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    char buffer[65536];
    while (!stopping) {
        if (poll(pfds, 2, 20) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (!(pfds[i].revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t length = sizeof(from);
            const ssize_t n = recvfrom(fds[i], buffer, sizeof(buffer), 0,
                                       reinterpret_cast<sockaddr *>(&from), &length);
            if (n < 0)
                continue;
            const QByteArray request(buffer, int(n));
            {
                std::lock_guard<std::mutex> lock(mutex);
                requests.append(request);
            }
            for (const QByteArray &reply : respond(i, request))
                sendTo(fds[i], reply, ntohs(from.sin_port));
        }
    }
}
