// The simulated camera model: records, limits and fixed values
// (docs/simulator.md lists them).
#include "simcamera.h"

#include "cameradevice.h"
#include "deviceinfo.h"

#include <QtEndian>

#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kDepths[] = {8, 10, 12, 16, 24, 48};
constexpr int kDepthCount = int(sizeof(kDepths) / sizeof(kDepths[0]));
constexpr uint32_t kModelCodes[kMaxCameras] = {52, 53, 54, 57};
constexpr uint32_t kSerialBase = 2501000001u;  // shown as 25-0100-0001
constexpr uint32_t kClassCamera = 1;
constexpr uint32_t kClassRawFile = 2;
constexpr uint32_t kPixelPitchNm = 13700;

struct Range {
    uint32_t minimum, maximum, def, step;
    bool writable;
};

// The range of a setting on a device; false for an unknown id.
bool settingRange(const Limits &limits, uint32_t id, Range *range)
{
    const Settings defaults = limits.defaults();
    switch (id) {
    case SettingBitsPerPixel:
        *range = {limits.fixedFormat ? limits.fixed.bitsPerPixel : kDepths[0],
                  limits.fixedFormat ? limits.fixed.bitsPerPixel : kDepths[kDepthCount - 1],
                  defaults.format.bitsPerPixel, 0, !limits.fixedFormat};
        return true;
    case SettingWidth:
        *range = {limits.fixedFormat ? limits.maxWidth : 1, limits.maxWidth,
                  defaults.format.width, 1, !limits.fixedFormat};
        return true;
    case SettingHeight:
        *range = {limits.fixedFormat ? limits.maxHeight : 1, limits.maxHeight,
                  defaults.format.height, 1, !limits.fixedFormat};
        return true;
    case SettingExposureUs:
        *range = {1, kNominalFrameUs, defaults.exposureUs, 1, true};
        return true;
    case SettingGainDb:
        *range = {0, 24, defaults.gainDb, 1, true};
        return true;
    case SettingTriggerMode:
        *range = {0, 2, defaults.triggerMode, 1, true};
        return true;
    case SettingFrameRate:
        *range = {kFramesPerSecond, kFramesPerSecond, kFramesPerSecond, 0, false};
        return true;
    default:
        return false;
    }
}

uint32_t *settingField(Settings &s, uint32_t id)
{
    switch (id) {
    case SettingBitsPerPixel: return &s.format.bitsPerPixel;
    case SettingWidth: return &s.format.width;
    case SettingHeight: return &s.format.height;
    case SettingExposureUs: return &s.exposureUs;
    case SettingGainDb: return &s.gainDb;
    case SettingTriggerMode: return &s.triggerMode;
    case SettingFrameRate: return &s.frameRate;
    default: return nullptr;
    }
}

bool valueAllowed(const Limits &limits, uint32_t id, uint32_t value)
{
    Range range;
    if (!settingRange(limits, id, &range) || value < range.minimum || value > range.maximum)
        return false;
    if (id == SettingBitsPerPixel && !limits.fixedFormat)
        return cameraDepthSupported(value);
    return true;
}

void put(uint8_t *record, int offset, uint32_t value) { qToLittleEndian<uint32_t>(value, record + offset); }
uint32_t get(const uint8_t *record, int offset) { return qFromLittleEndian<uint32_t>(record + offset); }

// Copies at most field - 1 bytes of `text` and a NUL; keeps the tail when the
// text is longer (the file name is the part worth keeping), not starting
// inside a UTF-8 sequence.
void putText(uint8_t *field, size_t fieldSize, const QByteArray &text)
{
    std::memset(field, 0, fieldSize);
    int start = 0;
    if (size_t(text.size()) > fieldSize - 1) {
        start = text.size() - int(fieldSize - 1);
        while (start < text.size() && (uint8_t(text[start]) & 0xC0) == 0x80)
            ++start;
    }
    std::memcpy(field, text.constData() + start, size_t(text.size() - start));
}

}  // namespace

uint32_t Format::bytes() const { return imageBytesFor(width, height, bitsPerPixel); }

Limits Limits::rawFile(const RawFileHeader &header)
{
    Limits limits;
    limits.maxWidth = header.width;
    limits.maxHeight = header.height;
    limits.fixedFormat = true;
    limits.fixed = {header.width, header.height, header.bitsPerPixel};
    return limits;
}

