// A small deterministic driver library for tests: one fake camera, every
// operation counted, arguments and records kept, results forceable
// (testdriverapi.h says what it answers). Built three ways: complete, with
// one operation missing (ARVEX_TEST_DRIVER_OMIT_ORDINAL) and without the
// lookup symbol (ARVEX_TEST_DRIVER_NO_LOOKUP).
#include "arvexdriver.h"

#include <cstring>
#include <mutex>
#include <vector>

#define ARVEX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr unsigned kOrdinals = 128;
constexpr unsigned kArguments = 8;
constexpr uint32_t kCameraId = 0x2A;
constexpr uint32_t kGeometryStatus = 5;
ArvexHandle const kHandle = reinterpret_cast<ArvexHandle>(uintptr_t(0x7E570001));

struct State {
    unsigned calls[kOrdinals] = {};
    uint64_t arguments[kOrdinals][kArguments] = {};
    std::vector<uint8_t> records[kOrdinals];
    bool forced[kOrdinals] = {};
    uint32_t forcedStatus[kOrdinals] = {};
    uint32_t width = 64, height = 48, bitsPerPixel = 8;
    uint32_t liveCounter = 0;
    uint32_t grabFrames = 0, grabPosition = 0;
    ArvexGrabFinishedCallback grabCallback = nullptr;
    void *grabContext = nullptr;
};

std::mutex mutex;  // guards state
State state;

// Counts the call and keeps its arguments; returns true with *status set
// when a forced non-zero result replaces the operation.
bool enter(unsigned ordinal, std::initializer_list<uint64_t> arguments, uint32_t *status)
{
    std::lock_guard<std::mutex> lock(mutex);
    ++state.calls[ordinal];
    unsigned i = 0;
    for (uint64_t value : arguments) {
        if (i < kArguments)
            state.arguments[ordinal][i++] = value;
    }
    for (; i < kArguments; ++i)
        state.arguments[ordinal][i] = 0;
    *status = state.forced[ordinal] ? state.forcedStatus[ordinal] : 0;
    return *status != 0;
}

uint64_t ptr(const void *p) { return uint64_t(reinterpret_cast<uintptr_t>(p)); }

void keepRecord(unsigned ordinal, const void *data, size_t size)
{
    std::lock_guard<std::mutex> lock(mutex);
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    state.records[ordinal].assign(bytes, bytes + size);
}

void put(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void set(uint32_t *out, uint32_t v)
{
    if (out)
        *out = v;
}

void pattern(uint8_t *out, uint32_t frame)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (uint32_t y = 0; y < state.height; ++y)
        for (uint32_t x = 0; x < state.width; ++x)
            out[y * state.width + x] = uint8_t(x + 2 * y + 3 * frame);
}

#define ENTER(ordinal, ...)                        \
    uint32_t status_ = 0;                          \
    if (enter(ordinal, {__VA_ARGS__}, &status_))   \
        return status_;

uint32_t initializeDriver(void *reserved) { ENTER(2, ptr(reserved)); return 0; }
uint32_t shutdownDriver() { ENTER(3, 0); return 0; }

uint32_t enumerateDevices(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    ENTER(4, ptr(infos), count ? *count : 0, flags);
    if (!infos || !count)
        return 0;
    if ((flags & ARVEX_ENUM_CAMERAS) && *count > 0) {
        std::memset(infos, 0, ARVEX_DEVICE_INFO_SIZE);
        put(infos + 4, kCameraId);
        put(infos + 8, 47);
        put(infos + 12, 12);
        put(infos + 20, 1234567890);
        put(infos + 24, 7);
        put(infos + 28, 28);
        put(infos + 32, 0x01020A1F);
        put(infos + 52, 52);
        put(infos + 60, 60);
        put(infos + 68, 68);
        put(infos + 76, 76);
        put(infos + 100, 100);
        put(infos + 104, 104);
        std::strcpy(reinterpret_cast<char *>(infos + 152), "Arvex test camera");
        put(infos + 280, 0x00030102);
        *count = 1;
    } else {
        *count = 0;
    }
    return 0;
}

