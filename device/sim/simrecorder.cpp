// Simulated driver: the threads it runs (memory grab, calibration,
// write-to-disk) and their start and stop operations. A thread waits for its
// frame times on the driver's condition variable, so a stop request ends the
// wait at once; callbacks run on the thread, without the lock.
#include "simstate.h"

#include "simw2drequest.h"
#include "testpattern.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QtDebug>

#include <algorithm>

namespace sim {

namespace {

// Marks the job done and takes it off its device. The slot may hold the last
// reference (a shutdown from inside a callback), so `job` is not touched after.
void finish(Job &job, std::shared_ptr<Job> &slot)
{
    job.finished = true;
    if (slot.get() == &job)
        slot.reset();
}

}  // namespace

std::shared_ptr<Job> Driver::startJob(Lock &lock, std::function<void(Job &)> body)
{
    reapFinishedJobs(lock);
    auto job = std::make_shared<Job>();
    Job *raw = job.get();
    job->thread = std::thread([raw, body] { body(*raw); });
    jobs.push_back(job);
    return job;
}

void Driver::stopJob(Lock &lock, const std::shared_ptr<Job> &job)
{
    job->stop = true;
    wake.notify_all();
    // From inside the job's own callback there is nothing to wait for.
    if (job->thread.get_id() == std::this_thread::get_id())
        return;
    wake.wait(lock, [&] { return job->finished; });
}

void Driver::reapFinishedJobs(Lock &)
{
    // A finished job no longer takes the lock, so joining it here is quick.
    for (auto it = jobs.begin(); it != jobs.end();) {
        if ((*it)->finished) {
            if ((*it)->thread.joinable())
                (*it)->thread.join();
            it = jobs.erase(it);
        } else {
            ++it;
        }
    }
}

bool Driver::pace(Lock &lock, Job &job, Clock::time_point &deadline, uint32_t intervalUs)
{
    if (job.stop)
        return false;
    if (intervalUs == 0)
        return true;
    deadline += std::chrono::microseconds(intervalUs);
    const auto now = Clock::now();
    if (deadline + std::chrono::milliseconds(100) < now)
        deadline = now;  // fell far behind (or the clock changed): no burst
    wake.wait_until(lock, deadline, [&] { return job.stop; });
    return !job.stop;
}

// ---- memory grab ---------------------------------------------------------

void Driver::grabBody(Job &job, std::shared_ptr<Device> device, uint32_t target,
                      ArvexGrabFinishedCallback callback, void *context)
{
    Lock lock(mutex);
    auto deadline = Clock::now();
    while (device->memory.recorded < target && pace(lock, job, deadline, frameUs)) {
        ++device->memory.recorded;
        if (frameUs == 0) {
            // Without waits, still let other callers in between frames.
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }
    const bool call = callback && callbacksEnabled;
    lock.unlock();
    if (call)
        callback(context);
    lock.lock();
    finish(job, device->grabJob);
    wake.notify_all();
}

uint32_t Driver::startMemoryGrab(ArvexHandle handle, uint32_t a, uint32_t b,
                                 ArvexGrabFinishedCallback callback, void *context)
{
    Lock lock(mutex);
    auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (const auto running = device->grabJob) {
        // A new grab replaces the running one, which ends with its callback.
        stopJob(lock, running);
        if (device->handle != reinterpret_cast<uintptr_t>(handle))
            return BadHandle;
    }
    const Format format = device->active.format;
    const uint32_t capacity = device->memoryCapacity(format);
    if (capacity == 0)
        return OutOfRange;
    const uint32_t target = a == 0 ? capacity : std::min(a, capacity);
    device->memory = MemoryRecording();
    device->memory.triggerPosition = b;
    device->memory.format = format;
    device->grabJob = startJob(lock, [this, device, target, callback, context](Job &job) {
        grabBody(job, device, target, callback, context);
    });
    return Ok;
}

uint32_t Driver::stopMemoryGrab(ArvexHandle handle, uint32_t *frames)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (const auto running = device->grabJob)
        stopJob(lock, running);
    if (frames)
        *frames = device->memory.recorded;
    return Ok;
}

uint32_t Driver::getTriggerIndex(ArvexHandle handle, uint32_t *p, uint32_t *q, uint32_t *r,
                                 uint32_t *s)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    uint32_t values[4] = {};
    if (device->isCamera) {
        const MemoryRecording &memory = device->memory;
        values[0] = memory.recorded;
        values[1] = memory.triggerPosition;
        values[2] = memory.recorded == 0 ? 0 : std::min(memory.triggerPosition, memory.recorded - 1);
        // Camera time at the nominal 100 fps, whatever the test clock.
        values[3] = uint32_t(uint64_t(values[2]) * kNominalFrameUs / 1000);
    } else {
        values[0] = device->rawHeader.frameCount;
    }
    uint32_t *outputs[4] = {p, q, r, s};
    for (int i = 0; i < 4; ++i) {
        if (outputs[i])
            *outputs[i] = values[i];
    }
    return Ok;
}

// ---- calibration -----------------------------------------------------------

