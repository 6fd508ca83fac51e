// Codecs of the remote-control protocol's wire records.
#include "protocol.h"

#include "deviceinfo.h"

#include <QtEndian>

#include <cstring>

uint32_t readU32(const uint8_t *data, size_t length, size_t offset)
{
    if (offset >= length)
        return 0;
    uint8_t bytes[4] = {};
    std::memcpy(bytes, data + offset, length - offset < 4 ? length - offset : 4);
    return qFromLittleEndian<uint32_t>(bytes);
}

uint16_t readU16(const uint8_t *data, size_t length, size_t offset)
{
    if (offset >= length)
        return 0;
    uint8_t bytes[2] = {};
    std::memcpy(bytes, data + offset, length - offset < 2 ? length - offset : 2);
    return qFromLittleEndian<uint16_t>(bytes);
}

uint8_t readU8(const uint8_t *data, size_t length, size_t offset)
{
    return offset < length ? data[offset] : 0;
}

void writeU32(uint8_t *data, size_t offset, uint32_t value)
{
    qToLittleEndian<uint32_t>(value, data + offset);
}

void writeU16(uint8_t *data, size_t offset, uint16_t value)
{
    qToLittleEndian<uint16_t>(value, data + offset);
}

PacketHeader decodeHeader(const uint8_t *data, size_t length)
{
    PacketHeader h;
    h.resultOrSelector = readU8(data, length, 0);
    h.type = readU8(data, length, 3);
    h.length = readU16(data, length, 4);
    h.requestId = readU16(data, length, 6);
    return h;
}

void encodeHeader(uint8_t *out, const PacketHeader &header)
{
    out[0] = header.resultOrSelector;
    out[1] = 0;
    out[2] = 0;
    out[3] = header.type;
    writeU16(out, 4, header.length);
    writeU16(out, 6, header.requestId);
}

size_t buildAck(uint8_t *out, uint16_t requestId, uint8_t type, uint8_t result)
{
    encodeHeader(out, PacketHeader{result, type, uint16_t(kAckSize), requestId});
    return kAckSize;
}

size_t buildEnumerateRequest(uint8_t *out, uint16_t requestId, uint8_t selector)
{
    encodeHeader(out, PacketHeader{selector, PKT_ENUMERATE, uint16_t(kHeaderSize), requestId});
    return kHeaderSize;
}

size_t buildRawInfoRequest(uint8_t *out, uint16_t requestId, int32_t index)
{
    encodeHeader(out, PacketHeader{0, PKT_RAW_INFO, 12, requestId});
    writeU32(out, 8, uint32_t(index));
    return 12;
}

size_t buildCommandRequest(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                           const uint32_t *args, size_t argCount, uint8_t selector)
{
    const size_t size = 16 + 4 * argCount;
    std::memset(out, 0, 16);
    encodeHeader(out, PacketHeader{selector, PKT_COMMAND, uint16_t(size), requestId});
    writeU32(out, 8, subCommand);
    for (size_t i = 0; i < argCount; ++i)
        writeU32(out, 16 + 4 * i, args[i]);
    return size;
}

size_t buildResendRequest(uint8_t *out, uint16_t requestId, const uint16_t *indices,
                          uint32_t count, bool last, uint8_t selector)
{
    const size_t size = kResendIndicesOffset + 2 * size_t(count);
    encodeHeader(out, PacketHeader{selector, PKT_RESEND, uint16_t(size), requestId});
    writeU32(out, 8, count);
    writeU32(out, 12, last ? 1 : 0);
    for (uint32_t i = 0; i < count; ++i)
        writeU16(out, kResendIndicesOffset + 2 * i, indices[i]);
    return size;
}

void initCommandReply(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                      uint32_t valueLength)
{
    std::memset(out, 0, kCommandReplySize);
    encodeHeader(out, PacketHeader{RESULT_OK, PKT_COMMAND, uint16_t(kCommandReplySize), requestId});
    writeU32(out, 8, subCommand);
    writeU32(out, 12, valueLength);
}

uint32_t CommandReply::value(size_t index) const
{
    return values ? readU32(values, kCommandValueSize, 4 * index) : 0;
}

CommandReply decodeCommandReply(const uint8_t *data, size_t length)
{
    CommandReply r;
    const PacketHeader h = decodeHeader(data, length);
    r.result = h.resultOrSelector;
    r.requestId = h.requestId;
    r.valid = length >= kCommandReplySize && h.type == PKT_COMMAND;
    r.subCommand = readU32(data, length, 8);
    r.valueLength = readU32(data, length, 12);
    if (r.valid)
        r.values = data + kCommandValueOffset;
    return r;
}

namespace {

void writeIdentity(uint8_t *out, const ServerIdentity &identity)
{
    writeU32(out, 36, uint32_t(int32_t(identity.macAddress >> 32)));
    writeU32(out, 40, uint32_t(identity.macAddress & 0xFFFFFFFFu));
    writeU32(out, 44, identity.address);
    writeU32(out, 48, identity.mask);
    writeU32(out, 72, uint32_t(identity.mtu));
}

void startDiscoveryReply(uint8_t *out, uint16_t requestId, uint8_t type)
{
    std::memset(out, 0, kDiscoveryReplySize);
    encodeHeader(out, PacketHeader{RESULT_OK, type, uint16_t(kDiscoveryReplySize), requestId});
}

// Fields that the camera and raw-file descriptions share.
void writeDeviceFields(uint8_t *out, const uint8_t *info, int wordAt32)
{
    using namespace DeviceInfoOffset;
    writeU32(out, 8, deviceInfoU32(info, ModelCode));
    writeU32(out, 12, deviceInfoU32(info, Word12));
    writeU32(out, 16, deviceInfoU32(info, SerialNumber));
    writeU32(out, 20, deviceInfoU32(info, MicroblazeVersion));
    writeU32(out, 24, deviceInfoU32(info, FirmwareVersion));
    writeU32(out, 32, deviceInfoU32(info, wordAt32));
    writeU32(out, 52, 0);
    writeU32(out, 56, deviceInfoU32(info, Word52));
    writeU32(out, 60, deviceInfoU32(info, Word60));
    writeU32(out, 64, deviceInfoU32(info, Word76));
    writeU32(out, 68, deviceInfoU32(info, Word68));
    // The text with its NUL, bounded by the 128 bytes from 76 to 203.
    const size_t textLength = deviceInfoTextLength(info);
    std::memcpy(out + 76, info + Text, textLength < size_t(TextSize) ? textLength + 1 : TextSize);
    if (textLength >= size_t(TextSize))
        out[76 + TextSize - 1] = 0;
}

}  // namespace

