// A small, deterministic driver for the server tests: configurable cameras and
// raw files, failure switches, and a log of the calls the server made. The
// operations it does not model answer status 1 and write nothing.
#ifndef ARVEX_TESTS_SERVER_FAKEDRIVER_H
#define ARVEX_TESTS_SERVER_FAKEDRIVER_H

#include "drivertable.h"

#include <QByteArray>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <cstdint>

namespace fake {

struct Device {
    explicit Device(uint32_t id = 0, uint32_t width = 64, uint32_t height = 32,
                    uint32_t calibrationFlag = 0, const QByteArray &description = QByteArray())
        : deviceId(id), maxWidth(width), maxHeight(height), calibration(calibrationFlag),
          text(description)
    {
    }
    uint32_t deviceId = 0;
    uint32_t maxWidth = 64;
    uint32_t maxHeight = 32;
    uint32_t calibration = 0;  // parameter 19
    QByteArray text;           // DeviceInfo offset 152
};

// The 356-byte record of `device`: every u32 not named below holds
// 0xA0000000 | (seed << 16) | offset, so a test can tell where a copied
// word came from. Model = 40 + seed, serial = 1000 + seed, microblaze =
// 0x0102000 + seed, firmware = 0x0304000 + seed.
QByteArray deviceInfo(const Device &device, uint32_t seed);

// Configuration and call log; reset() before each test.
void reset();
void setCameras(const QVector<Device> &cameras);
void setRawFiles(const QVector<Device> &rawFiles);
void setEnumerateStatus(uint32_t status);
// Count the driver reports for a camera enumeration, whatever it found
// (0: the real number).
void setReportedCameraCount(uint32_t count);
void failOpen(uint32_t deviceId);
// "init", "shutdown", "enum 256", "open 17", "close 17", "option 10 256",
// "live 17 0", "stopgrab 17", "calibrate 17 2", in call order.
QStringList calls();
void clearCalls();
// Handles open now, as device ids.
QVector<uint32_t> openIds();

const DriverTable &table();

}  // namespace fake

#endif
