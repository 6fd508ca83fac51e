// Simulated driver: parameters, the settings record, flash, status and the
// small per-device values. Every record write is the camera's whole active
// settings, so the record always says what the frames will be.
#include "simstate.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

void putNative(void *out, uint32_t value)
{
    if (out)
        std::memcpy(out, &value, sizeof(value));
}

void putText(void *out, const QByteArray &text)
{
    const size_t length = std::min<size_t>(size_t(text.size()), ARVEX_TEXT_PARAMETER_SIZE - 1);
    std::memcpy(out, text.constData(), length);
    static_cast<char *>(out)[length] = '\0';
}

QByteArray serialText(uint32_t serial)
{
    return QStringLiteral("%1-%2-%3")
        .arg(serial / 100000000u, 2, 10, QLatin1Char('0'))
        .arg((serial / 10000u) % 10000u, 4, 10, QLatin1Char('0'))
        .arg(serial % 10000u, 4, 10, QLatin1Char('0'))
        .toLatin1();
}

// Device value ids with a fixed meaning (read-only).
enum DeviceValueId : uint32_t {
    ValueFrameRate = 0,
    ValueFramePeriodUs = 1,
    ValueMemoryMb = 2,
    ValueMemoryFrames = 3,
    ValueTemperature = 4,
    ValueAction25Count = 25,
    ValueLast30 = 30,
    ValueAction47Count = 47,
    ValuePivBase = 0x100,  // 0x100..0x108: the nine words of the last PIV record
};
constexpr uint32_t kPivWords = ARVEX_PIV_CONFIG_SIZE / 4;

bool deviceValueReserved(uint32_t id)
{
    return id <= ValueTemperature || id == ValueAction25Count || id == ValueLast30
           || id == ValueAction47Count || (id >= ValuePivBase && id < ValuePivBase + kPivWords);
}

// Bits of status word 0.
constexpr uint32_t StatusOpen = 0x1;
constexpr uint32_t StatusLive = 0x2;
constexpr uint32_t StatusGrabbing = 0x4;
constexpr uint32_t StatusWritingToDisk = 0x8;
constexpr uint32_t StatusCalibrating = 0x10;
constexpr uint32_t StatusCalibrated = 0x20;
constexpr uint32_t StatusRawFile = 0x100;

}  // namespace

uint32_t Driver::applySettings(Device &device, const Settings &settings)
{
    if (settings.format != device.active.format) {
        // The memory is laid out for one format: a new one discards it.
        if (device.recordingRuns())
            return Busy;
        device.memory = MemoryRecording();
    }
    device.active = settings;
    return Ok;
}

uint32_t Driver::getParameter(ArvexHandle handle, uint32_t id, void *out1, void *out2)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!out1)
        return BadArgument;
    const uint32_t serial = device->isCamera ? cameraSerial(device->cameraIndex)
                                             : device->rawHeader.sourceSerial;
    switch (id) {
    case kParameterMaxWidth:
        putNative(out1, device->limits.maxWidth);
        putNative(out2, 0);
        return Ok;
    case kParameterMaxHeight:
        putNative(out1, device->limits.maxHeight);
        putNative(out2, 0);
        return Ok;
    case kParameterCalibration:
        putNative(out1, device->calibrated ? 1 : 0);
        putNative(out2, 0);
        return Ok;
    case kParameterDescription:
        putText(out1, device->isCamera
                          ? QByteArray("Arvex simulated camera ") + QByteArray::number(device->cameraIndex)
                                + ", serial " + serialText(serial)
                          : QByteArray("Raw file ") + device->rawText.toUtf8());
        return Ok;
    case kParameterDriverVersion:
        putText(out1, driverVersionText());
        return Ok;
    case kParameterSensorBlock:
        fillSensorBlock(device->limits, device->memoryMb, serial, static_cast<uint8_t *>(out1));
        return Ok;
    default:
        break;
    }
    const auto it = device->parameters.find(id);
    if (it == device->parameters.end())
        return NotFound;
    putNative(out1, it->second.first);
    putNative(out2, it->second.second);
    return Ok;
}

