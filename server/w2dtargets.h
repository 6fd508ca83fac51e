// Where a write-to-disk recording goes on each chosen volume, and the
// clean-up of recordings that came out too small.
#ifndef ARVEX_SERVER_W2DTARGETS_H
#define ARVEX_SERVER_W2DTARGETS_H

#include "recordingvolumes.h"

#include <QString>
#include <QStringList>
#include <QVector>

constexpr qint64 kSmallRecordingBytes = 1048576;  // first file under 1 MiB: removed at stop

struct W2dTarget {
    RecordingVolume volume;
    QString prefix;              // absolute: volume folder + '/' + folder path
    QString folder;              // the folder that holds the recording's files
    bool folderCreated = false;  // the start created `folder`
};

// Targets for `letters` (chosen volumes) and a validated relative folder
// path; creates each folder. False with a reason when a folder would lead out
// of its volume or cannot be created; then nothing is kept.
bool prepareW2dTargets(const QString &letters, const QString &relative,
                       const RecordingVolumes &volumes, QVector<W2dTarget> *targets,
                       QString *reason);

// The first file of a recording: "<prefix>.00.raw".
QString firstRecordingFile(const W2dTarget &target);

// When the first file exists and is under 1 MiB: removes the folder if the
// start created it and it is not the volume root, else only the recording's
// own files ("<prefix>.NN.raw"). Never anything outside the volume. Returns
// what was removed.
QStringList removeSmallRecording(const W2dTarget &target);

#endif