Settings Limits::defaults() const
{
    Settings settings;
    settings.format = fixedFormat ? fixed : Format{maxWidth, maxHeight, 8};
    return settings;
}

bool cameraDepthSupported(uint32_t bitsPerPixel)
{
    for (uint32_t depth : kDepths) {
        if (depth == bitsPerPixel)
            return true;
    }
    return false;
}

void encodeSettings(const Settings &settings, uint8_t *record)
{
    std::memset(record, 0, ARVEX_CAMERA_SETTINGS_SIZE);
    put(record, SettingsOffset::Size, ARVEX_CAMERA_SETTINGS_SIZE);
    put(record, SettingsOffset::Layout, kSettingsLayout);
    put(record, SettingsOffset::BitsPerPixel, settings.format.bitsPerPixel);
    put(record, SettingsOffset::Width, settings.format.width);
    put(record, SettingsOffset::Height, settings.format.height);
    put(record, SettingsOffset::ExposureUs, settings.exposureUs);
    put(record, SettingsOffset::GainDb, settings.gainDb);
    put(record, SettingsOffset::TriggerMode, settings.triggerMode);
    put(record, SettingsOffset::FrameRate, settings.frameRate);
}

Settings decodeSettings(const uint8_t *record)
{
    Settings settings;
    settings.format.bitsPerPixel = get(record, SettingsOffset::BitsPerPixel);
    settings.format.width = get(record, SettingsOffset::Width);
    settings.format.height = get(record, SettingsOffset::Height);
    settings.exposureUs = get(record, SettingsOffset::ExposureUs);
    settings.gainDb = get(record, SettingsOffset::GainDb);
    settings.triggerMode = get(record, SettingsOffset::TriggerMode);
    settings.frameRate = get(record, SettingsOffset::FrameRate);
    return settings;
}

bool settingsRecordValid(const uint8_t *record)
{
    return record && get(record, SettingsOffset::Size) == ARVEX_CAMERA_SETTINGS_SIZE;
}

int settingOffset(uint32_t id)
{
    switch (id) {
    case SettingBitsPerPixel: return SettingsOffset::BitsPerPixel;
    case SettingWidth: return SettingsOffset::Width;
    case SettingHeight: return SettingsOffset::Height;
    case SettingExposureUs: return SettingsOffset::ExposureUs;
    case SettingGainDb: return SettingsOffset::GainDb;
    case SettingTriggerMode: return SettingsOffset::TriggerMode;
    case SettingFrameRate: return SettingsOffset::FrameRate;
    default: return -1;
    }
}

bool settingsAllowed(const Settings &settings, const Limits &limits, QString *reason)
{
    static const uint32_t ids[] = {SettingBitsPerPixel, SettingWidth,       SettingHeight,
                                   SettingExposureUs,   SettingGainDb,      SettingTriggerMode,
                                   SettingFrameRate};
    Settings copy = settings;
    for (uint32_t id : ids) {
        const uint32_t value = *settingField(copy, id);
        if (!valueAllowed(limits, id, value)) {
            if (reason)
                *reason = QStringLiteral("setting %1 = %2 not allowed").arg(id).arg(value);
            return false;
        }
    }
    return true;
}

Status applySetting(const Settings &current, const Limits &limits, uint32_t id, uint32_t value,
                    Settings *result)
{
    Range range;
    if (!settingRange(limits, id, &range))
        return BadArgument;
    Settings changed = current;
    uint32_t *field = settingField(changed, id);
    if (*field == value) {
        *result = changed;
        return Ok;
    }
    if (!range.writable)
        return NotSupported;
    if (!valueAllowed(limits, id, value))
        return OutOfRange;
    *field = value;
    *result = changed;
    return Ok;
}

Status querySetting(const Limits &limits, uint32_t id, uint32_t selector, uint32_t *out)
{
    Range range;
    if (!out || !settingRange(limits, id, &range))
        return BadArgument;
    const bool discrete = id == SettingBitsPerPixel && !limits.fixedFormat;
    switch (selector) {
    case QueryMinimum: *out = range.minimum; return Ok;
    case QueryMaximum: *out = range.maximum; return Ok;
    case QueryDefault: *out = range.def; return Ok;
    case QueryStep: *out = range.step; return Ok;
    case QueryWritable: *out = range.writable ? 1 : 0; return Ok;
    case QueryValueCount: *out = discrete ? uint32_t(kDepthCount) : 0; return Ok;
    default:
        break;
    }
    if (discrete && selector >= QueryValueBase && selector < QueryValueBase + kDepthCount) {
        *out = kDepths[selector - QueryValueBase];
        return Ok;
    }
    return BadArgument;
}

