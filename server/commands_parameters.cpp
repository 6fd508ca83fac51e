// Parameters, device values and PIV: CMD_GET_PARAMETER, CMD_SET_PARAMETER,
// CMD_GET_DEVICE_VALUE, CMD_SET_DEVICE_VALUE, CMD_VALUE_24 and CMD_PIV.
#include "qcameramonitor.h"

#include "commands_reply.h"

#include <cstring>

namespace {

// Parameters whose value the driver writes into the reply's value area.
constexpr uint32_t kParameterDescription = 35;
constexpr uint32_t kParameterSensorBlock = 1013;
constexpr uint32_t kParameterDriverVersion = 1016;
constexpr uint32_t kSensorBlockLength = 28;

// PivConfig, built from the request.
constexpr size_t kPivMaskOffset = 0;
constexpr size_t kPivSecondOffset = 2;
constexpr size_t kPivWordsOffset = 4;
constexpr size_t kPivWordCount = 8;
constexpr size_t kPivRequestWordsOffset = 24;
static_assert(kPivWordsOffset + 4 * kPivWordCount == ARVEX_PIV_CONFIG_SIZE,
              "PivConfig is 36 bytes");
static_assert(ARVEX_TEXT_PARAMETER_SIZE == kCommandValueSize,
              "text parameters fill the value area exactly");

}  // namespace

CommandOutcome QCameraMonitor::handleGetParameter(const MonitorRequest &request)
{
    const uint32_t id = request.arg(0);
    uint8_t reply[kCommandReplySize];
    initCommandReply(reply, request.id, CMD_GET_PARAMETER, 0);
    uint8_t *value = reply + kCommandValueOffset;
    CameraDevice *device = currentDevice();
    uint32_t length = 0;
    if (id == kParameterDescription || id == kParameterDriverVersion) {
        device->getParameter(id, value, nullptr);
        // A text that fills the area without a NUL is taken as 160 bytes,
        // never read past the area.
        const void *nul = std::memchr(value, 0, kCommandValueSize);
        length = nul ? uint32_t(static_cast<const uint8_t *>(nul) - value)
                     : uint32_t(kCommandValueSize);
    } else if (id == kParameterSensorBlock) {
        device->getParameter(id, value, nullptr);
        length = kSensorBlockLength;
    } else {
        uint32_t first = 0;
        uint32_t second = 0;
        device->getParameter(id, &first, &second);
        writeU32(reply, kCommandValueOffset, first);
        writeU32(reply, kCommandValueOffset + 4, second);
        length = 8;
    }
    writeU32(reply, 12, length);
    sendReply(request, reply, sizeof reply);
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleSetParameter(const MonitorRequest &request)
{
    const uint32_t value = request.arg(1);
    currentDevice()->setParameter(request.arg(0), value, value);
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleGetDeviceValue(const MonitorRequest &request)
{
    uint32_t value = 0;
    currentDevice()->getDeviceValue(request.arg(0), &value);
    uint8_t reply[kCommandReplySize];
    sendReply(request, reply, buildWordsReply(reply, request.id, CMD_GET_DEVICE_VALUE, {value}));
    return CommandOutcome::Handled;
}

CommandOutcome QCameraMonitor::handleSetDeviceValue(const MonitorRequest &request)
{
    currentDevice()->setDeviceValue(request.arg(0), request.arg(1));
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleValue24(const MonitorRequest &request)
{
    currentDevice()->deviceValue30(request.arg(0));
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handlePiv(const MonitorRequest &request)
{
    uint8_t config[ARVEX_PIV_CONFIG_SIZE] = {};
    const uint16_t mask = uint16_t(request.arg(0) & 0xFFFFu);
    writeU16(config, kPivMaskOffset, mask);
    writeU16(config, kPivSecondOffset, uint16_t(request.arg(1) & 0xFFFFu));
    for (size_t i = 0; i < kPivWordCount; ++i)
        writeU32(config, kPivWordsOffset + 4 * i, request.u32(kPivRequestWordsOffset + 4 * i));
    currentDevice()->setPivConfig(config);
    writeLog(QStringLiteral("Received PIV command: enabled mask %1").arg(uint(mask)));
    return CommandOutcome::AckOk;
}