void Driver::calibrationBody(Job &job, std::shared_ptr<Device> device,
                             ArvexCalibrationCallback callback, void *context)
{
    Lock lock(mutex);
    auto deadline = Clock::now();
    for (uint32_t done = 0;; ++done) {
        if (done == kCalibrationSteps)
            device->calibrated = true;
        const bool call = callback && callbacksEnabled;
        lock.unlock();
        if (call)
            callback(context, done, kCalibrationSteps);
        lock.lock();
        if (done == kCalibrationSteps
            || !pace(lock, job, deadline, frameUs * kCalibrationStepFrames))
            break;
    }
    finish(job, device->calibrationJob);
    wake.notify_all();
}

uint32_t Driver::calibrate(ArvexHandle handle, uint32_t, ArvexCalibrationCallback callback,
                           void *context)
{
    Lock lock(mutex);
    auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (device->calibrationJob)
        return Busy;
    device->calibrationJob = startJob(lock, [this, device, callback, context](Job &job) {
        calibrationBody(job, device, callback, context);
    });
    return Ok;
}

// ---- write-to-disk -----------------------------------------------------------

namespace {

using Writers = std::vector<std::unique_ptr<RawFileWriter>>;

bool volumeFull(const QString &file)
{
    const QStorageInfo storage(QFileInfo(file).absolutePath());
    return storage.isValid() && storage.bytesAvailable() >= 0
           && uint64_t(storage.bytesAvailable()) < kW2dMinFreeBytes;
}

}  // namespace

uint32_t Driver::setWriteToDisk(ArvexHandle handle, uint32_t start, const uint8_t *record,
                                ArvexW2dProgressCallback callback, void *context)
{
    Lock lock(mutex);
    auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (start == 0) {
        if (const auto running = device->w2dJob)
            stopJob(lock, running);
        return Ok;
    }
    QString reason;
    const auto request = decodeW2dRequest(record, &reason);
    if (!request) {
        qWarning().noquote() << QStringLiteral("Write-to-disk refused: %1").arg(reason);
        return BadArgument;
    }
    const auto files = w2dTargetFiles(*request, volumes, &reason);
    if (!files) {
        qWarning().noquote() << QStringLiteral("Write-to-disk refused: %1").arg(reason);
        return NotFound;
    }
    if (const auto running = device->w2dJob) {
        stopJob(lock, running);
        if (device->handle != reinterpret_cast<uintptr_t>(handle))
            return BadHandle;
    }
    const Format format = device->active.format;
    const uint32_t count = uint32_t(files->size());
    auto writers = std::make_shared<Writers>();
    for (uint32_t i = 0; i < count; ++i) {
        const QString &file = files->at(int(i));
        RawFileHeader header = recordingHeader(*device, format);
        header.firstFrame = i;
        header.frameStride = count;
        auto writer = std::make_unique<RawFileWriter>();
        const bool made = QDir().mkpath(QFileInfo(file).absolutePath());
        if (!made || volumeFull(file) || !writer->create(file, header, &reason)) {
            qWarning().noquote() << QStringLiteral("Write-to-disk refused: %1: %2")
                                        .arg(file, made ? reason : QStringLiteral("no folder"));
            for (auto &opened : *writers) {
                opened->close();
                QFile::remove(opened->path());
            }
            return IoError;
        }
        writers->push_back(std::move(writer));
    }
    device->w2dFrames = 0;
    device->w2dJob = startJob(lock, [this, device, writers, format, callback, context](Job &job) {
        std::vector<uint8_t> frame(format.bytes());
        const uint32_t volumeCount = uint32_t(writers->size());
        uint32_t written = 0;
        uint64_t bytes = 0;
        W2dState state = W2dStopped;
        Lock lock(mutex);
        auto deadline = Clock::now();
        // Never faster than one frame per millisecond, whatever the clock:
        // a client must not be able to fill a disk at full speed.
        while (pace(lock, job, deadline, std::max(frameUs, kW2dMinFrameUs))) {
            const bool call = callback && callbacksEnabled;
            lock.unlock();
            renderTestPattern(frame.data(), format.width, format.height, format.bitsPerPixel, written);
            RawFileWriter &writer = *(*writers)[written % volumeCount];
            QString error;
            const bool ok = writer.appendFrame(frame.data(), &error);
            if (ok) {
                ++written;
                bytes += frame.size();
            } else {
                qWarning().noquote() << QStringLiteral("Write-to-disk stopped: %1").arg(error);
                state = W2dWriteError;
            }
            if (ok && written % kW2dFreeCheckFrames == 0 && volumeFull(writer.path())) {
                qWarning().noquote()
                    << QStringLiteral("Write-to-disk stopped: volume of %1 nearly full").arg(writer.path());
                state = W2dVolumeFull;
            }
            if (ok && call)
                callback(context, written, volumeCount, uint32_t(bytes >> 20), W2dRecording);
            lock.lock();
            device->w2dFrames = written;
            if (state != W2dStopped)
                break;
        }
        const bool call = callback && callbacksEnabled;
        lock.unlock();
        for (auto &writer : *writers)
            writer->close();
        if (call)
            callback(context, written, volumeCount, uint32_t(bytes >> 20), state);
        lock.lock();
        finish(job, device->w2dJob);
        wake.notify_all();
    });
    return Ok;
}

}  // namespace sim