uint32_t openDevice(uint32_t id, ArvexHandle *handle)
{
    ENTER(5, id, ptr(handle));
    if (id != kCameraId)
        return 1;
    if (handle)
        *handle = kHandle;
    std::lock_guard<std::mutex> lock(mutex);
    state.liveCounter = 0;
    return 0;
}

uint32_t closeDevice(ArvexHandle h) { ENTER(6, ptr(h)); return 0; }

uint32_t getParameter(ArvexHandle h, uint32_t id, void *out1, void *out2)
{
    ENTER(7, ptr(h), id, ptr(out1), ptr(out2));
    if (!out1)
        return 0;
    if (id == 35 || id == 1016) {
        std::strcpy(static_cast<char *>(out1), id == 35 ? "Arvex test camera" : "Arvex test driver 1.0");
        return 0;
    }
    if (id == 1013) {
        for (int i = 0; i < 28; ++i)
            static_cast<uint8_t *>(out1)[i] = uint8_t(i + 1);
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex);
    const uint32_t value = id == 14 ? 64 : id == 15 ? 48 : 0;
    set(static_cast<uint32_t *>(out1), value);
    set(static_cast<uint32_t *>(out2), 0);
    return 0;
}

void writeSettings(uint8_t *s)
{
    if (!s)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    put(s + 4, state.bitsPerPixel);
    put(s + 8, state.width);
    put(s + 12, state.height);
}

uint32_t readDefaultSettings(ArvexHandle h, uint8_t *s)
{
    ENTER(8, ptr(h), ptr(s));
    {
        std::lock_guard<std::mutex> lock(mutex);
        state.width = 64;
        state.height = 48;
        state.bitsPerPixel = 8;
    }
    writeSettings(s);
    return 0;
}
uint32_t readCameraSettings(ArvexHandle h, uint8_t *s) { ENTER(9, ptr(h), ptr(s)); writeSettings(s); return 0; }
uint32_t refreshCameraSettings(ArvexHandle h, uint8_t *s) { ENTER(10, ptr(h), ptr(s)); return 0; }
uint32_t validateCameraSettings(ArvexHandle h, uint8_t *s) { ENTER(12, ptr(h), ptr(s)); return 0; }

uint32_t querySetting(ArvexHandle h, uint8_t *s, uint32_t first, uint32_t second, uint32_t *out)
{
    ENTER(13, ptr(h), ptr(s), first, second, ptr(out));
    set(out, first + second);
    return 0;
}

uint32_t getSetting(ArvexHandle h, uint8_t *s, uint32_t id, uint32_t *out)
{
    ENTER(14, ptr(h), ptr(s), id, ptr(out));
    std::lock_guard<std::mutex> lock(mutex);
    set(out, id == 3 ? state.bitsPerPixel : id == 109 ? state.width : id == 110 ? state.height : 0);
    return 0;
}

uint32_t setSetting(ArvexHandle h, uint8_t *s, uint32_t id, uint32_t value)
{
    ENTER(15, ptr(h), ptr(s), id, value);
    std::lock_guard<std::mutex> lock(mutex);
    // Never beyond 64 x 48: the server sized its buffers from parameters 14, 15.
    if (id == 3)
        state.bitsPerPixel = value;
    else if (id == 109)
        state.width = value < 64 ? value : 64;
    else if (id == 110)
        state.height = value < 48 ? value : 48;
    return 0;
}

uint8_t *descriptorBuffer(uint8_t *descriptor)
{
    uint64_t address = 0;
    for (int i = 7; i >= 0; --i)
        address = (address << 8) | descriptor[i];
    return reinterpret_cast<uint8_t *>(uintptr_t(address));
}

