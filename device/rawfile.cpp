// Raw-file header codec, reader and writer (format in docs/raw-format.md).
#include "rawfile.h"

#include "cameradevice.h"

#include <QDateTime>
#include <QtEndian>

#include <cstring>

namespace {

uint32_t u32At(const uint8_t *data, int offset) { return qFromLittleEndian<uint32_t>(data + offset); }

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

}  // namespace

bool rawFileDepthSupported(uint32_t bitsPerPixel)
{
    return (bitsPerPixel >= 1 && bitsPerPixel <= 16) || bitsPerPixel == 24 || bitsPerPixel == 48;
}

RawFileHeader makeRawFileHeader(uint32_t width, uint32_t height, uint32_t bitsPerPixel)
{
    RawFileHeader header;
    header.width = width;
    header.height = height;
    header.bitsPerPixel = bitsPerPixel;
    header.frameBytes = imageBytesFor(width, height, bitsPerPixel);
    return header;
}

size_t encodeRawFileHeader(const RawFileHeader &header, uint8_t *out)
{
    std::memset(out, 0, kRawFileHeaderSize);
    std::memcpy(out + RawFileOffset::Magic, kRawFileMagic, sizeof(kRawFileMagic));
    qToLittleEndian<uint32_t>(header.version, out + RawFileOffset::Version);
    qToLittleEndian<uint32_t>(kRawFileHeaderSize, out + RawFileOffset::HeaderSize);
    qToLittleEndian<uint32_t>(header.width, out + RawFileOffset::Width);
    qToLittleEndian<uint32_t>(header.height, out + RawFileOffset::Height);
    qToLittleEndian<uint32_t>(header.bitsPerPixel, out + RawFileOffset::BitsPerPixel);
    qToLittleEndian<uint32_t>(header.frameCount, out + RawFileOffset::FrameCount);
    qToLittleEndian<uint32_t>(header.frameBytes, out + RawFileOffset::FrameBytes);
    qToLittleEndian<uint32_t>(header.sourceModel, out + RawFileOffset::SourceModel);
    qToLittleEndian<uint32_t>(header.sourceSerial, out + RawFileOffset::SourceSerial);
    qToLittleEndian<uint32_t>(header.sourceDeviceId, out + RawFileOffset::SourceDeviceId);
    qToLittleEndian<uint32_t>(header.firstFrame, out + RawFileOffset::FirstFrame);
    qToLittleEndian<uint32_t>(header.frameStride, out + RawFileOffset::FrameStride);
    qToLittleEndian<uint64_t>(header.createdMs, out + RawFileOffset::CreatedMs);
    return kRawFileHeaderSize;
}