size_t buildCameraEnumReply(uint8_t *out, uint16_t requestId, const uint8_t *deviceInfo,
                            const ServerIdentity &identity)
{
    startDiscoveryReply(out, requestId, PKT_ENUMERATE);
    writeDeviceFields(out, deviceInfo, DeviceInfoOffset::Word24);
    writeIdentity(out, identity);
    return kDiscoveryReplySize;
}

size_t buildRawEnumReply(uint8_t *out, uint16_t requestId, const uint8_t *cameraInfo,
                         int32_t rawCount, const ServerIdentity &identity)
{
    startDiscoveryReply(out, requestId, PKT_ENUMERATE);
    if (cameraInfo) {
        writeU32(out, 8, deviceInfoU32(cameraInfo, DeviceInfoOffset::ModelCode));
        writeU32(out, 12, deviceInfoU32(cameraInfo, DeviceInfoOffset::Word12));
        writeU32(out, 16, deviceInfoU32(cameraInfo, DeviceInfoOffset::SerialNumber));
    } else {
        writeU32(out, 8, 48);
        writeU32(out, 12, 1);
        writeU32(out, 16, 0xCAB74B51u);
    }
    writeIdentity(out, identity);
    writeU32(out, 204, uint32_t(rawCount));
    return kDiscoveryReplySize;
}

size_t buildRawInfoReply(uint8_t *out, uint16_t requestId, const uint8_t *rawInfo,
                         const ServerIdentity &identity)
{
    startDiscoveryReply(out, requestId, PKT_RAW_INFO);
    writeDeviceFields(out, rawInfo, DeviceInfoOffset::Word28);
    writeIdentity(out, identity);
    writeU32(out, 208, deviceInfoU32(rawInfo, DeviceInfoOffset::Word104));
    writeU32(out, 212, deviceInfoU32(rawInfo, DeviceInfoOffset::Word100));
    return kDiscoveryReplySize;
}

DiscoveryReply decodeDiscoveryReply(const uint8_t *data, size_t length)
{
    DiscoveryReply r;
    const PacketHeader h = decodeHeader(data, length);
    r.valid = length >= kDiscoveryReplySize;
    r.result = h.resultOrSelector;
    r.type = h.type;
    r.requestId = h.requestId;
    r.modelCode = readU32(data, length, 8);
    r.word12 = readU32(data, length, 12);
    r.serialNumber = readU32(data, length, 16);
    r.microblazeVersion = readU32(data, length, 20);
    r.firmwareVersion = readU32(data, length, 24);
    r.word32 = readU32(data, length, 32);
    r.identity.macAddress = (int64_t(int32_t(readU32(data, length, 36))) * 4294967296LL)
                            + int64_t(readU32(data, length, 40));
    r.identity.address = readU32(data, length, 44);
    r.identity.mask = readU32(data, length, 48);
    r.identity.mtu = int32_t(readU32(data, length, 72));
    r.word56 = readU32(data, length, 56);
    r.word60 = readU32(data, length, 60);
    r.word64 = readU32(data, length, 64);
    r.word68 = readU32(data, length, 68);
    for (size_t i = 0; i < 128 && 76 + i < length; ++i) {
        r.text[i] = char(data[76 + i]);
        if (!r.text[i])
            break;
    }
    r.rawCount = int32_t(readU32(data, length, 204));
    r.word208 = readU32(data, length, 208);
    r.word212 = readU32(data, length, 212);
    return r;
}

void encodeSegmentHeader(uint8_t *out, const SegmentHeader &header)
{
    writeU32(out, 0, header.magic);
    writeU32(out, 4, header.index);
    writeU32(out, 8, header.length);
    writeU32(out, 12, header.last);
}

bool decodeSegmentHeader(const uint8_t *data, size_t length, SegmentHeader *out)
{
    if (length < kSegmentHeaderSize)
        return false;
    // Every field lies inside the datagram here; this runs for each segment.
    out->magic = qFromLittleEndian<uint32_t>(data);
    out->index = qFromLittleEndian<uint32_t>(data + 4);
    out->length = qFromLittleEndian<uint32_t>(data + 8);
    out->last = qFromLittleEndian<uint32_t>(data + 12);
    return out->magic == kSegmentMagic;
}

bool packetSizeAllowed(uint32_t packetSize)
{
    return packetSize >= kMinPacketSize && packetSize <= kMaxPacketSize;
}

SegmentLayout segmentLayout(uint32_t sendSize, uint32_t packetSize)
{
    SegmentLayout s;
    if (!packetSizeAllowed(packetSize))
        return s;
    s.payload = packetSize - uint32_t(kSegmentHeaderSize);
    s.count = uint32_t((uint64_t(sendSize) + s.payload - 1) / s.payload);
    s.lastLength = s.count == 0 ? 0 : sendSize - (s.count - 1) * s.payload;
    return s;
}
