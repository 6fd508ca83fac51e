// Recording volumes: folders with a drive letter, where write-to-disk and
// save-to-file may write. Fixed when the server starts.
#ifndef ARVEX_SERVER_RECORDINGVOLUMES_H
#define ARVEX_SERVER_RECORDINGVOLUMES_H

#include <QChar>
#include <QString>
#include <QVector>

struct RecordingVolume {
    QChar letter;    // upper case, 'A'..'Z'
    QString folder;  // absolute, without trailing '/'
};

using RecordingVolumes = QVector<RecordingVolume>;

#endif