std::optional<RawFileHeader> decodeRawFileHeader(const uint8_t *data, size_t size,
                                                 QString *reason)
{
    if (size < sizeof(kRawFileMagic)) {
        setReason(reason, QStringLiteral("truncated header (%1 bytes)").arg(size));
        return std::nullopt;
    }
    if (std::memcmp(data, kRawFileMagic, sizeof(kRawFileMagic)) != 0) {
        setReason(reason, QStringLiteral("foreign file (no ARVEXRAW magic)"));
        return std::nullopt;
    }
    if (size < size_t(RawFileOffset::HeaderSize)) {
        setReason(reason, QStringLiteral("truncated header (%1 bytes)").arg(size));
        return std::nullopt;
    }
    RawFileHeader header;
    header.version = u32At(data, RawFileOffset::Version);
    if (header.version != kRawFileVersion) {
        setReason(reason, QStringLiteral("unknown version %1").arg(header.version));
        return std::nullopt;
    }
    if (size < kRawFileHeaderSize) {
        setReason(reason, QStringLiteral("truncated header (%1 bytes)").arg(size));
        return std::nullopt;
    }
    header.headerSize = u32At(data, RawFileOffset::HeaderSize);
    header.width = u32At(data, RawFileOffset::Width);
    header.height = u32At(data, RawFileOffset::Height);
    header.bitsPerPixel = u32At(data, RawFileOffset::BitsPerPixel);
    header.frameCount = u32At(data, RawFileOffset::FrameCount);
    header.frameBytes = u32At(data, RawFileOffset::FrameBytes);
    header.sourceModel = u32At(data, RawFileOffset::SourceModel);
    header.sourceSerial = u32At(data, RawFileOffset::SourceSerial);
    header.sourceDeviceId = u32At(data, RawFileOffset::SourceDeviceId);
    header.firstFrame = u32At(data, RawFileOffset::FirstFrame);
    header.frameStride = u32At(data, RawFileOffset::FrameStride);
    header.createdMs = qFromLittleEndian<uint64_t>(data + RawFileOffset::CreatedMs);

    if (header.headerSize < kRawFileHeaderSize || header.headerSize > kRawFileMaxHeaderSize) {
        setReason(reason, QStringLiteral("header size %1 out of range").arg(header.headerSize));
        return std::nullopt;
    }
    if (header.width == 0 || header.height == 0 || header.width > kRawFileMaxDimension
        || header.height > kRawFileMaxDimension) {
        setReason(reason, QStringLiteral("bad geometry %1 x %2").arg(header.width).arg(header.height));
        return std::nullopt;
    }
    if (!rawFileDepthSupported(header.bitsPerPixel)) {
        setReason(reason, QStringLiteral("unsupported depth %1 bits").arg(header.bitsPerPixel));
        return std::nullopt;
    }
    const uint32_t expected = imageBytesFor(header.width, header.height, header.bitsPerPixel);
    if (header.frameBytes != expected) {
        setReason(reason, QStringLiteral("frame size %1 does not match %2 x %3 at %4 bits (%5)")
                              .arg(header.frameBytes)
                              .arg(header.width)
                              .arg(header.height)
                              .arg(header.bitsPerPixel)
                              .arg(expected));
        return std::nullopt;
    }
    return header;
}

// ---- reader ----------------------------------------------------------------

namespace {

std::optional<RawFileHeader> readHeader(QFile &file, QString *reason)
{
    uint8_t buffer[kRawFileHeaderSize];
    if (!file.seek(0)) {
        setReason(reason, QStringLiteral("cannot seek: %1").arg(file.errorString()));
        return std::nullopt;
    }
    const qint64 got = file.read(reinterpret_cast<char *>(buffer), sizeof(buffer));
    if (got < 0) {
        setReason(reason, QStringLiteral("cannot read: %1").arg(file.errorString()));
        return std::nullopt;
    }
    auto header = decodeRawFileHeader(buffer, size_t(got), reason);
    if (!header)
        return std::nullopt;
    const uint64_t complete = file.size() < qint64(header->headerSize)
                                  ? 0
                                  : uint64_t(file.size() - header->headerSize) / header->frameBytes;
    if (complete < header->frameCount) {
        setReason(reason, QStringLiteral("holds %1 complete frames, header states %2")
                              .arg(complete)
                              .arg(header->frameCount));
        return std::nullopt;
    }
    return header;
}

}  // namespace

bool RawFileReader::open(const QString &path, QString *reason)
{
    close();
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        setReason(reason, QStringLiteral("cannot open: %1").arg(file.errorString()));
        return false;
    }
    auto header = readHeader(file, reason);
    if (!header) {
        file.close();
        return false;
    }
    hdr = *header;
    return true;
}

void RawFileReader::close()
{
    if (file.isOpen())
        file.close();
    hdr = RawFileHeader();
}

bool RawFileReader::reloadHeader(QString *reason)
{
    auto header = readHeader(file, reason);
    if (!header)
        return false;
    if (header->width != hdr.width || header->height != hdr.height
        || header->bitsPerPixel != hdr.bitsPerPixel || header->headerSize != hdr.headerSize) {
        setReason(reason, QStringLiteral("header changed while open"));
        return false;
    }
    hdr.frameCount = header->frameCount;
    return true;
}

