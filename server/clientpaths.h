// Confinement of the paths a client names: everything a client makes the
// server write lands inside the recording volumes. Pure functions over text
// and the volume table (plus read-only file-system look-ups for symbolic
// links), so tests call them directly.
#ifndef ARVEX_SERVER_CLIENTPATHS_H
#define ARVEX_SERVER_CLIENTPATHS_H

#include "recordingvolumes.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t kClientPathFieldSize = 512;

// The NUL-terminated text of a path field at `offset` of a datagram of
// `length` bytes. Empty optional when the field holds no NUL within its 512
// bytes (also when the datagram ends before one): such a path is refused.
std::optional<QByteArray> clientPathField(const uint8_t *data, size_t length, size_t offset);

// True when every byte after the field's first NUL, up to the end of the
// field or of the datagram, is zero. A path with more text behind an embedded
// NUL is refused: what follows would be read differently by whoever takes the
// field at its full length.
bool clientPathFieldPadded(const uint8_t *data, size_t length, size_t offset);

struct ResolvedPath {
    bool ok = false;
    QString reason;    // why it was refused
    QChar volume;      // the volume it lies in
    QString absolute;  // absolute path, '/' separators, no trailing '/'
};

// A client path (either separator; "L:\..." names volume L; relative paths
// lie in the first volume; other absolute paths must lie inside a volume).
// Refused: a ".." component, an unknown letter, a path outside every volume,
// a path through a symbolic link that leads out of its volume.
ResolvedPath resolveClientPath(const QByteArray &text, const RecordingVolumes &volumes);

struct W2dFolder {
    bool ok = false;
    QString reason;
    QString relative;  // '/' separators, no leading '/', no ".." component
};

// A write-to-disk folder path, relative to each chosen volume. A leading
// "L:\" is dropped when L is one of `chosenLetters`; any other letter or
// absolute path is refused, and so is a ".." component.
W2dFolder validateW2dFolder(const QByteArray &text, const QString &chosenLetters);

// True when `absolute` (existing or not) stays inside `volume` once every
// symbolic link on its existing part is resolved.
bool staysInsideVolume(const QString &absolute, const RecordingVolume &volume);

// The volume with this letter (case-insensitive), or null.
const RecordingVolume *findVolume(const RecordingVolumes &volumes, QChar letter);

#endif
