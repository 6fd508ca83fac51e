// The write-to-disk record (W2dRequest) that CMD_WRITE_TO_DISK hands to the
// driver: offsets, size and its builder. Little-endian, built field by field.
#ifndef ARVEX_SERVER_WRITETODISKRECORD_H
#define ARVEX_SERVER_WRITETODISKRECORD_H

#include "arvexdriver.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace W2dRecordOffset {
constexpr size_t PassThrough = 0;  // i32: the request's int at 32
constexpr size_t Options = 4;      // i32: the request's int at 28
constexpr size_t VolumeCount = 8;  // u32: volumes chosen
constexpr size_t Slots = 12;       // 4 x 64 bytes: "L:\" NUL-terminated
constexpr size_t SlotSize = 64;
constexpr size_t SlotCount = 4;
constexpr size_t Folder = 268;     // 512 bytes: folder path, NUL-terminated
constexpr size_t FolderSize = 512;
}  // namespace W2dRecordOffset

constexpr size_t kW2dRecordSize = ARVEX_W2D_REQUEST_SIZE;
static_assert(W2dRecordOffset::Folder + W2dRecordOffset::FolderSize == kW2dRecordSize,
              "the folder field ends the record");
static_assert(W2dRecordOffset::Slots + W2dRecordOffset::SlotCount * W2dRecordOffset::SlotSize
                  == W2dRecordOffset::Folder,
              "the volume slots lie between the count and the folder");

// Zeroes kW2dRecordSize bytes at `out` and fills them: the root "L:\" of
// each letter in slot order (the first four), their number, and `folder`
// (its first 511 bytes at most, always NUL-terminated). Returns the size.
size_t buildW2dRecord(uint8_t *out, int32_t passThrough, int32_t options, const QString &letters,
                      const QByteArray &folder);

#endif
