// What the fuzz target's monitor works in: a temporary root holding the
// raw-file folder (a few raw files, one of them broken), two recording
// volumes with symbolic links that lead out of them, a folder outside every
// volume (the working directory must not change either); and the simulated driver
// behind a proxy that checks every path the server hands on, keeps the
// device small (the input chooses its size) and bounds memory recordings, so
// that one execution stays short.
#ifndef ARVEX_TESTS_FUZZ_FUZZWORLD_H
#define ARVEX_TESTS_FUZZ_FUZZWORLD_H

#include "drivertable.h"
#include "fuzzinput.h"
#include "recordingvolumes.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QPair>
#include <QVector>

class FuzzWorld
{
public:
    // Created on first use.
    static FuzzWorld &instance();

    const DriverTable &driver() const;
    const RecordingVolumes &volumes() const { return recordingVolumes; }

    // Driver options and the proxy's device size for one input.
    void beginInput(const FuzzConfig &config);
    // After the monitor is gone: fails when anything was created, changed or
    // removed outside the volumes; then empties the volumes again.
    void endInput();

private:
    FuzzWorld();
    // (link, target) of every symbolic link the volumes start with.
    QVector<QPair<QString, QString>> volumeLinks() const;
    // Inode, change times and size of each path (lstat).
    static QStringList stamps(const QStringList &paths);
    void makeVolumes();
    QStringList outsideListing() const;

    QTemporaryDir root;
    QString rootPath;
    RecordingVolumes recordingVolumes;
    QStringList initialOutside;
    QStringList outsidePaths;
    QStringList outsideStamps;
    QStringList volumeStamps;  // of the two volume folders as last made
    QStringList workingStamp;  // of the working directory, per input
};

#endif