bool RawFileReader::readFrame(uint32_t k, uint8_t *out, QString *reason)
{
    if (!file.isOpen()) {
        setReason(reason, QStringLiteral("not open"));
        return false;
    }
    if (k >= hdr.frameCount && !reloadHeader(reason))
        return false;
    if (k >= hdr.frameCount) {
        setReason(reason, QStringLiteral("frame %1 past the %2 frames").arg(k).arg(hdr.frameCount));
        return false;
    }
    const qint64 offset = qint64(hdr.headerSize) + qint64(k) * qint64(hdr.frameBytes);
    if (!file.seek(offset)) {
        setReason(reason, QStringLiteral("cannot seek to frame %1").arg(k));
        return false;
    }
    qint64 done = 0;
    while (done < qint64(hdr.frameBytes)) {
        const qint64 got = file.read(reinterpret_cast<char *>(out) + done, hdr.frameBytes - done);
        if (got <= 0) {
            setReason(reason, QStringLiteral("frame %1 cut short").arg(k));
            return false;
        }
        done += got;
    }
    return true;
}

std::optional<RawFileHeader> inspectRawFile(const QString &path, QString *reason)
{
    RawFileReader reader;
    if (!reader.open(path, reason))
        return std::nullopt;
    return reader.header();
}

// ---- writer ----------------------------------------------------------------

RawFileWriter::~RawFileWriter() { close(); }

bool RawFileWriter::create(const QString &path, const RawFileHeader &header, QString *error)
{
    close();
    hdr = header;
    hdr.version = kRawFileVersion;
    hdr.headerSize = kRawFileHeaderSize;
    hdr.frameCount = 0;
    hdr.frameBytes = imageBytesFor(hdr.width, hdr.height, hdr.bitsPerPixel);
    if (hdr.createdMs == 0)
        hdr.createdMs = uint64_t(QDateTime::currentMSecsSinceEpoch());
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        setReason(error, QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
        return false;
    }
    uint8_t buffer[kRawFileHeaderSize];
    encodeRawFileHeader(hdr, buffer);
    if (file.write(reinterpret_cast<const char *>(buffer), sizeof(buffer)) != qint64(sizeof(buffer))
        || !file.flush()) {
        setReason(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        file.close();
        return false;
    }
    return true;
}

bool RawFileWriter::appendFrame(const uint8_t *frame, QString *error)
{
    if (!file.isOpen()) {
        setReason(error, QStringLiteral("not open"));
        return false;
    }
    // A frame cut short by a failed write is overwritten by the next one: the
    // count below only advances over complete frames.
    const qint64 offset = qint64(hdr.headerSize) + qint64(hdr.frameCount) * qint64(hdr.frameBytes);
    if (!file.seek(offset)
        || file.write(reinterpret_cast<const char *>(frame), hdr.frameBytes) != qint64(hdr.frameBytes)
        || !file.flush()) {
        setReason(error, QStringLiteral("cannot write frame to %1: %2")
                             .arg(file.fileName(), file.errorString()));
        return false;
    }
    uint8_t count[4];
    qToLittleEndian<uint32_t>(hdr.frameCount + 1, count);
    if (!file.seek(RawFileOffset::FrameCount)
        || file.write(reinterpret_cast<const char *>(count), sizeof(count)) != qint64(sizeof(count))
        || !file.flush()) {
        setReason(error, QStringLiteral("cannot update header of %1: %2")
                             .arg(file.fileName(), file.errorString()));
        return false;
    }
    ++hdr.frameCount;
    return true;
}

void RawFileWriter::close()
{
    if (file.isOpen())
        file.close();
}

uint64_t RawFileWriter::bytesWritten() const
{
    return uint64_t(hdr.headerSize) + uint64_t(hdr.frameCount) * hdr.frameBytes;
}
