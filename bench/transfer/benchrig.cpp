// The in-process server and client of the transfer benchmarks.
#include "benchrig.h"

#include "drivertable.h"
#include "testpattern.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>

namespace {

constexpr quint32 kLoopback = 0x7F000001;
constexpr quint32 kLoopbackMask = 0xFF000000;
constexpr int kBindAttempts = 50;
constexpr uint32_t kSettingBitsPerPixel = 3;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;

double cpuSeconds(clockid_t clock)
{
    timespec t{};
    if (clock_gettime(clock, &t) != 0)
        return 0;
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The CPU clock of another thread of this process (the encoding the kernel
// gives per-thread clocks, as pthread_getcpuclockid builds it).
clockid_t threadCpuClock(long tid)
{
    return clockid_t((~tid << 3) | 6);
}

// The server's worker: Qt names the thread after the monitor's class.
long findServerThread()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "QCameraMonitor")
            return task.toLong();
    }
    return 0;
}

}  // namespace

ServerRig::ServerRig() = default;
ServerRig::~ServerRig()
{
    reader.reset();
    client.reset();
    if (server)
        server->stopServer();
}

bool ServerRig::start(quint16 firstPort, int delayUs, int format)
{
    server = std::make_unique<QCameraMonitor>(simulatedDriverTable());
    bool started = false;
    for (int i = 0; i < kBindAttempts && !started; ++i) {
        base = quint16(firstPort + 2 * i);
        server->setPortBase(base);
        started = server->startServer(kLoopback, kLoopbackMask, 0, 1500, delayUs, format);
    }
    if (!started)
        return false;
    SessionOptions options;
    options.server = QHostAddress(QHostAddress::LocalHost);
    options.portBase = base;
    options.loopbackOnly = true;
    client = std::make_unique<ClientSession>();
    if (!client->start(options) || !client->enumerateCameras() || !client->openCamera(16)) {
        error = client->lastError();
        return false;
    }
    reader = std::make_unique<ImageReader>(*client);
    nextFrame = 0;
    serverThread = findServerThread();
    return true;
}

bool ServerRig::setFormat(uint32_t w, uint32_t h, uint32_t b)
{
    for (const auto &[setting, value] :
         {std::pair<uint32_t, uint32_t>{kSettingWidth, w}, {kSettingHeight, h},
          {kSettingBitsPerPixel, b}}) {
        const auto reply = client->command(Channel::Camera, CMD_SET_SETTING, {setting, value});
        if (!reply || !reply->isAck() || reply->header.resultOrSelector != RESULT_OK) {
            error = client->lastError();
            return false;
        }
    }
    width = w;
    height = h;
    bits = b;
    return true;
}

std::optional<TimedRead> ServerRig::read(uint32_t packetSize, bool verify)
{
    ImageReadOptions options;
    options.packetSize = packetSize;
    const clockid_t serverClock = threadCpuClock(serverThread);
    const double clientBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double serverBefore = serverThread ? cpuSeconds(serverClock) : 0;
    const auto start = std::chrono::steady_clock::now();
    auto image = reader->read(options);
    const auto end = std::chrono::steady_clock::now();
    const double clientCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - clientBefore;
    const double serverCpu = serverThread ? cpuSeconds(serverClock) - serverBefore : 0;
    // A read that reached the camera advanced its live counter, whatever
    // came of the transfer.
    const uint32_t frame = nextFrame++;
    if (!image) {
        error = reader->lastError();
        return std::nullopt;
    }
    TimedRead timed;
    timed.wholeSeconds = std::chrono::duration<double>(end - start).count();
    timed.deliverySeconds = std::chrono::duration<double>(end - image->describedAt).count();
    timed.clientCpuSeconds = clientCpu;
    timed.serverCpuSeconds = serverCpu;
    if (verify)
        timed.correct = image->description.format == IMAGE_FORMAT_RAW &&
                        findTestPatternMismatch(
                            reinterpret_cast<const uint8_t *>(image->data.constData()),
                            size_t(image->data.size()), width, height, bits, frame) < 0;
    timed.image = std::move(*image);
    return timed;
}

Summary summarizeHigh(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.best = values.back();
    s.median = values[values.size() / 2];
    return s;
}

Summary summarizeLow(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.best = values.front();
    s.median = values[values.size() / 2];
    return s;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

double mean(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / double(values.size());
}

std::string loadText()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return "load average " + one + " " + five + " " + fifteen;
}
