// The remote-control protocol: packet types, sub-commands, result codes and
// the codecs of every wire record. Shared by the server and the client
// library; the only place that knows the byte layouts.
//
// Builders write into a buffer the caller owns and return the bytes written.
// Decoders take the received length: fields past it read as zero, nothing is
// read past the buffer. All integers are little-endian.
#ifndef ARVEX_SERVER_PROTOCOL_H
#define ARVEX_SERVER_PROTOCOL_H

#include <cstddef>
#include <cstdint>

// Packet types (byte 3).
constexpr uint8_t PKT_ENUMERATE = 1;
constexpr uint8_t PKT_RESEND = 200;
constexpr uint8_t PKT_COMMAND = 224;
constexpr uint8_t PKT_RAW_INFO = 225;

// Sub-commands of PKT_COMMAND (u32 at offset 8).
constexpr uint32_t CMD_OPEN = 1;
constexpr uint32_t CMD_CLOSE = 2;
constexpr uint32_t CMD_GET_PARAMETER = 3;
constexpr uint32_t CMD_SET_PARAMETER = 4;
constexpr uint32_t CMD_READ_DEFAULT_SETTINGS = 5;
constexpr uint32_t CMD_READ_CAMERA_SETTINGS = 6;
constexpr uint32_t CMD_REFRESH_CAMERA_SETTINGS = 7;
constexpr uint32_t CMD_VALIDATE_CAMERA_SETTINGS = 8;
constexpr uint32_t CMD_QUERY_SETTING = 9;
constexpr uint32_t CMD_GET_SETTING = 10;
constexpr uint32_t CMD_SET_SETTING = 11;
constexpr uint32_t CMD_READ_IMAGE = 12;
constexpr uint32_t CMD_MEMORY_START_GRAB = 15;
constexpr uint32_t CMD_MEMORY_STOP_GRAB = 16;
constexpr uint32_t CMD_GET_TRIGGER_INDEX = 17;
constexpr uint32_t CMD_ZERO_VALUE_QUERY = 18;
constexpr uint32_t CMD_CALIBRATE = 19;
constexpr uint32_t CMD_ACTION_20 = 20;
constexpr uint32_t CMD_RESET = 22;
constexpr uint32_t CMD_VALUE_24 = 24;
constexpr uint32_t CMD_SAVE_RAW_FILE = 27;
constexpr uint32_t CMD_READ_SETTINGS_FROM_FLASH = 28;
constexpr uint32_t CMD_WRITE_SETTINGS_TO_FLASH = 29;
constexpr uint32_t CMD_NOP = 31;  // 32 and 47 are NOPs too
constexpr uint32_t CMD_NOP_2 = 32;
constexpr uint32_t CMD_NOP_3 = 47;
constexpr uint32_t CMD_GET_STATUS = 34;
constexpr uint32_t CMD_ACTION_40 = 40;
constexpr uint32_t CMD_WRITE_TO_DISK = 43;
constexpr uint32_t CMD_LIVE = 63;
constexpr uint32_t CMD_PIV = 65;
constexpr uint32_t CMD_GET_DEVICE_VALUE = 68;
constexpr uint32_t CMD_SET_DEVICE_VALUE = 69;
constexpr uint32_t CMD_GET_STREAMING_GEOMETRY = 72;
constexpr uint32_t CMD_GET_W2D_PROGRESS = 73;
constexpr uint32_t CMD_GET_CALIBRATION_PROGRESS = 74;

// Result codes (byte 0 of a reply).
constexpr uint8_t RESULT_OK = 0;
constexpr uint8_t RESULT_GEOMETRY_FAILED = 2;
constexpr uint8_t RESULT_NO_RAW_FILE = 4;
constexpr uint8_t RESULT_READ_FAILED = 7;
constexpr uint8_t RESULT_REFUSED = 9;

// Image formats.
constexpr uint32_t IMAGE_FORMAT_RAW = 0;
constexpr uint32_t IMAGE_FORMAT_FAST_JPEG = 1;
constexpr uint32_t IMAGE_FORMAT_JPEG = 2;

// Sizes and bounds.
constexpr size_t kHeaderSize = 8;
constexpr size_t kAckSize = 8;
constexpr size_t kCommandReplySize = 176;
constexpr size_t kCommandValueOffset = 16;
constexpr size_t kCommandValueSize = 160;
constexpr size_t kDiscoveryReplySize = 216;
constexpr size_t kSegmentHeaderSize = 16;
constexpr size_t kReceiveBufferSize = 8192;
constexpr uint32_t kSegmentMagic = 0x6E52764B;  // "KvRn"
constexpr uint32_t kMinPacketSize = 32;
constexpr uint32_t kMaxPacketSize = 65507;
constexpr uint32_t kMaxSegments = 65536;        // resend indices are 16 bits
constexpr uint32_t kResendListCapacity = 50000;
constexpr size_t kResendIndicesOffset = 16;
// Indices one received datagram can carry.
constexpr uint32_t kMaxResendIndicesPerDatagram = (kReceiveBufferSize - kResendIndicesOffset) / 2;
constexpr size_t kMaxJpegPartsInReply = 8;

// --- little-endian primitives -------------------------------------------

