// Worker threads that code the fast encoder's strips, shared by every caller
// and kept for the program's life.
#ifndef ARVEX_DEVICE_JPEG_JPEGWORKERPOOL_H
#define ARVEX_DEVICE_JPEG_JPEGWORKERPOOL_H

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class JpegWorkerPool
{
public:
    using Task = void (*)(void *context, int index);

    // The program's pool: one thread per core but the caller's (at least
    // one, at most one per strip but the caller's); started on first use.
    static JpegWorkerPool &instance();

    explicit JpegWorkerPool(int threadCount);
    ~JpegWorkerPool();
    JpegWorkerPool(const JpegWorkerPool &) = delete;
    JpegWorkerPool &operator=(const JpegWorkerPool &) = delete;

    int threadCount() const { return int(threads.size()); }

    // Runs task(context, i) for every i in [0, count) on the workers and
    // the calling thread, and returns once all of them have finished.
    // Several threads may call at once; workers serve their jobs in the
    // order they arrive.
    void run(int count, Task task, void *context);

private:
    struct Job {
        Task task = nullptr;
        void *context = nullptr;
        int count = 0;
        int next = 0;       // first index not yet taken by a worker
        int remaining = 0;  // indices not yet finished
    };

    void work();

    std::mutex mutex;  // guards pending, stopping and next/remaining of every job
    std::condition_variable workReady;
    std::condition_variable jobDone;
    std::vector<Job *> pending;  // jobs with indices left to take, oldest first
    bool stopping = false;
    std::vector<std::thread> threads;
};

#endif
