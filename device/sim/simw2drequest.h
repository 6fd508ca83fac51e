// Decoding and checking the 780-byte write-to-disk record, and turning it
// into one target file per volume. Pure functions.
#ifndef ARVEX_DEVICE_SIM_SIMW2DREQUEST_H
#define ARVEX_DEVICE_SIM_SIMW2DREQUEST_H

#include <QChar>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <optional>

namespace sim {

namespace W2dOffset {
constexpr int PassThrough = 0;
constexpr int Options = 4;
constexpr int VolumeCount = 8;
constexpr int Slots = 12;
constexpr int SlotSize = 64;
constexpr int Folder = 268;
constexpr int FolderSize = 512;
}  // namespace W2dOffset
constexpr int kW2dMaxVolumes = 4;

struct W2dRequest {
    int32_t passThrough = 0;
    int32_t options = 0;
    QVector<QChar> letters;  // one per slot, upper-case
    QString folder;          // relative, '/' separated, no "..", not empty
};

// Checks the record: 1..4 volumes, each slot "L:\" (or "L:/", "L:"), a
// NUL-terminated relative folder path without "..". `reason` says what is wrong.
std::optional<W2dRequest> decodeW2dRequest(const uint8_t *record, QString *reason);

// The first file of the recording on each volume,
// "<volume folder>/<folder>.00.raw", in slot order. A slot whose file is the
// same as an earlier slot's is dropped (one writer per file). Fails on a
// letter the table does not have.
std::optional<QStringList> w2dTargetFiles(const W2dRequest &request,
                                          const QMap<QChar, QString> &volumes, QString *reason);

}  // namespace sim

#endif
