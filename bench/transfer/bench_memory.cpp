// Benchmark: memory over many transfers. An in-process server sends
// 1280 x 1024 images (8-bit raw, then fast JPEG) to a client, 10,000 reads
// by default; the process's VmRSS is noted along the way, and every heap
// allocation made on the server's worker thread is counted (malloc and
// friends are wrapped here) and put down to whoever made it: the simulated
// camera's read-out, the JPEG library's own working memory (TurboJPEG sets
// it up inside every compress call), or the server. A transfer path that
// allocates per image or per datagram shows up as a count, not only as
// growth. Not a test.
//
//   bench_memory [TRANSFERS] [--where]     (default 10000)
//     --where prints the call stack of every allocation the server's thread
//     makes in one transfer after the warm-up
#include "benchrig.h"

#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
}

namespace {

// Ports of this benchmark: the server 36400 and up.
constexpr quint16 kServerPort = 36400;
constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr uint32_t kPacket = 1488;
constexpr int kSamples = 20;
constexpr int kWarmUp = 50;
// Growth of VmRSS from the first sample after the warm-up that still counts
// as flat (allocator bookkeeping, the log of a long run).
constexpr long kFlatKiB = 1024;

enum Origin { kServer, kCamera, kJpegLibrary, kOrigins };
const char *const kOriginNames[kOrigins] = {"server", "simulated camera", "JPEG library"};

std::atomic<long> watchedThread{0};
std::atomic<uint64_t> watchedAllocations[kOrigins] = {};
std::atomic<bool> printStacks{false};

// Who asked for the memory, from the return addresses on the stack.
Origin originOf(void *const *frames, int depth)
{
    for (int i = 0; i < depth; ++i) {
        Dl_info info{};
        if (!dladdr(frames[i], &info))
            continue;
        if (info.dli_fname && std::strstr(info.dli_fname, "turbojpeg"))
            return kJpegLibrary;
        if (info.dli_sname &&
            (std::strstr(info.dli_sname, "renderTestPattern") || std::strstr(info.dli_sname, "_ZN3sim")))
            return kCamera;
    }
    return kServer;
}

long threadId()
{
    static thread_local long id = 0;
    if (id == 0)
        id = long(syscall(SYS_gettid));
    return id;
}

void note()
{
    static thread_local bool inside = false;
    const long watched = watchedThread.load(std::memory_order_relaxed);
    if (watched == 0 || inside || threadId() != watched)
        return;
    inside = true;
    void *frames[32];
    const int depth = backtrace(frames, 32);
    watchedAllocations[originOf(frames, depth)].fetch_add(1, std::memory_order_relaxed);
    if (printStacks.load(std::memory_order_relaxed)) {
        // backtrace_symbols_fd writes without allocating.
        static const char separator[] = "--- allocation\n";
        if (write(2, separator, sizeof separator - 1) >= 0)
            backtrace_symbols_fd(frames, depth, 2);
    }
    inside = false;
}

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

}  // namespace

extern "C" {

void *malloc(size_t size)
{
    note();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    note();
    return __libc_calloc(count, size);
}

void *realloc(void *pointer, size_t size)
{
    note();
    return __libc_realloc(pointer, size);
}

void *memalign(size_t alignment, size_t size)
{
    note();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    note();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    note();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : ENOMEM;
}

}  // extern "C"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int transfers = argc > 1 ? std::max(kSamples, std::atoi(argv[1])) : 10000;
    const bool where = argc > 2 && std::strcmp(argv[2], "--where") == 0;
    void *frames[4];
    backtrace(frames, 4);  // loads what backtrace needs before any counting

    ServerRig rig;
    if (!rig.start(kServerPort, 0, 0) || !rig.setFormat(kWidth, kHeight, 8)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(rig.lastError().message));
        return 1;
    }
    const long server = rig.serverThreadId();
    std::printf("bench_memory: %d transfers of %ux%u 8-bit images in %u-byte datagrams, half raw "
                "and half fast JPEG, %s\n",
                transfers, kWidth, kHeight, kPacket, loadText().c_str());
    if (server == 0)
        std::printf("  (the server's thread was not found: allocations are not counted)\n");

    bool allMet = true;
    for (int format : {0, 1}) {
        rig.setTransferOptions(0, format);
        const int count = transfers / 2;
        int failed = 0;
        for (int i = 0; i < kWarmUp; ++i)
            failed += rig.read(kPacket, false) ? 0 : 1;
        if (where) {
            watchedThread = server;
            printStacks = true;
            rig.read(kPacket, false);
            printStacks = false;
            watchedThread = 0;
        }
        for (auto &count : watchedAllocations)
            count = 0;
        watchedThread = server;
        std::vector<long> samples;
        const long first = rssKiB();
        for (int i = 0; i < count; ++i) {
            failed += rig.read(kPacket, false) ? 0 : 1;
            if ((i + 1) % (count / kSamples) == 0)
                samples.push_back(rssKiB());
        }
        watchedThread = 0;
        uint64_t allocations[kOrigins];
        for (int o = 0; o < kOrigins; ++o)
            allocations[o] = watchedAllocations[o].load();
        long highest = first;
        for (long s : samples)
            highest = std::max(highest, s);
        const long growth = samples.empty() ? 0 : samples.back() - first;
        const bool met = failed == 0 && growth <= kFlatKiB && highest - first <= kFlatKiB &&
                         (server == 0 || allocations[kServer] == 0);
        allMet = allMet && met;
        std::printf("\nformat %d: %d transfers after %d to warm up, %d failed\n", format, count,
                    kWarmUp, failed);
        std::printf("  VmRSS KiB: first %ld, highest %ld, last %ld (growth %+ld)\n", first, highest,
                    samples.empty() ? first : samples.back(), growth);
        std::printf("  VmRSS along the run:");
        for (long s : samples)
            std::printf(" %ld", s);
        std::printf("\n  heap allocations on the server's thread, a transfer:");
        for (int o = 0; o < kOrigins; ++o)
            std::printf("%s %s %.3f", o ? "," : "", kOriginNames[o], double(allocations[o]) / count);
        std::printf("\n");
        std::printf("  flat memory, no allocation by the server per transfer: %s\n",
                    met ? "met" : "NOT met");
    }
    std::printf("\n%s\n", allMet ? "memory targets met" : "some memory targets not met");
    return 0;
}