// The u32 at `offset`, or 0 for the bytes past `length`.
uint32_t readU32(const uint8_t *data, size_t length, size_t offset);
uint16_t readU16(const uint8_t *data, size_t length, size_t offset);
uint8_t readU8(const uint8_t *data, size_t length, size_t offset);
void writeU32(uint8_t *data, size_t offset, uint32_t value);
void writeU16(uint8_t *data, size_t offset, uint16_t value);

// --- PacketHeader ---------------------------------------------------------

struct PacketHeader {
    uint8_t resultOrSelector = 0;  // result (reply) or raw-file selector (request)
    uint8_t type = 0;
    uint16_t length = 0;
    uint16_t requestId = 0;
};

PacketHeader decodeHeader(const uint8_t *data, size_t length);
void encodeHeader(uint8_t *out, const PacketHeader &header);

// AckReply: a header alone. Returns 8.
size_t buildAck(uint8_t *out, uint16_t requestId, uint8_t type, uint8_t result);

// --- requests (client side) ------------------------------------------------

// PKT_ENUMERATE. Returns 8.
size_t buildEnumerateRequest(uint8_t *out, uint16_t requestId, uint8_t selector = 0);
// PKT_RAW_INFO with an index. Returns 12.
size_t buildRawInfoRequest(uint8_t *out, uint16_t requestId, int32_t index);
// PKT_COMMAND: sub-command at 8, args as u32 from 16. `out` holds at least
// 16 + 4 * argCount bytes. Returns that size.
size_t buildCommandRequest(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                           const uint32_t *args, size_t argCount, uint8_t selector = 0);
// PKT_RESEND: n at 8, last at 12, n u16 indices from 16. `out` holds at
// least 16 + 2 * count bytes. Returns that size.
size_t buildResendRequest(uint8_t *out, uint16_t requestId, const uint16_t *indices,
                          uint32_t count, bool last, uint8_t selector = 0);

// --- CommandReply ---------------------------------------------------------

// Clears 176 bytes and writes the header (type 224, length 176), the
// sub-command and the value length. Values go in with writeU32 from 16.
void initCommandReply(uint8_t *out, uint16_t requestId, uint32_t subCommand,
                      uint32_t valueLength);

struct CommandReply {
    bool valid = false;  // 176 bytes with type 224
    uint8_t result = 0;
    uint16_t requestId = 0;
    uint32_t subCommand = 0;
    uint32_t valueLength = 0;
    const uint8_t *values = nullptr;  // 160 bytes inside the caller's buffer
    uint32_t value(size_t index) const;  // u32 number `index` of the value area
};

CommandReply decodeCommandReply(const uint8_t *data, size_t length);

// --- discovery records ----------------------------------------------------

// The server's network identity, carried by all three 216-byte replies.
struct ServerIdentity {
    int64_t macAddress = 0;  // 48 bits, first octet high; -1 when unknown
    uint32_t address = 0;    // first octet in the top byte
    uint32_t mask = 0;
    int32_t mtu = 0;
};

// From a 356-byte DeviceInfo record.
size_t buildCameraEnumReply(uint8_t *out, uint16_t requestId, const uint8_t *deviceInfo,
                            const ServerIdentity &identity);
// cameraInfo may be null (no camera enumerated).
size_t buildRawEnumReply(uint8_t *out, uint16_t requestId, const uint8_t *cameraInfo,
                         int32_t rawCount, const ServerIdentity &identity);
size_t buildRawInfoReply(uint8_t *out, uint16_t requestId, const uint8_t *rawInfo,
                         const ServerIdentity &identity);

struct DiscoveryReply {
    bool valid = false;  // 216 bytes
    uint8_t result = 0;
    uint8_t type = 0;
    uint16_t requestId = 0;
    uint32_t modelCode = 0;
    uint32_t word12 = 0;
    uint32_t serialNumber = 0;
    uint32_t microblazeVersion = 0;
    uint32_t firmwareVersion = 0;
    uint32_t word32 = 0;
    ServerIdentity identity;
    uint32_t word56 = 0, word60 = 0, word64 = 0, word68 = 0;
    char text[129] = {};  // always NUL-terminated
    int32_t rawCount = 0;  // RawEnumReply
    uint32_t word208 = 0, word212 = 0;  // RawInfoReply
};

DiscoveryReply decodeDiscoveryReply(const uint8_t *data, size_t length);

// --- image segments -------------------------------------------------------

struct SegmentHeader {
    uint32_t magic = kSegmentMagic;
    uint32_t index = 0;
    uint32_t length = 0;
    uint32_t last = 0;
};

void encodeSegmentHeader(uint8_t *out, const SegmentHeader &header);
// False when shorter than 16 bytes or the magic is wrong.
bool decodeSegmentHeader(const uint8_t *data, size_t length, SegmentHeader *out);

// Segment arithmetic for `sendSize` bytes in datagrams of `packetSize`
// (header included). Valid only for packetSize in kMinPacketSize..kMaxPacketSize.
struct SegmentLayout {
    uint32_t payload = 0;     // L = packetSize - 16
    uint32_t count = 0;       // N
    uint32_t lastLength = 0;  // payload bytes of segment N - 1
};

SegmentLayout segmentLayout(uint32_t sendSize, uint32_t packetSize);
bool packetSizeAllowed(uint32_t packetSize);

#endif
