// The simulated driver's entry points: one plain function per ordinal, each
// forwarding to the device model in sim::Driver.
#include "simdriver.h"

#include "arvexdriver.h"
#include "simstate.h"

namespace {

sim::Driver &driver() { return sim::Driver::instance(); }

uint32_t initializeDriver(void *) { return driver().initialize(); }
uint32_t shutdownDriver() { return driver().shutdown(); }
uint32_t enumerateDevices(uint8_t *infos, uint32_t *count, uint32_t flags)
{
    return driver().enumerate(infos, count, flags);
}
uint32_t openDevice(uint32_t id, ArvexHandle *handle) { return driver().open(id, handle); }
uint32_t closeDevice(ArvexHandle handle) { return driver().close(handle); }
uint32_t getParameter(ArvexHandle h, uint32_t id, void *out1, void *out2)
{
    return driver().getParameter(h, id, out1, out2);
}
uint32_t readDefaultSettings(ArvexHandle h, uint8_t *s) { return driver().readDefaultSettings(h, s); }
uint32_t readCameraSettings(ArvexHandle h, uint8_t *s) { return driver().readCameraSettings(h, s); }
uint32_t refreshCameraSettings(ArvexHandle h, uint8_t *s) { return driver().refreshCameraSettings(h, s); }
uint32_t validateCameraSettings(ArvexHandle h, uint8_t *s) { return driver().validateCameraSettings(h, s); }
uint32_t querySetting(ArvexHandle h, uint8_t *s, uint32_t first, uint32_t second, uint32_t *out)
{
    return driver().querySetting(h, s, first, second, out);
}
uint32_t getSetting(ArvexHandle h, uint8_t *s, uint32_t id, uint32_t *out)
{
    return driver().getSetting(h, s, id, out);
}
uint32_t setSetting(ArvexHandle h, uint8_t *s, uint32_t id, uint32_t value)
{
    return driver().setSetting(h, s, id, value);
}
uint32_t captureLiveImage(ArvexHandle h, uint8_t *descriptor, uint32_t)
{
    return driver().captureLiveImage(h, descriptor);
}
uint32_t startMemoryGrab(ArvexHandle h, uint32_t, uint32_t, uint32_t a, uint32_t b,
                         ArvexGrabFinishedCallback callback, uint32_t, void *context)
{
    return driver().startMemoryGrab(h, a, b, callback, context);
}
uint32_t stopMemoryGrab(ArvexHandle h, uint32_t *frames) { return driver().stopMemoryGrab(h, frames); }
uint32_t readImageByIndex(ArvexHandle h, uint32_t, uint32_t, uint32_t index, uint8_t *buffer)
{
    return driver().readImageByIndex(h, index, buffer);
}
uint32_t getTriggerIndex(ArvexHandle h, uint32_t *p, uint32_t *q, uint32_t *r, uint32_t *s)
{
    return driver().getTriggerIndex(h, p, q, r, s);
}
uint32_t calibrateDevice(ArvexHandle h, uint32_t argument, ArvexCalibrationCallback callback,
                         void *context)
{
    return driver().calibrate(h, argument, callback, context);
}
uint32_t deviceAction25(ArvexHandle h) { return driver().deviceAction(h, 25); }
uint32_t resetDevice(ArvexHandle h) { return driver().resetDevice(h); }
uint32_t readMemoryImage(ArvexHandle h, uint8_t *descriptor, uint32_t *index)
{
    return driver().readMemoryImage(h, descriptor, index);
}
uint32_t deviceValue30(ArvexHandle h, uint32_t value) { return driver().deviceValue30(h, value); }
uint32_t saveToFile(ArvexHandle h, const char *path, uint32_t, uint32_t, uint32_t a, uint32_t b,
                    uint32_t c)
{
    return driver().saveToFile(h, path, a, b, c);
}
uint32_t readSettingsFromFlash(ArvexHandle h, uint8_t *s) { return driver().readSettingsFromFlash(h, s); }
uint32_t writeSettingsToFlash(ArvexHandle h, uint8_t *s) { return driver().writeSettingsToFlash(h, s); }
uint32_t setDriverOption(void *, uint32_t option, uintptr_t value, uint32_t)
{
    return driver().setOption(option, value);
}
uint32_t setParameter(ArvexHandle h, uint32_t id, uint32_t v1, uint32_t v2)
{
    return driver().setParameter(h, id, v1, v2);
}
uint32_t getStatus(ArvexHandle h, uint32_t *s0, uint32_t *s1, uint32_t *s2, uint32_t *s3,
                   uint32_t *s4, uint32_t *s5)
{
    uint32_t *words[6] = {s0, s1, s2, s3, s4, s5};
    return driver().getStatus(h, words);
}
uint32_t deviceAction47(ArvexHandle h) { return driver().deviceAction(h, 47); }
uint32_t setWriteToDisk(ArvexHandle h, uint32_t start, uint8_t *request,
                        ArvexW2dProgressCallback callback, void *context)
{
    return driver().setWriteToDisk(h, start, request, callback, context);
}
uint32_t setLive(ArvexHandle h, uint32_t on) { return driver().setLive(h, on); }
uint32_t setPivConfig(ArvexHandle h, const uint8_t *config) { return driver().setPivConfig(h, config); }
uint32_t getDeviceValue(ArvexHandle h, uint32_t id, uint32_t *out)
{
    return driver().getDeviceValue(h, id, out);
}
uint32_t setDeviceValue(ArvexHandle h, uint32_t id, uint32_t value)
{
    return driver().setDeviceValue(h, id, value);
}
uint32_t getStreamingGeometry(ArvexHandle h, uint8_t *geometry)
{
    return driver().getStreamingGeometry(h, geometry);
}

// The compiler checks every entry point against the public prototype.
template <typename Prototype>
void *entry(Prototype function)
{
    return reinterpret_cast<void *>(function);
}

}  // namespace

extern "C" void *simDriverOperation(unsigned ordinal)
{
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
