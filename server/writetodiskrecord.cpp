// Building the write-to-disk record.
#include "writetodiskrecord.h"

#include "protocol.h"

#include <algorithm>
#include <cstring>

size_t buildW2dRecord(uint8_t *out, int32_t passThrough, int32_t options, const QString &letters,
                      const QByteArray &folder)
{
    std::memset(out, 0, kW2dRecordSize);
    writeU32(out, W2dRecordOffset::PassThrough, uint32_t(passThrough));
    writeU32(out, W2dRecordOffset::Options, uint32_t(options));
    const size_t count = std::min(size_t(letters.size()), W2dRecordOffset::SlotCount);
    writeU32(out, W2dRecordOffset::VolumeCount, uint32_t(count));
    for (size_t i = 0; i < count; ++i) {
        uint8_t *slot = out + W2dRecordOffset::Slots + i * W2dRecordOffset::SlotSize;
        slot[0] = uint8_t(letters.at(int(i)).toLatin1());
        slot[1] = ':';
        slot[2] = '\\';
    }
    const size_t kept = std::min(size_t(folder.size()), W2dRecordOffset::FolderSize - 1);
    std::memcpy(out + W2dRecordOffset::Folder, folder.constData(), kept);
    return kW2dRecordSize;
}
