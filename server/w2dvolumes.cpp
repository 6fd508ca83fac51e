// Volume choice of write-to-disk.
#include "w2dvolumes.h"

#include <QFileInfo>

bool volumeUsable(const RecordingVolume &volume)
{
    const QFileInfo info(volume.folder);
    return info.isDir() && info.isWritable();
}

QString chooseW2dVolumes(uint32_t requested, uint32_t choice, const RecordingVolumes &volumes,
                         const std::function<bool(const RecordingVolume &)> &usable)
{
    QString chosen;
    const uint32_t slotCount = requested < uint32_t(kMaxW2dVolumes) ? requested : uint32_t(kMaxW2dVolumes);
    for (uint32_t i = 0; i < slotCount; ++i) {
        const QChar letter = QChar(char((choice >> (8 * i)) & 0xFF)).toUpper();
        for (const RecordingVolume &v : volumes) {
            // Two slots on one volume would have two writers on one file.
            if (v.letter == letter && !chosen.contains(letter) && usable(v))
                chosen.append(letter);
        }
    }
    if (chosen.isEmpty()) {
        for (const RecordingVolume &v : volumes) {
            if (usable(v)) {
                chosen.append(v.letter);
                break;
            }
        }
    }
    return chosen;
}

uint32_t encodeVolumeChoice(const QString &letters)
{
    uint32_t choice = 0;
    for (int i = 0; i < letters.size() && i < kMaxW2dVolumes; ++i)
        choice |= uint32_t(uint8_t(letters.at(i).toUpper().toLatin1())) << (8 * i);
    return choice;
}