uint32_t Driver::setParameter(ArvexHandle handle, uint32_t id, uint32_t value1, uint32_t value2)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (parameterReadOnly(id))
        return NotSupported;
    if (!device->parameters.count(id) && device->parameters.size() >= kMaxStoredValues)
        return OutOfRange;
    device->parameters[id] = {value1, value2};
    return Ok;
}

uint32_t Driver::readDefaultSettings(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!settingsRecordValid(record))
        return BadArgument;
    if (const uint32_t status = applySettings(*device, device->limits.defaults()))
        return status;
    encodeSettings(device->active, record);
    return Ok;
}

uint32_t Driver::readCameraSettings(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!settingsRecordValid(record))
        return BadArgument;
    encodeSettings(device->active, record);
    return Ok;
}

uint32_t Driver::refreshCameraSettings(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!settingsRecordValid(record))
        return BadArgument;
    const Settings settings = decodeSettings(record);
    if (!settingsAllowed(settings, device->limits, nullptr))
        return BadArgument;
    if (const uint32_t status = applySettings(*device, settings))
        return status;
    encodeSettings(device->active, record);
    return Ok;
}

uint32_t Driver::validateCameraSettings(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!settingsRecordValid(record))
        return BadArgument;
    return settingsAllowed(decodeSettings(record), device->limits, nullptr) ? Ok : BadArgument;
}

uint32_t Driver::querySetting(ArvexHandle handle, uint8_t *, uint32_t id, uint32_t selector,
                              uint32_t *out)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    return sim::querySetting(device->limits, id, selector, out);
}

uint32_t Driver::getSetting(ArvexHandle handle, uint8_t *record, uint32_t id, uint32_t *out)
{
    Lock lock(mutex);
    if (!find(handle))
        return BadHandle;
    const int offset = settingOffset(id);
    if (!settingsRecordValid(record) || !out || offset < 0)
        return BadArgument;
    *out = qFromLittleEndian<uint32_t>(record + offset);
    return Ok;
}

uint32_t Driver::setSetting(ArvexHandle handle, uint8_t *record, uint32_t id, uint32_t value)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!settingsRecordValid(record))
        return BadArgument;
    Settings changed;
    if (const uint32_t status = applySetting(device->active, device->limits, id, value, &changed))
        return status;
    if (const uint32_t status = applySettings(*device, changed))
        return status;
    encodeSettings(device->active, record);
    return Ok;
}

uint32_t Driver::readSettingsFromFlash(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (!settingsRecordValid(record))
        return BadArgument;
    const Settings settings = decodeSettings(device->flash.data());
    if (!settingsAllowed(settings, device->limits, nullptr))
        return IoError;
    if (const uint32_t status = applySettings(*device, settings))
        return status;
    encodeSettings(device->active, record);
    return Ok;
}

uint32_t Driver::writeSettingsToFlash(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (!settingsRecordValid(record))
        return BadArgument;
    const Settings settings = decodeSettings(record);
    if (!settingsAllowed(settings, device->limits, nullptr))
        return BadArgument;
    encodeSettings(settings, device->flash.data());
    return Ok;
}

uint32_t Driver::getStatus(ArvexHandle handle, uint32_t *words[6])
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    uint32_t values[6] = {};
    values[0] = StatusOpen | (device->live ? StatusLive : 0) | (device->grabJob ? StatusGrabbing : 0)
                | (device->w2dJob ? StatusWritingToDisk : 0)
                | (device->calibrationJob ? StatusCalibrating : 0)
                | (device->calibrated ? StatusCalibrated : 0)
                | (device->isCamera ? 0 : StatusRawFile);
    if (device->isCamera) {
        values[1] = device->memory.recorded;
        values[2] = device->memoryCapacity(device->active.format);
        values[5] = kTemperatureTenths;
    } else {
        values[1] = device->rawHeader.frameCount;
        values[2] = device->rawHeader.frameCount;
    }
    values[3] = device->liveCounter;
    values[4] = device->w2dFrames;
    for (int i = 0; i < 6; ++i) {
        if (words[i])
            *words[i] = values[i];
    }
    return Ok;
}

