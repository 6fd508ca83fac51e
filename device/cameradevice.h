// One open driver handle with the settings record that belongs to it.
//
// Every camera or raw-file operation of the server passes through here; only
// this class calls the driver table. Wrappers pass the handle (and the
// settings record where the operation takes it) and return the driver's
// status unchanged, 0 meaning success. A device that is not open passes
// handle 0, which the driver refuses.
#ifndef ARVEX_DEVICE_CAMERADEVICE_H
#define ARVEX_DEVICE_CAMERADEVICE_H

#include "drivertable.h"

#include <atomic>
#include <cstdint>

class CameraDevice
{
public:
    explicit CameraDevice(const DriverTable &driver = activeDriver());

    CameraDevice(const CameraDevice &) = delete;
    CameraDevice &operator=(const CameraDevice &) = delete;

    // Opens `deviceId`; on success reads the driver's default settings.
    uint32_t open(uint32_t deviceId);
    // Clears isOpen and releases the handle.
    void close();
    // Releases the handle alone.
    void closeDevice();

    // Image queries on the settings record (0 when the driver says nothing).
    uint32_t bitsPerPixel();
    uint32_t imageWidth();
    uint32_t imageHeight();
    uint32_t channelCount();
    uint32_t imageBytes();

    uint32_t getParameter(uint32_t id, void *out1, void *out2);
    uint32_t readDefaultSettings();
    uint32_t readCameraSettings();
    uint32_t refreshCameraSettings();
    uint32_t validateCameraSettings();
    uint32_t querySetting(uint32_t first, uint32_t second, uint32_t *out);
    uint32_t getSetting(uint32_t id, uint32_t *out);
    uint32_t setSetting(uint32_t id, uint32_t value);
    uint32_t captureLiveImage(uint8_t *descriptor, uint32_t timeoutMs);
    uint32_t startMemoryGrab(uint32_t zero1, uint32_t zero2, uint32_t a, uint32_t b,
                             ArvexGrabFinishedCallback callback, uint32_t three, void *context);
    uint32_t stopMemoryGrab(uint32_t *frames);
    uint32_t readImageByIndex(uint32_t zero1, uint32_t zero2, uint32_t index, uint8_t *buffer);
    uint32_t getTriggerIndex(uint32_t *p, uint32_t *q, uint32_t *r, uint32_t *s);
    uint32_t calibrateDevice(uint32_t argument, ArvexCalibrationCallback callback, void *context);
    uint32_t deviceAction25();
    uint32_t resetDevice();
    uint32_t readMemoryImage(uint8_t *descriptor, uint32_t *index);
    uint32_t deviceValue30(uint32_t value);
    uint32_t saveToFile(const char *path, uint32_t zero1, uint32_t zero2, uint32_t a, uint32_t b,
                        uint32_t c);
    uint32_t readSettingsFromFlash();
    uint32_t writeSettingsToFlash();
    uint32_t setParameter(uint32_t id, uint32_t value1, uint32_t value2);
    uint32_t getStatus(uint32_t *s0, uint32_t *s1, uint32_t *s2, uint32_t *s3, uint32_t *s4,
                       uint32_t *s5);
    uint32_t deviceAction47();
    uint32_t setWriteToDisk(uint32_t start, uint8_t *request, ArvexW2dProgressCallback callback,
                            void *context);
    uint32_t setLive(uint32_t on);
    uint32_t setPivConfig(const uint8_t *config);
    uint32_t getDeviceValue(uint32_t id, uint32_t *out);
    uint32_t setDeviceValue(uint32_t id, uint32_t value);
    uint32_t getStreamingGeometry(uint8_t *geometry);

    const DriverTable &driver() const { return table; }

    ArvexHandle handle = nullptr;
    alignas(8) uint8_t settings[ARVEX_CAMERA_SETTINGS_SIZE] = {};
    // isLive and isGrabbing are also written by driver callbacks and the
    // window thread, hence atomic.
    bool isOpen = false;
    std::atomic<bool> isLive{false};
    std::atomic<bool> isGrabbing{false};
    uint32_t deviceId = 0;

private:
    uint32_t settingValue(uint32_t id);

    const DriverTable &table;
};

// Bytes of one image: w*h times 1, 2, 3 or 6 for up to 8, 16, 24 or more bits.
uint32_t imageBytesFor(uint32_t width, uint32_t height, uint32_t bitsPerPixel);
// 3 above 16 bits per pixel, else 1.
uint32_t channelCountFor(uint32_t bitsPerPixel);

#endif
