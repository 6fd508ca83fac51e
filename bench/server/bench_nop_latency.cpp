// Benchmark: CMD_NOP round-trip latency against a real arvex-remote --headless
// on 127.0.0.1, and the server process's CPU use while idle and under load.
//
//   bench_nop_latency [REQUESTS] [IDLE_SECONDS]     (defaults 5000, 3)
#include "clientsession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

// Ports of the benchmark: 27800 and up (tests use 27000..27799).
constexpr quint16 kPortSeed = 27800;

// CPU time of the process's live threads, in seconds, to the nanosecond
// (/proc/PID/task/TID/schedstat). utime and stime come in 10 ms ticks, which
// makes a few seconds of an idle server read as 0.33 % per tick; threads that
// ended are not in here, which is fine for a server whose threads stay.
// -1 when it cannot be read.
double threadCpuSeconds(qint64 pid)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty())
        return -1;
    double nanoseconds = 0;
    for (const QString &id : ids) {
        QFile schedstat(tasks.filePath(id + QStringLiteral("/schedstat")));
        if (!schedstat.open(QIODevice::ReadOnly))
            return -1;
        nanoseconds += schedstat.readAll().split(' ').value(0).toDouble();
    }
    return nanoseconds / 1e9;
}

double percentile(const std::vector<double> &sorted, double p)
{
    const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return sorted[index];
}

bool startServer(QProcess *server, const QString &folder, quint16 *base)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        *base = quint16(kPortSeed + 2 * attempt);
        server->start(QStringLiteral(ARVEX_REMOTE_PATH),
                      {"--headless", "--listen", "127.0.0.1", "--port-base",
                       QString::number(*base), "--download-folder", folder});
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            server->waitForReadyRead(100);
            err += server->readAllStandardError();
            if (err.contains("serving on"))
                return true;
            if (server->state() == QProcess::NotRunning)
                break;
        }
        server->waitForFinished(5000);
        if (!err.contains("Cannot listen")) {
            std::fprintf(stderr, "arvex-remote did not start: %s\n", err.constData());
            return false;
        }
    }
    return false;
}

struct Latency {
    double p50 = 0, p99 = 0, max = 0, mean = 0;
    int failures = 0;
};

Latency measureNops(ClientSession &session, Channel channel, int requests)
{
    std::vector<double> us;
    us.reserve(size_t(requests));
    Latency result;
    for (int i = 0; i < requests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = session.nop(channel);
        const auto end = std::chrono::steady_clock::now();
        if (!ok) {
            ++result.failures;
            continue;
        }
        us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    if (us.empty())
        return result;
    std::sort(us.begin(), us.end());
    result.p50 = percentile(us, 0.50);
    result.p99 = percentile(us, 0.99);
    result.max = us.back();
    double sum = 0;
    for (double v : us)
        sum += v;
    result.mean = sum / double(us.size());
    return result;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int requests = args.size() > 1 ? args[1].toInt() : 5000;
    const int idleSeconds = args.size() > 2 ? args[2].toInt() : 3;
    if (requests <= 0 || idleSeconds <= 0) {
        std::fprintf(stderr, "usage: bench_nop_latency [REQUESTS] [IDLE_SECONDS]\n");
        return 2;
    }

    QTemporaryDir folder;
    QProcess server;
    quint16 base = 0;
    if (!folder.isValid() || !startServer(&server, folder.path(), &base))
        return 1;
    const qint64 pid = server.processId();

    SessionOptions options;
    options.server = QHostAddress(QHostAddress::LocalHost);
    options.portBase = base;
    options.loopbackOnly = true;
    ClientSession session;
    if (!session.start(options)) {
        std::fprintf(stderr, "%s\n", qPrintable(session.lastError().message));
        return 1;
    }

    // Idle: the server has no client; its threads wait in the kernel.
    QThread::msleep(500);
    const double idleStart = threadCpuSeconds(pid);
    QElapsedTimer idleClock;
    idleClock.start();
    QThread::sleep(unsigned(idleSeconds));
    const double idleEnd = threadCpuSeconds(pid);
    const double idleCpu = (idleEnd - idleStart) / (double(idleClock.elapsed()) / 1000.0);

    measureNops(session, Channel::Camera, 200);  // warm-up
    const double loadStart = threadCpuSeconds(pid);
    QElapsedTimer loadClock;
    loadClock.start();
    const Latency camera = measureNops(session, Channel::Camera, requests);
    const Latency raw = measureNops(session, Channel::RawFile, requests);
    const double loadSeconds = double(loadClock.elapsed()) / 1000.0;
    const double loadEnd = threadCpuSeconds(pid);
    const double loadCpu = (loadEnd - loadStart) / loadSeconds;
    if (std::min({idleStart, idleEnd, loadStart, loadEnd}) < 0) {
        std::fprintf(stderr, "cannot read the server's CPU time from /proc/%lld/task\n",
                     static_cast<long long>(pid));
        ::kill(pid_t(pid), SIGTERM);
        server.waitForFinished(10000);
        return 1;
    }

    std::printf("arvex-remote --headless on 127.0.0.1, port base %u, pid %lld\n", unsigned(base),
                static_cast<long long>(pid));
    std::printf("CMD_NOP round trip, %d requests each, one at a time (microseconds):\n",
                requests);
    for (const auto &[name, l] : {std::make_pair("camera server  ", camera),
                                  std::make_pair("raw-file server", raw)})
        std::printf("  %s  p50 %7.1f  p99 %7.1f  max %8.1f  mean %7.1f  failures %d\n", name,
                    l.p50, l.p99, l.max, l.mean, l.failures);
    std::printf("  throughput %.0f requests/s\n", 2.0 * requests / loadSeconds);
    std::printf("server CPU idle (%d s): %.2f %% of one core\n", idleSeconds, idleCpu * 100.0);
    std::printf("server CPU under the NOP load: %.1f %% of one core\n", loadCpu * 100.0);
    const bool idleMet = idleCpu < 0.005;
    const bool latencyMet = std::max(camera.p99, raw.p99) < 100.0;
    std::printf("idle CPU < 0.5 %% of a core: %s; NOP round trip p99 < 100 us: %s\n",
                idleMet ? "met" : "NOT met", latencyMet ? "met" : "NOT met");

    ::kill(pid_t(pid), SIGTERM);
    if (!server.waitForFinished(10000) || server.exitCode() != 0) {
        std::fprintf(stderr, "arvex-remote did not stop cleanly\n");
        return 1;
    }
    return camera.failures + raw.failures == 0 ? 0 : 1;
}