uint32_t cameraModelCode(int index) { return kModelCodes[index]; }
uint32_t cameraSerial(int index) { return kSerialBase + uint32_t(index); }

void fillCameraInfo(int index, uint8_t *record)
{
    using namespace DeviceInfoOffset;
    std::memset(record, 0, kDeviceInfoSize);
    setDeviceInfoU32(record, 0, kDeviceInfoSize);
    setDeviceInfoU32(record, DeviceId, kCameraIdBase + uint32_t(index));
    setDeviceInfoU32(record, ModelCode, cameraModelCode(index));
    setDeviceInfoU32(record, Word12, kClassCamera);
    setDeviceInfoU32(record, 16, uint32_t(index));
    setDeviceInfoU32(record, SerialNumber, cameraSerial(index));
    setDeviceInfoU32(record, Word24, kInterfaceWord);
    setDeviceInfoU32(record, Word28, 0);
    setDeviceInfoU32(record, MicroblazeVersion, kMicroblazeVersion);
    setDeviceInfoU32(record, Word52, kMaxWidth);
    setDeviceInfoU32(record, Word60, kMaxHeight);
    setDeviceInfoU32(record, Word68, 48);
    setDeviceInfoU32(record, Word76, kFramesPerSecond);
    setDeviceInfoU32(record, FirmwareVersion, kFirmwareVersion);
    putText(record + Text, TextSize, QByteArray("Arvex simulated camera ") + QByteArray::number(index));
}

void fillRawFileInfo(uint32_t index, const RawFileHeader &header, const QString &text,
                     uint8_t *record)
{
    using namespace DeviceInfoOffset;
    std::memset(record, 0, kDeviceInfoSize);
    setDeviceInfoU32(record, 0, kDeviceInfoSize);
    setDeviceInfoU32(record, DeviceId, kRawIdBase | (index & 0xFFFF));
    setDeviceInfoU32(record, ModelCode, header.sourceModel);
    setDeviceInfoU32(record, Word12, kClassRawFile);
    setDeviceInfoU32(record, 16, header.sourceDeviceId);
    setDeviceInfoU32(record, SerialNumber, header.sourceSerial);
    setDeviceInfoU32(record, Word24, kInterfaceWord);
    setDeviceInfoU32(record, Word28, header.frameCount);
    setDeviceInfoU32(record, MicroblazeVersion, kMicroblazeVersion);
    setDeviceInfoU32(record, Word52, header.width);
    setDeviceInfoU32(record, Word60, header.height);
    setDeviceInfoU32(record, Word68, header.bitsPerPixel);
    setDeviceInfoU32(record, Word76, kFramesPerSecond);
    setDeviceInfoU32(record, Word100, header.firstFrame);
    setDeviceInfoU32(record, Word104, header.frameStride);
    setDeviceInfoU32(record, FirmwareVersion, kFirmwareVersion);
    putText(record + Text, TextSize, text.toUtf8());
}

bool parameterReadOnly(uint32_t id)
{
    return id == kParameterMaxWidth || id == kParameterMaxHeight || id == kParameterCalibration
           || id == kParameterDescription || id == kParameterSensorBlock
           || id == kParameterDriverVersion;
}

QByteArray driverVersionText() { return QByteArrayLiteral("Arvex simulated driver 1.0"); }

void fillSensorBlock(const Limits &limits, uint32_t memoryMb, uint32_t serial, uint8_t *out)
{
    std::memset(out, 0, kSensorBlockSize);
    put(out, 0, limits.maxWidth);
    put(out, 4, limits.maxHeight);
    put(out, 8, limits.fixedFormat ? limits.fixed.bitsPerPixel : 48);
    put(out, 12, kFramesPerSecond);
    put(out, 16, memoryMb);
    put(out, 20, serial);
    put(out, 24, limits.fixedFormat ? 0 : kPixelPitchNm);
}

}  // namespace sim