uint32_t captureLiveImage(ArvexHandle h, uint8_t *descriptor, uint32_t timeoutMs)
{
    ENTER(16, ptr(h), ptr(descriptor), timeoutMs);
    if (!descriptor)
        return 0;
    keepRecord(16, descriptor, ARVEX_IMAGE_DESCRIPTOR_SIZE);
    uint32_t frame;
    {
        std::lock_guard<std::mutex> lock(mutex);
        frame = state.liveCounter++;
    }
    if (uint8_t *buffer = descriptorBuffer(descriptor))
        pattern(buffer, frame);
    return 0;
}

uint32_t startMemoryGrab(ArvexHandle h, uint32_t z1, uint32_t z2, uint32_t a, uint32_t b,
                         ArvexGrabFinishedCallback callback, uint32_t three, void *context)
{
    ENTER(19, ptr(h), z1, z2, a, b, ptr(reinterpret_cast<void *>(callback)), three, ptr(context));
    std::lock_guard<std::mutex> lock(mutex);
    state.grabFrames = a;
    state.grabPosition = b;
    state.grabCallback = callback;
    state.grabContext = context;
    return 0;
}

uint32_t stopMemoryGrab(ArvexHandle h, uint32_t *frames)
{
    ENTER(20, ptr(h), ptr(frames));
    ArvexGrabFinishedCallback callback;
    void *context;
    {
        std::lock_guard<std::mutex> lock(mutex);
        set(frames, state.grabFrames);
        callback = state.grabCallback;
        context = state.grabContext;
        state.grabCallback = nullptr;
    }
    if (callback)
        callback(context);
    return 0;
}

uint32_t readImageByIndex(ArvexHandle h, uint32_t z1, uint32_t z2, uint32_t index, uint8_t *buffer)
{
    ENTER(21, ptr(h), z1, z2, index, ptr(buffer));
    if (buffer)
        pattern(buffer, index);
    return 0;
}

uint32_t getTriggerIndex(ArvexHandle h, uint32_t *p, uint32_t *q, uint32_t *r, uint32_t *s)
{
    ENTER(22, ptr(h), ptr(p), ptr(q), ptr(r), ptr(s));
    std::lock_guard<std::mutex> lock(mutex);
    set(p, state.grabFrames);
    set(q, state.grabPosition);
    set(r, 3);
    set(s, 30);
    return 0;
}

uint32_t calibrateDevice(ArvexHandle h, uint32_t argument, ArvexCalibrationCallback callback,
                         void *context)
{
    ENTER(24, ptr(h), argument, ptr(reinterpret_cast<void *>(callback)), ptr(context));
    for (uint32_t done = 1; callback && done <= 4; ++done)
        callback(context, done, 4);
    return 0;
}

uint32_t deviceAction25(ArvexHandle h) { ENTER(25, ptr(h)); return 0; }
uint32_t resetDevice(ArvexHandle h) { ENTER(27, ptr(h)); return 0; }

uint32_t readMemoryImage(ArvexHandle h, uint8_t *descriptor, uint32_t *index)
{
    ENTER(29, ptr(h), ptr(descriptor), index ? *index : 0);
    if (!descriptor)
        return 0;
    keepRecord(29, descriptor, ARVEX_IMAGE_DESCRIPTOR_SIZE);
    if (uint8_t *buffer = descriptorBuffer(descriptor))
        pattern(buffer, index ? *index : 0);
    return 0;
}

uint32_t deviceValue30(ArvexHandle h, uint32_t value) { ENTER(30, ptr(h), value); return 0; }

uint32_t saveToFile(ArvexHandle h, const char *path, uint32_t z1, uint32_t z2, uint32_t a,
                    uint32_t b, uint32_t c)
{
    ENTER(33, ptr(h), ptr(path), z1, z2, a, b, c);
    if (path)
        keepRecord(33, path, std::strlen(path) + 1);
    return 0;
}

uint32_t readSettingsFromFlash(ArvexHandle h, uint8_t *s) { ENTER(34, ptr(h), ptr(s)); return 0; }
uint32_t writeSettingsToFlash(ArvexHandle h, uint8_t *s) { ENTER(35, ptr(h), ptr(s)); return 0; }

