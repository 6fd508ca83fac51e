// Decoding and encoding fuzz inputs.
#include "fuzzinput.h"

#include <algorithm>

namespace {
constexpr size_t kConfigSize = 2;

struct Geometry {
    uint32_t width;
    uint32_t height;
};
// Small devices keep an execution short; the simulator's own size (the last
// entry) costs 15 MiB of buffers per open, so only one value in eight takes it.
constexpr Geometry kGeometries[8] = {{64, 32}, {17, 13}, {320, 240}, {1, 1},
                                     {256, 4}, {33, 65}, {64, 32},   {0, 0}};
constexpr int kFormats[4] = {0, 1, 2, 5};
constexpr uint32_t kCameraCounts[4] = {1, 2, 4, 0};
}  // namespace

QHostAddress fuzzSenderAddress(uint8_t sender)
{
    return QHostAddress(quint32(0x7F000001u + (sender & 3u)));
}

quint16 fuzzSenderPort(uint8_t sender)
{
    return quint16(40000 + ((sender >> 2) & 7u));
}

FuzzConfig decodeFuzzConfig(const uint8_t *data, size_t size)
{
    const uint8_t b0 = size > 0 ? data[0] : 0;
    const uint8_t b1 = size > 1 ? data[1] : 0;
    FuzzConfig c;
    c.rawFileMode = (b0 & 1u) != 0;
    c.imageFormat = kFormats[(b0 >> 1) & 3u];
    c.log = (b0 & 8u) != 0;
    const Geometry g = kGeometries[(b0 >> 4) & 7u];
    c.maxWidth = g.width;
    c.maxHeight = g.height;
    c.cameras = kCameraCounts[b1 & 3u];
    return c;
}

FuzzInputReader::FuzzInputReader(const uint8_t *data, size_t length)
    : bytes(data), size(length), position(std::min(length, kConfigSize))
{
}

bool FuzzInputReader::next(FuzzRecord *record)
{
    if (position >= size)
        return false;
    const uint8_t head = bytes[position++];
    *record = FuzzRecord();
    if (head & 0x80u) {
        record->isAction = true;
        record->action = OwnerAction(head & 0x0Fu);
        return true;
    }
    record->sender = uint8_t(head & 0x1Fu);
    size_t length = 0;
    if (position < size)
        length = bytes[position++];
    if (position < size)
        length |= size_t(bytes[position++]) << 8;
    length = std::min(length, size - position);
    record->data = bytes + position;
    record->length = length;
    position += length;
    return true;
}

FuzzInputWriter::FuzzInputWriter(uint8_t config0, uint8_t config1)
{
    out.append(char(config0));
    out.append(char(config1));
}

FuzzInputWriter &FuzzInputWriter::datagram(uint8_t sender, const QByteArray &datagram)
{
    const int length = std::min(datagram.size(), 0xFFFF);
    out.append(char(sender & 0x1Fu));
    out.append(char(length & 0xFF));
    out.append(char(length >> 8));
    out.append(datagram.left(length));
    return *this;
}

FuzzInputWriter &FuzzInputWriter::action(OwnerAction value)
{
    out.append(char(0x80u | uint8_t(value)));
    return *this;
}
