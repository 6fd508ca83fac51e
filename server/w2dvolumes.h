// Choosing the recording volumes of a write-to-disk start.
#ifndef ARVEX_SERVER_W2DVOLUMES_H
#define ARVEX_SERVER_W2DVOLUMES_H

#include "recordingvolumes.h"

#include <QString>

#include <cstdint>
#include <functional>

constexpr int kMaxW2dVolumes = 4;

// Writable and ready: the folder exists, is a directory and can be written.
bool volumeUsable(const RecordingVolume &volume);

// The letters of the chosen volumes, in slot order. The choice carries one
// letter per byte, low byte first, for the first min(requested, 4) slots; a
// letter names the volume with that letter (case-insensitive), each volume
// at most once. When no requested letter is usable, the first usable volume
// is chosen; when none is, the result is empty.
QString chooseW2dVolumes(uint32_t requested, uint32_t choice, const RecordingVolumes &volumes,
                         const std::function<bool(const RecordingVolume &)> &usable = volumeUsable);

// The choice word that selects these letters (the client's side).
uint32_t encodeVolumeChoice(const QString &letters);

#endif
