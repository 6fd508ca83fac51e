// The self-pipe behind StopSignals.
#include "stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeRead = -1;
int pipeWrite = -1;

extern "C" void onStopSignal(int signalNumber)
{
    // Only async-signal-safe calls here.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (write(pipeWrite, &byte, 1) < 0) {
        // A full pipe already holds a stop request.
    }
    errno = saved;
}

const int kSignals[] = {SIGINT, SIGTERM};

}  // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent) {}

StopSignals::~StopSignals()
{
    if (!installed)
        return;
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    delete notifier;
    close(pipeRead);
    close(pipeWrite);
    pipeRead = pipeWrite = -1;
}

bool StopSignals::install(QString *error)
{
    if (installed || pipeRead >= 0) {
        if (error)
            *error = QStringLiteral("stop signals are already handled");
        return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error)
            *error = QStringLiteral("cannot create a pipe: %1").arg(QString::fromLocal8Bit(
                         std::strerror(errno)));
        return false;
    }
    pipeRead = fds[0];
    pipeWrite = fds[1];
    notifier = new QSocketNotifier(pipeRead, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);

    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
    installed = true;
    return true;
}

void StopSignals::readPipe()
{
    unsigned char byte = 0;
    int last = 0;
    while (read(pipeRead, &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit stopRequested(last);
}