uint32_t setDriverOption(void *reserved, uint32_t option, uintptr_t value, uint32_t zero)
{
    ENTER(36, ptr(reserved), option, uint64_t(value), zero);
    if ((option == ARVEX_OPTION_RAW_FOLDER || option == ARVEX_OPTION_VOLUMES) && value) {
        const char *text = reinterpret_cast<const char *>(value);
        keepRecord(36, text, std::strlen(text) + 1);
    }
    return 0;
}

uint32_t setParameter(ArvexHandle h, uint32_t id, uint32_t v1, uint32_t v2)
{
    ENTER(40, ptr(h), id, v1, v2);
    return 0;
}

uint32_t getStatus(ArvexHandle h, uint32_t *s0, uint32_t *s1, uint32_t *s2, uint32_t *s3,
                   uint32_t *s4, uint32_t *s5)
{
    ENTER(41, ptr(h));
    set(s0, 1);
    set(s1, 2);
    set(s2, 3);
    set(s3, 4);
    set(s4, 5);
    set(s5, 6);
    return 0;
}

uint32_t deviceAction47(ArvexHandle h) { ENTER(47, ptr(h)); return 0; }

uint32_t setWriteToDisk(ArvexHandle h, uint32_t start, uint8_t *request,
                        ArvexW2dProgressCallback callback, void *context)
{
    ENTER(50, ptr(h), start, ptr(request), ptr(reinterpret_cast<void *>(callback)), ptr(context));
    if (request)
        keepRecord(50, request, ARVEX_W2D_REQUEST_SIZE);
    if (start && callback)
        callback(context, 1, 2, 3, 4);
    return 0;
}

uint32_t setLive(ArvexHandle h, uint32_t on) { ENTER(71, ptr(h), on); return 0; }

uint32_t setPivConfig(ArvexHandle h, const uint8_t *config)
{
    ENTER(73, ptr(h), ptr(config));
    if (config)
        keepRecord(73, config, ARVEX_PIV_CONFIG_SIZE);
    return 0;
}

uint32_t getDeviceValue(ArvexHandle h, uint32_t id, uint32_t *out)
{
    ENTER(76, ptr(h), id, ptr(out));
    set(out, id + 1000);
    return 0;
}

uint32_t setDeviceValue(ArvexHandle h, uint32_t id, uint32_t value)
{
    ENTER(77, ptr(h), id, value);
    return 0;
}

uint32_t getStreamingGeometry(ArvexHandle h, uint8_t *geometry)
{
    ENTER(80, ptr(h), ptr(geometry));
    // Reached only when a test forced the result to 0 (it fails by default).
    for (int i = 0; geometry && i < ARVEX_STREAMING_GEOMETRY_SIZE; ++i)
        geometry[i] = uint8_t(i + 1);
    return 0;
}

template <typename Prototype>
void *entry(Prototype function)
{
    return reinterpret_cast<void *>(function);
}

