// Worker threads of the fast encoder.
#include "jpegworkerpool.h"

#include "jpegcompress.h"

#include <algorithm>

JpegWorkerPool &JpegWorkerPool::instance()
{
    // The caller codes strips as well, so one worker per core besides it.
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 2u);
    static JpegWorkerPool pool(int(std::min(cores - 1, kJpegMaxParts - 1)));
    return pool;
}

JpegWorkerPool::JpegWorkerPool(int threadCount)
{
    // Room for a job per calling thread without growing while callers wait.
    pending.reserve(16);
    threads.reserve(size_t(std::max(threadCount, 1)));
    for (int i = 0; i < std::max(threadCount, 1); ++i)
        threads.emplace_back([this] { work(); });
}

JpegWorkerPool::~JpegWorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    workReady.notify_all();
    for (std::thread &thread : threads)
        thread.join();
}

void JpegWorkerPool::run(int count, Task task, void *context)
{
    if (count <= 0)
        return;
    Job job;
    job.task = task;
    job.context = context;
    job.count = count;
    job.remaining = count;

    std::unique_lock<std::mutex> lock(mutex);
    pending.push_back(&job);
    workReady.notify_all();
    // The caller takes indices of its own job too instead of waiting idle:
    // it is running already, while a worker first has to wake up.
    while (job.next < job.count) {
        const int index = job.next++;
        if (job.next == job.count)
            pending.erase(std::find(pending.begin(), pending.end(), &job));
        lock.unlock();
        task(context, index);
        lock.lock();
        --job.remaining;
    }
    // The job lives on this stack, so this call must not return before the
    // last worker has let go of it; workers touch it only under the mutex
    // once its task has run.
    jobDone.wait(lock, [&job] { return job.remaining == 0; });
}

void JpegWorkerPool::work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        workReady.wait(lock, [this] { return stopping || !pending.empty(); });
        if (pending.empty())
            return;
        Job *job = pending.front();
        const int index = job->next++;
        if (job->next == job->count)
            pending.erase(pending.begin());

        lock.unlock();
        job->task(job->context, index);
        lock.lock();

        if (--job->remaining == 0)
            jobDone.notify_all();
    }
}
