// CameraDevice: the wrapper every driver call of the server goes through.
#include "cameradevice.h"

#include <QtEndian>

namespace {
constexpr uint32_t kSettingBitsPerPixel = 3;
constexpr uint32_t kSettingWidth = 109;
constexpr uint32_t kSettingHeight = 110;
}  // namespace

uint32_t imageBytesFor(uint32_t width, uint32_t height, uint32_t bitsPerPixel)
{
    const uint64_t pixels = uint64_t(width) * height;
    const uint64_t bytesPerPixel = bitsPerPixel < 9 ? 1 : bitsPerPixel < 17 ? 2 : bitsPerPixel < 25 ? 3 : 6;
    // A size that does not fit 32 bits saturates, so that no buffer check can
    // mistake a huge image for a small one.
    const uint64_t bytes = pixels * bytesPerPixel;
    return bytes > UINT32_MAX ? UINT32_MAX : uint32_t(bytes);
}

uint32_t channelCountFor(uint32_t bitsPerPixel)
{
    return bitsPerPixel > 16 ? 3 : 1;
}

CameraDevice::CameraDevice(const DriverTable &driver) : table(driver) {}

uint32_t CameraDevice::open(uint32_t id)
{
    uint32_t status = table.openDevice(id, &handle);
    if (status == 0) {
        qToLittleEndian<uint32_t>(ARVEX_CAMERA_SETTINGS_SIZE, settings);
        status = table.readDefaultSettings(handle, settings);
    }
    deviceId = id;
    isOpen = status == 0;
    return status;
}

void CameraDevice::close()
{
    isOpen = false;
    closeDevice();
}

void CameraDevice::closeDevice()
{
    if (handle)
        table.closeDevice(handle);
    handle = nullptr;
}

uint32_t CameraDevice::settingValue(uint32_t id)
{
    uint32_t value = 0;
    table.getSetting(handle, settings, id, &value);
    return value;
}

uint32_t CameraDevice::bitsPerPixel() { return settingValue(kSettingBitsPerPixel); }
uint32_t CameraDevice::imageWidth() { return settingValue(kSettingWidth); }
uint32_t CameraDevice::imageHeight() { return settingValue(kSettingHeight); }
uint32_t CameraDevice::channelCount() { return channelCountFor(bitsPerPixel()); }

uint32_t CameraDevice::imageBytes()
{
    return imageBytesFor(imageWidth(), imageHeight(), bitsPerPixel());
}

uint32_t CameraDevice::getParameter(uint32_t id, void *out1, void *out2)
{
    return table.getParameter(handle, id, out1, out2);
}

uint32_t CameraDevice::readDefaultSettings() { return table.readDefaultSettings(handle, settings); }
uint32_t CameraDevice::readCameraSettings() { return table.readCameraSettings(handle, settings); }
uint32_t CameraDevice::refreshCameraSettings() { return table.refreshCameraSettings(handle, settings); }
uint32_t CameraDevice::validateCameraSettings() { return table.validateCameraSettings(handle, settings); }

uint32_t CameraDevice::querySetting(uint32_t first, uint32_t second, uint32_t *out)
{
    return table.querySetting(handle, settings, first, second, out);
}

uint32_t CameraDevice::getSetting(uint32_t id, uint32_t *out)
{
    return table.getSetting(handle, settings, id, out);
}

uint32_t CameraDevice::setSetting(uint32_t id, uint32_t value)
{
    return table.setSetting(handle, settings, id, value);
}

uint32_t CameraDevice::captureLiveImage(uint8_t *descriptor, uint32_t timeoutMs)
{
    return table.captureLiveImage(handle, descriptor, timeoutMs);
}

uint32_t CameraDevice::startMemoryGrab(uint32_t zero1, uint32_t zero2, uint32_t a, uint32_t b,
                                       ArvexGrabFinishedCallback callback, uint32_t three,
                                       void *context)
{
    return table.startMemoryGrab(handle, zero1, zero2, a, b, callback, three, context);
}

uint32_t CameraDevice::stopMemoryGrab(uint32_t *frames) { return table.stopMemoryGrab(handle, frames); }

uint32_t CameraDevice::readImageByIndex(uint32_t zero1, uint32_t zero2, uint32_t index,
                                        uint8_t *buffer)
{
    return table.readImageByIndex(handle, zero1, zero2, index, buffer);
}

uint32_t CameraDevice::getTriggerIndex(uint32_t *p, uint32_t *q, uint32_t *r, uint32_t *s)
{
    return table.getTriggerIndex(handle, p, q, r, s);
}

uint32_t CameraDevice::calibrateDevice(uint32_t argument, ArvexCalibrationCallback callback,
                                       void *context)
{
    return table.calibrateDevice(handle, argument, callback, context);
}

uint32_t CameraDevice::deviceAction25() { return table.deviceAction25(handle); }
uint32_t CameraDevice::resetDevice() { return table.resetDevice(handle); }

uint32_t CameraDevice::readMemoryImage(uint8_t *descriptor, uint32_t *index)
{
    return table.readMemoryImage(handle, descriptor, index);
}

uint32_t CameraDevice::deviceValue30(uint32_t value) { return table.deviceValue30(handle, value); }

uint32_t CameraDevice::saveToFile(const char *path, uint32_t zero1, uint32_t zero2, uint32_t a,
                                  uint32_t b, uint32_t c)
{
    return table.saveToFile(handle, path, zero1, zero2, a, b, c);
}

uint32_t CameraDevice::readSettingsFromFlash() { return table.readSettingsFromFlash(handle, settings); }
uint32_t CameraDevice::writeSettingsToFlash() { return table.writeSettingsToFlash(handle, settings); }

uint32_t CameraDevice::setParameter(uint32_t id, uint32_t value1, uint32_t value2)
{
    return table.setParameter(handle, id, value1, value2);
}

uint32_t CameraDevice::getStatus(uint32_t *s0, uint32_t *s1, uint32_t *s2, uint32_t *s3,
                                 uint32_t *s4, uint32_t *s5)
{
    return table.getStatus(handle, s0, s1, s2, s3, s4, s5);
}

uint32_t CameraDevice::deviceAction47() { return table.deviceAction47(handle); }

uint32_t CameraDevice::setWriteToDisk(uint32_t start, uint8_t *request,
                                      ArvexW2dProgressCallback callback, void *context)
{
    return table.setWriteToDisk(handle, start, request, callback, context);
}

uint32_t CameraDevice::setLive(uint32_t on) { return table.setLive(handle, on); }
uint32_t CameraDevice::setPivConfig(const uint8_t *config) { return table.setPivConfig(handle, config); }

uint32_t CameraDevice::getDeviceValue(uint32_t id, uint32_t *out)
{
    return table.getDeviceValue(handle, id, out);
}

uint32_t CameraDevice::setDeviceValue(uint32_t id, uint32_t value)
{
    return table.setDeviceValue(handle, id, value);
}

uint32_t CameraDevice::getStreamingGeometry(uint8_t *geometry)
{
    return table.getStreamingGeometry(handle, geometry);
}
