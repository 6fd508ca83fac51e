// The raw-file format of recordings (version 1, little-endian): a fixed
// header followed by the frames back to back. docs/raw-format.md has the
// byte table. Pure header codec, a validating reader and an appending writer.
#ifndef ARVEX_DEVICE_RAWFILE_H
#define ARVEX_DEVICE_RAWFILE_H

#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace RawFileOffset {
constexpr int Magic = 0;         // 8 bytes "ARVEXRAW"
constexpr int Version = 8;
constexpr int HeaderSize = 12;
constexpr int Width = 16;
constexpr int Height = 20;
constexpr int BitsPerPixel = 24;
constexpr int FrameCount = 28;
constexpr int FrameBytes = 32;
constexpr int SourceModel = 36;
constexpr int SourceSerial = 40;
constexpr int SourceDeviceId = 44;
constexpr int FirstFrame = 48;
constexpr int FrameStride = 52;
constexpr int CreatedMs = 56;    // u64, ms since 1970-01-01 UTC
constexpr int Reserved = 64;     // zero up to the header size
}  // namespace RawFileOffset

constexpr char kRawFileMagic[8] = {'A', 'R', 'V', 'E', 'X', 'R', 'A', 'W'};
constexpr uint32_t kRawFileVersion = 1;
constexpr uint32_t kRawFileHeaderSize = 128;     // what version 1 writers write
constexpr uint32_t kRawFileMaxHeaderSize = 65536;
constexpr uint32_t kRawFileMaxDimension = 16384;

struct RawFileHeader {
    uint32_t version = kRawFileVersion;
    uint32_t headerSize = kRawFileHeaderSize;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t frameCount = 0;   // complete frames in the file
    uint32_t frameBytes = 0;   // imageBytesFor(width, height, bitsPerPixel)
    uint32_t sourceModel = 0;
    uint32_t sourceSerial = 0;
    uint32_t sourceDeviceId = 0;
    // Pattern number of file frame k: firstFrame + k * frameStride (a
    // recording spread over several volumes puts every count-th frame here).
    uint32_t firstFrame = 0;
    uint32_t frameStride = 1;
    uint64_t createdMs = 0;
};

// Depths a raw file may hold: mono 1..16 bits, RGB 24 and RGB 48.
bool rawFileDepthSupported(uint32_t bitsPerPixel);

// A header for a recording of this format with frameBytes filled in.
RawFileHeader makeRawFileHeader(uint32_t width, uint32_t height, uint32_t bitsPerPixel);

// Writes kRawFileHeaderSize bytes (reserved bytes zero) and returns that size.
size_t encodeRawFileHeader(const RawFileHeader &header, uint8_t *out);

// Decodes and checks a header from the first `size` bytes of a file. On a
// foreign magic, an unknown version, too few bytes or an inconsistent field
// returns nothing and says why in `reason`. The frame count is not checked
// against the file length here (see RawFileReader).
std::optional<RawFileHeader> decodeRawFileHeader(const uint8_t *data, size_t size,
                                                 QString *reason);

// Reads a raw file: open() validates the header and that the file holds at
// least as many complete frames as the header states.
class RawFileReader
{
public:
    bool open(const QString &path, QString *reason);
    void close();
    bool isOpen() const { return file.isOpen(); }
    const RawFileHeader &header() const { return hdr; }

    // Copies frame k (header().frameBytes bytes) to `out`. A k past the frame
    // count first re-reads the header, so a file still being recorded can be
    // followed; false when the frame is still not there or the read fails.
    bool readFrame(uint32_t k, uint8_t *out, QString *reason = nullptr);

private:
    bool reloadHeader(QString *reason);

    QFile file;
    RawFileHeader hdr;
};

// Checks a file as the reader would, without keeping it open.
std::optional<RawFileHeader> inspectRawFile(const QString &path, QString *reason);

// Writes a raw file frame by frame. Every appended frame is flushed, then the
// header's frame count is rewritten and flushed, so the file reads as whole
// at any moment (a reader sees count complete frames, perhaps followed by
// part of the next one).
class RawFileWriter
{
public:
    ~RawFileWriter();

    // Creates (or truncates) `path` and writes the header with 0 frames.
    bool create(const QString &path, const RawFileHeader &header, QString *error);
    bool appendFrame(const uint8_t *frame, QString *error = nullptr);
    void close();

    bool isOpen() const { return file.isOpen(); }
    uint32_t frameCount() const { return hdr.frameCount; }
    uint64_t bytesWritten() const;
    QString path() const { return file.fileName(); }

private:
    QFile file;
    RawFileHeader hdr;
};

#endif
