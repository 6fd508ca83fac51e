// The simulated driver's state and operations behind the C entry points.
//
// One mutex guards everything here; it is never held while a callback runs
// or while pixels are rendered, read or written. Handles are numbers looked
// up in a table of live handles and never dereferenced, so a stale, forged or
// zero handle is refused with BadHandle.
#ifndef ARVEX_DEVICE_SIM_SIMSTATE_H
#define ARVEX_DEVICE_SIM_SIMSTATE_H

#include "arvexdriver.h"
#include "simcamera.h"
#include "simrawstore.h"

#include <QChar>
#include <QMap>
#include <QString>
#include <QVector>

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

// A thread of the simulator (memory grab, calibration, write-to-disk).
struct Job {
    std::thread thread;
    bool stop = false;      // guarded by Driver::mutex
    bool finished = false;  // guarded by Driver::mutex; set after the last callback
};

// A memory recording: frames are not stored, the pattern is deterministic.
struct MemoryRecording {
    uint32_t recorded = 0;
    uint32_t triggerPosition = 0;  // b of the grab
    Format format;                 // the format the frames were recorded in
};

// One camera (persistent for the driver's session) or one open raw file
// (lives as long as its handle).
struct Device {
    bool isCamera = true;
    int cameraIndex = -1;
    uint32_t deviceId = 0;
    Limits limits;
    Settings active;                    // what the camera currently runs with
    QString rawPath;                    // raw file: canonical path
    QString rawText;
    RawFileHeader rawHeader;

    std::map<uint32_t, std::pair<uint32_t, uint32_t>> parameters;  // setParameter values
    std::map<uint32_t, uint32_t> deviceValues;                     // setDeviceValue values
    std::array<uint8_t, ARVEX_PIV_CONFIG_SIZE> piv{};
    std::array<uint8_t, ARVEX_CAMERA_SETTINGS_SIZE> flash{};
    bool calibrated = false;
    uint32_t action25Count = 0;
    uint32_t action47Count = 0;
    uint32_t value30 = 0;

    // Per open.
    uintptr_t handle = 0;
    bool closing = false;
    bool live = false;
    uint32_t liveCounter = 0;
    uint32_t memoryMb = 0;
    MemoryRecording memory;
    uint32_t w2dFrames = 0;
    std::shared_ptr<Job> grabJob;
    std::shared_ptr<Job> calibrationJob;
    std::shared_ptr<Job> w2dJob;

    uint64_t memoryBytes() const { return uint64_t(memoryMb) << 20; }
    uint32_t memoryCapacity(const Format &format) const;
    bool recordingRuns() const { return grabJob || w2dJob; }
};

// The header of a recording made by `camera` in `format` (frame count 0).
RawFileHeader recordingHeader(const Device &camera, const Format &format);

// The write-to-disk progress states (fourth progress value).
enum W2dState : uint32_t { W2dRecording = 0, W2dStopped = 1, W2dWriteError = 2, W2dVolumeFull = 3 };

class Driver
{
public:
    static Driver &instance();
    ~Driver();

    uint32_t initialize();
    uint32_t shutdown();
    uint32_t setOption(uint32_t option, uintptr_t value);
    uint32_t enumerate(uint8_t *infos, uint32_t *count, uint32_t flags);
    uint32_t open(uint32_t deviceId, ArvexHandle *handle);
    uint32_t close(ArvexHandle handle);

    uint32_t getParameter(ArvexHandle handle, uint32_t id, void *out1, void *out2);
    uint32_t setParameter(ArvexHandle handle, uint32_t id, uint32_t value1, uint32_t value2);
    uint32_t readDefaultSettings(ArvexHandle handle, uint8_t *record);
    uint32_t readCameraSettings(ArvexHandle handle, uint8_t *record);
    uint32_t refreshCameraSettings(ArvexHandle handle, uint8_t *record);
    uint32_t validateCameraSettings(ArvexHandle handle, uint8_t *record);
    uint32_t querySetting(ArvexHandle handle, uint8_t *record, uint32_t id, uint32_t selector,
                          uint32_t *out);
    uint32_t getSetting(ArvexHandle handle, uint8_t *record, uint32_t id, uint32_t *out);
    uint32_t setSetting(ArvexHandle handle, uint8_t *record, uint32_t id, uint32_t value);
    uint32_t readSettingsFromFlash(ArvexHandle handle, uint8_t *record);
    uint32_t writeSettingsToFlash(ArvexHandle handle, uint8_t *record);
    uint32_t getStatus(ArvexHandle handle, uint32_t *words[6]);
    uint32_t getDeviceValue(ArvexHandle handle, uint32_t id, uint32_t *out);
    uint32_t setDeviceValue(ArvexHandle handle, uint32_t id, uint32_t value);
    uint32_t deviceAction(ArvexHandle handle, unsigned ordinal);
    uint32_t deviceValue30(ArvexHandle handle, uint32_t value);
    uint32_t resetDevice(ArvexHandle handle);
    uint32_t setLive(ArvexHandle handle, uint32_t on);
    uint32_t setPivConfig(ArvexHandle handle, const uint8_t *config);
    uint32_t getStreamingGeometry(ArvexHandle handle, uint8_t *geometry);