void *lookup(unsigned ordinal)
{
#ifdef ARVEX_TEST_DRIVER_OMIT_ORDINAL
    if (ordinal == ARVEX_TEST_DRIVER_OMIT_ORDINAL)
        return nullptr;
#endif
    switch (ordinal) {
    case 2: return entry<ArvexInitializeDriver>(initializeDriver);
    case 3: return entry<ArvexShutdownDriver>(shutdownDriver);
    case 4: return entry<ArvexEnumerateDevices>(enumerateDevices);
    case 5: return entry<ArvexOpenDevice>(openDevice);
    case 6: return entry<ArvexCloseDevice>(closeDevice);
    case 7: return entry<ArvexGetParameter>(getParameter);
    case 8: return entry<ArvexSettingsOperation>(readDefaultSettings);
    case 9: return entry<ArvexSettingsOperation>(readCameraSettings);
    case 10: return entry<ArvexSettingsOperation>(refreshCameraSettings);
    case 12: return entry<ArvexSettingsOperation>(validateCameraSettings);
    case 13: return entry<ArvexQuerySetting>(querySetting);
    case 14: return entry<ArvexGetSetting>(getSetting);
    case 15: return entry<ArvexSetSetting>(setSetting);
    case 16: return entry<ArvexCaptureLiveImage>(captureLiveImage);
    case 19: return entry<ArvexStartMemoryGrab>(startMemoryGrab);
    case 20: return entry<ArvexStopMemoryGrab>(stopMemoryGrab);
    case 21: return entry<ArvexReadImageByIndex>(readImageByIndex);
    case 22: return entry<ArvexGetTriggerIndex>(getTriggerIndex);
    case 24: return entry<ArvexCalibrateDevice>(calibrateDevice);
    case 25: return entry<ArvexHandleOperation>(deviceAction25);
    case 27: return entry<ArvexHandleOperation>(resetDevice);
    case 29: return entry<ArvexReadMemoryImage>(readMemoryImage);
    case 30: return entry<ArvexHandleValueOperation>(deviceValue30);
    case 33: return entry<ArvexSaveToFile>(saveToFile);
    case 34: return entry<ArvexSettingsOperation>(readSettingsFromFlash);
    case 35: return entry<ArvexSettingsOperation>(writeSettingsToFlash);
    case 36: return entry<ArvexSetDriverOption>(setDriverOption);
    case 40: return entry<ArvexSetParameter>(setParameter);
    case 41: return entry<ArvexGetStatus>(getStatus);
    case 47: return entry<ArvexHandleOperation>(deviceAction47);
    case 50: return entry<ArvexSetWriteToDisk>(setWriteToDisk);
    case 71: return entry<ArvexHandleValueOperation>(setLive);
    case 73: return entry<ArvexSetPivConfig>(setPivConfig);
    case 76: return entry<ArvexGetDeviceValue>(getDeviceValue);
    case 77: return entry<ArvexSetDeviceValue>(setDeviceValue);
    case 80: return entry<ArvexGetStreamingGeometry>(getStreamingGeometry);
    default: return nullptr;
    }
}

void resetState()
{
    state = State();
    state.forced[80] = true;
    state.forcedStatus[80] = kGeometryStatus;
}

struct Init {
    Init() { resetState(); }
} init;

}  // namespace

#ifndef ARVEX_TEST_DRIVER_NO_LOOKUP
ARVEX_EXPORT void *arvex_driver_operation(unsigned ordinal) { return lookup(ordinal); }
#else
// The wrong name on purpose: a library without the lookup symbol.
ARVEX_EXPORT void *arvex_driver_operations(unsigned ordinal) { return lookup(ordinal); }
#endif

ARVEX_EXPORT unsigned arvex_test_driver_call_count(unsigned ordinal)
{
    std::lock_guard<std::mutex> lock(mutex);
    return ordinal < kOrdinals ? state.calls[ordinal] : 0;
}

ARVEX_EXPORT void arvex_test_driver_reset(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    resetState();
}

ARVEX_EXPORT uint64_t arvex_test_driver_last_argument(unsigned ordinal, unsigned index)
{
    std::lock_guard<std::mutex> lock(mutex);
    return ordinal < kOrdinals && index < kArguments ? state.arguments[ordinal][index] : 0;
}

ARVEX_EXPORT unsigned arvex_test_driver_last_record(unsigned ordinal, uint8_t *out, unsigned capacity)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (ordinal >= kOrdinals)
        return 0;
    const std::vector<uint8_t> &record = state.records[ordinal];
    if (out && !record.empty())
        std::memcpy(out, record.data(), record.size() < capacity ? record.size() : capacity);
    return unsigned(record.size());
}

ARVEX_EXPORT void arvex_test_driver_force_result(unsigned ordinal, uint32_t status)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (ordinal < kOrdinals) {
        state.forced[ordinal] = true;
        state.forcedStatus[ordinal] = status;
    }
}
