// The driver's 356-byte description of one camera or raw file: offsets and
// little-endian accessors. The rest of the record is the driver's own.
#ifndef ARVEX_DEVICE_DEVICEINFO_H
#define ARVEX_DEVICE_DEVICEINFO_H

#include "arvexdriver.h"

#include <QtEndian>

#include <cstdint>
#include <cstring>

namespace DeviceInfoOffset {
constexpr int DeviceId = 4;
constexpr int ModelCode = 8;
constexpr int Word12 = 12;
constexpr int SerialNumber = 20;
constexpr int Word24 = 24;
constexpr int Word28 = 28;
constexpr int MicroblazeVersion = 32;
constexpr int Word52 = 52;
constexpr int Word60 = 60;
constexpr int Word68 = 68;
constexpr int Word76 = 76;
constexpr int Word100 = 100;
constexpr int Word104 = 104;
constexpr int Text = 152;
constexpr int TextSize = 128;
constexpr int FirmwareVersion = 280;
}  // namespace DeviceInfoOffset

constexpr int kDeviceInfoSize = ARVEX_DEVICE_INFO_SIZE;

inline uint32_t deviceInfoU32(const uint8_t *record, int offset)
{
    return qFromLittleEndian<uint32_t>(record + offset);
}

inline void setDeviceInfoU32(uint8_t *record, int offset, uint32_t value)
{
    qToLittleEndian<uint32_t>(value, record + offset);
}

// The text at offset 152, bounded by its 128-byte field even without a NUL.
inline size_t deviceInfoTextLength(const uint8_t *record)
{
    const void *nul = std::memchr(record + DeviceInfoOffset::Text, 0, DeviceInfoOffset::TextSize);
    return nul ? size_t(static_cast<const uint8_t *>(nul) - (record + DeviceInfoOffset::Text))
               : size_t(DeviceInfoOffset::TextSize);
}

#endif