    uint32_t captureLiveImage(ArvexHandle handle, uint8_t *descriptor);
    uint32_t readMemoryImage(ArvexHandle handle, uint8_t *descriptor, const uint32_t *index);
    uint32_t readImageByIndex(ArvexHandle handle, uint32_t index, uint8_t *buffer);
    uint32_t saveToFile(ArvexHandle handle, const char *path, uint32_t a, uint32_t b, uint32_t c);

    uint32_t startMemoryGrab(ArvexHandle handle, uint32_t a, uint32_t b,
                             ArvexGrabFinishedCallback callback, void *context);
    uint32_t stopMemoryGrab(ArvexHandle handle, uint32_t *frames);
    uint32_t getTriggerIndex(ArvexHandle handle, uint32_t *p, uint32_t *q, uint32_t *r,
                             uint32_t *s);
    uint32_t calibrate(ArvexHandle handle, uint32_t argument, ArvexCalibrationCallback callback,
                       void *context);
    uint32_t setWriteToDisk(ArvexHandle handle, uint32_t start, const uint8_t *request,
                            ArvexW2dProgressCallback callback, void *context);

private:
    using Lock = std::unique_lock<std::mutex>;
    using Clock = std::chrono::steady_clock;

    Driver();
    std::shared_ptr<Device> find(ArvexHandle handle);  // with the lock held
    std::shared_ptr<Device> newCamera(int index) const;
    void closeLocked(Lock &lock, const std::shared_ptr<Device> &device);
    void stopEverything(Lock &lock);
    // A format change clears the camera memory; refused while recording.
    uint32_t applySettings(Device &device, const Settings &settings);
    QStringList rawRootsLocked() const;
    void rescanRawFiles();

    // Threads (simrecorder.cpp).
    std::shared_ptr<Job> startJob(Lock &lock, std::function<void(Job &)> body);
    void stopJob(Lock &lock, const std::shared_ptr<Job> &job);
    void finishJob(Job &job);
    // Waits for the next frame time; false when the job is asked to stop.
    bool pace(Lock &lock, Job &job, Clock::time_point &deadline, uint32_t intervalUs);
    void reapFinishedJobs(Lock &lock);
    void grabBody(Job &job, std::shared_ptr<Device> device, uint32_t target,
                  ArvexGrabFinishedCallback callback, void *context);
    void calibrationBody(Job &job, std::shared_ptr<Device> device,
                         ArvexCalibrationCallback callback, void *context);

    std::mutex mutex;  // guards every member below and every Device and Job
    std::condition_variable wake;  // frame waits, stop requests, jobs finishing
    int initCount = 0;
    bool callbacksEnabled = true;  // off while the process exits

    QString rawFolder;                   // option 6
    QMap<QChar, QString> volumes;        // option 7
    uint32_t memoryMb = 0;               // option 10, taken at the next open
    int cameraCount = 1;                 // option 100
    uint32_t frameUs = kNominalFrameUs;  // option 101

    std::array<std::shared_ptr<Device>, kMaxCameras> cameras;
    std::map<uintptr_t, std::shared_ptr<Device>> handles;
    uintptr_t nextHandle = 0x5A170000;
    QVector<RawEntry> rawFiles;
    bool rawFilesScanned = false;
    std::vector<std::shared_ptr<Job>> jobs;
};

constexpr uint32_t kCalibrationSteps = 20;
constexpr uint32_t kCalibrationStepFrames = 5;  // 20 x 5 frame times: 1 s by default
constexpr uint32_t kW2dMinFrameUs = 1000;
constexpr uint64_t kW2dMinFreeBytes = uint64_t(256) << 20;
constexpr uint32_t kW2dFreeCheckFrames = 100;
constexpr size_t kMaxStoredValues = 256;  // per device, for setParameter / setDeviceValue

}  // namespace sim

#endif
