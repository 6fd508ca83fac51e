// Simulated driver: session, options, enumeration, open and close.
#include "simstate.h"

#include "deviceinfo.h"

#include <QtDebug>

#include <algorithm>

namespace sim {

uint32_t Device::memoryCapacity(const Format &format) const
{
    const uint64_t bytes = format.bytes();
    if (bytes == 0)
        return 0;
    return uint32_t(std::min<uint64_t>(memoryBytes() / bytes, UINT32_MAX));
}

Driver &Driver::instance()
{
    static Driver driver;
    return driver;
}

Driver::Driver()
{
    for (int i = 0; i < kMaxCameras; ++i)
        cameras[size_t(i)] = newCamera(i);
}

Driver::~Driver()
{
    // The process is ending: whoever passed a callback context may be gone.
    Lock lock(mutex);
    callbacksEnabled = false;
    stopEverything(lock);
}

std::shared_ptr<Device> Driver::newCamera(int index) const
{
    auto camera = std::make_shared<Device>();
    camera->isCamera = true;
    camera->cameraIndex = index;
    camera->deviceId = kCameraIdBase + uint32_t(index);
    camera->limits = Limits::camera();
    camera->active = camera->limits.defaults();
    encodeSettings(camera->active, camera->flash.data());
    return camera;
}

std::shared_ptr<Device> Driver::find(ArvexHandle handle)
{
    const auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? nullptr : it->second;
}

uint32_t Driver::initialize()
{
    Lock lock(mutex);
    ++initCount;
    return Ok;
}

uint32_t Driver::shutdown()
{
    Lock lock(mutex);
    if (initCount == 0)
        return BadArgument;
    if (--initCount > 0)
        return Ok;
    stopEverything(lock);
    // The next session starts from power-on state; the options stay.
    for (int i = 0; i < kMaxCameras; ++i)
        cameras[size_t(i)] = newCamera(i);
    rawFiles.clear();
    rawFilesScanned = false;
    return Ok;
}

void Driver::stopEverything(Lock &lock)
{
    std::vector<std::shared_ptr<Device>> open;
    for (const auto &entry : handles)
        open.push_back(entry.second);
    for (const auto &device : open) {
        if (device->handle)
            closeLocked(lock, device);
    }
    handles.clear();
    for (const auto &job : jobs)
        job->stop = true;
    wake.notify_all();
    for (const auto &job : jobs) {
        if (job->thread.get_id() == std::this_thread::get_id()) {
            // Shut down from inside one of our own callbacks.
            job->thread.detach();
            continue;
        }
        wake.wait(lock, [&] { return job->finished; });
        if (job->thread.joinable())
            job->thread.join();
    }
    jobs.clear();
}

uint32_t Driver::setOption(uint32_t option, uintptr_t value)
{
    Lock lock(mutex);
    const char *text = reinterpret_cast<const char *>(value);
    switch (option) {
    case ARVEX_OPTION_RAW_FOLDER:
        rawFolder = text ? QString::fromLatin1(text) : QString();
        rawFilesScanned = false;
        return Ok;
    case ARVEX_OPTION_VOLUMES:
        volumes = parseVolumeTable(text ? QString::fromLatin1(text) : QString());
        rawFilesScanned = false;
        return Ok;
    case ARVEX_OPTION_MEMORY_MB:
        memoryMb = uint32_t(std::min<uintptr_t>(value, UINT32_MAX));
        return Ok;
    case ARVEX_OPTION_SIM_CAMERAS:
        if (value > uintptr_t(kMaxCameras))
            return OutOfRange;
        cameraCount = int(value);
        return Ok;
    case ARVEX_OPTION_SIM_FRAME_US:
        if (value > 10000000)
            return OutOfRange;
        frameUs = uint32_t(value);
        return Ok;
    default:
        return NotSupported;
    }
}

QStringList Driver::rawRootsLocked() const
{
    QStringList roots;
    if (!rawFolder.isEmpty())
        roots << rawFolder;
    for (const QString &folder : volumes)
        roots << folder;
    return roots;
}

void Driver::rescanRawFiles()
{
    Lock lock(mutex);
    const QStringList roots = rawRootsLocked();
    lock.unlock();
    // Disk access without the lock: a large folder must not stall the camera.
    QVector<RawEntry> found = scanRawFiles(roots, int(kMaxRawFiles));
    lock.lock();
    rawFiles = std::move(found);
    rawFilesScanned = true;
}

uint32_t Driver::enumerate(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    if (!infos || !count || !(flags & (ARVEX_ENUM_CAMERAS | ARVEX_ENUM_RAW_FILES)))
        return BadArgument;
    const uint32_t capacity = *count;
    uint32_t filled = 0;
    if (flags & ARVEX_ENUM_CAMERAS) {
        Lock lock(mutex);
        for (int i = 0; i < cameraCount && filled < capacity; ++i, ++filled)
            fillCameraInfo(i, infos + size_t(filled) * kDeviceInfoSize);
    }
    if (flags & ARVEX_ENUM_RAW_FILES) {
        rescanRawFiles();
        Lock lock(mutex);
        for (int i = 0; i < rawFiles.size() && filled < capacity; ++i, ++filled)
            fillRawFileInfo(uint32_t(i), rawFiles[i].header, rawFiles[i].text,
                            infos + size_t(filled) * kDeviceInfoSize);
    }
    *count = filled;
    return Ok;
}

uint32_t Driver::open(uint32_t deviceId, ArvexHandle *handle)
{
    if (!handle)
        return BadArgument;
    Lock lock(mutex);
    if (deviceId >= kCameraIdBase && deviceId < kCameraIdBase + uint32_t(kMaxCameras)) {
        const int index = int(deviceId - kCameraIdBase);
        if (index >= cameraCount)
            return NotFound;
        const auto &camera = cameras[size_t(index)];
        if (camera->handle || camera->closing)
            return Busy;
        camera->handle = nextHandle++;
        camera->live = false;
        camera->liveCounter = 0;
        camera->memoryMb = memoryMb == 0 ? kDefaultMemoryMb : std::min(memoryMb, kMaxMemoryMb);
        camera->memory = MemoryRecording();
        camera->w2dFrames = 0;
        handles[camera->handle] = camera;
        *handle = reinterpret_cast<ArvexHandle>(camera->handle);
        return Ok;
    }
    if ((deviceId & 0xFFFF0000u) != kRawIdBase)
        return NotFound;
    const int index = int(deviceId & 0xFFFF);
    if (!rawFilesScanned) {
        lock.unlock();
        rescanRawFiles();
        lock.lock();
    }
    if (index >= rawFiles.size())
        return NotFound;
    const RawEntry entry = rawFiles[index];
    lock.unlock();
    // The file may have changed since it was listed: check it again.
    QString reason;
    const auto header = inspectRawFile(entry.path, &reason);
    if (!header) {
        qWarning().noquote() << QStringLiteral("Raw file not opened: %1: %2").arg(entry.path, reason);
        return IoError;
    }
    auto device = std::make_shared<Device>();
    device->isCamera = false;
    device->deviceId = deviceId;
    device->limits = Limits::rawFile(*header);
    device->active = device->limits.defaults();
    device->rawPath = entry.path;
    device->rawText = entry.text;
    device->rawHeader = *header;
    lock.lock();
    device->handle = nextHandle++;
    handles[device->handle] = device;
    *handle = reinterpret_cast<ArvexHandle>(device->handle);
    return Ok;
}

void Driver::closeLocked(Lock &lock, const std::shared_ptr<Device> &device)
{
    handles.erase(device->handle);
    device->handle = 0;
    device->closing = true;
    for (const auto &job : {device->grabJob, device->calibrationJob, device->w2dJob}) {
        if (job)
            stopJob(lock, job);
    }
    device->closing = false;
    device->live = false;
    device->liveCounter = 0;
    device->memory = MemoryRecording();
}

uint32_t Driver::close(ArvexHandle handle)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    closeLocked(lock, device);
    return Ok;
}

}  // namespace sim