uint32_t Driver::getDeviceValue(ArvexHandle handle, uint32_t id, uint32_t *out)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!out)
        return BadArgument;
    switch (id) {
    case ValueFrameRate: *out = kFramesPerSecond; return Ok;
    case ValueFramePeriodUs: *out = kNominalFrameUs; return Ok;
    case ValueMemoryMb: *out = device->memoryMb; return Ok;
    case ValueMemoryFrames: *out = device->memoryCapacity(device->active.format); return Ok;
    case ValueTemperature: *out = device->isCamera ? kTemperatureTenths : 0; return Ok;
    case ValueAction25Count: *out = device->action25Count; return Ok;
    case ValueLast30: *out = device->value30; return Ok;
    case ValueAction47Count: *out = device->action47Count; return Ok;
    default:
        break;
    }
    if (id >= ValuePivBase && id < ValuePivBase + kPivWords) {
        *out = qFromLittleEndian<uint32_t>(device->piv.data() + 4 * (id - ValuePivBase));
        return Ok;
    }
    const auto it = device->deviceValues.find(id);
    if (it == device->deviceValues.end())
        return NotFound;
    *out = it->second;
    return Ok;
}

uint32_t Driver::setDeviceValue(ArvexHandle handle, uint32_t id, uint32_t value)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (deviceValueReserved(id))
        return NotSupported;
    if (!device->deviceValues.count(id) && device->deviceValues.size() >= kMaxStoredValues)
        return OutOfRange;
    device->deviceValues[id] = value;
    return Ok;
}

uint32_t Driver::deviceAction(ArvexHandle handle, unsigned ordinal)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (ordinal == 25)
        ++device->action25Count;
    else
        ++device->action47Count;
    return Ok;
}

uint32_t Driver::deviceValue30(ArvexHandle handle, uint32_t value)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    device->value30 = value;
    return Ok;
}

uint32_t Driver::resetDevice(ArvexHandle handle)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (device->recordingRuns() || device->calibrationJob)
        return Busy;
    device->live = false;
    device->liveCounter = 0;
    device->memory = MemoryRecording();
    device->parameters.clear();
    device->deviceValues.clear();
    return Ok;
}

uint32_t Driver::setLive(ArvexHandle handle, uint32_t on)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    device->live = on != 0;
    return Ok;
}

uint32_t Driver::setPivConfig(ArvexHandle handle, const uint8_t *config)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!config)
        return BadArgument;
    std::memcpy(device->piv.data(), config, ARVEX_PIV_CONFIG_SIZE);
    return Ok;
}

uint32_t Driver::getStreamingGeometry(ArvexHandle handle, uint8_t *geometry)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!geometry)
        return BadArgument;
    const Format &format = device->active.format;
    const uint32_t bytesPerPixel = format.width ? format.bytes() / (format.width * format.height) : 0;
    std::memset(geometry, 0, ARVEX_STREAMING_GEOMETRY_SIZE);
    const uint32_t words[] = {format.width,
                              format.height,
                              format.bitsPerPixel,
                              format.width * bytesPerPixel,
                              format.bytes(),
                              format.bitsPerPixel > 16 ? 3u : 1u,
                              kFramesPerSecond,
                              bytesPerPixel};
    for (size_t i = 0; i < sizeof(words) / sizeof(words[0]); ++i)
        qToLittleEndian<uint32_t>(words[i], geometry + 4 * i);
    return Ok;
}

}  // namespace sim
