// Finding the raw files the simulator serves: every "*.raw" below the
// raw-file folder and the recording volumes, each real file once, sorted by
// path; files that fail the format check are skipped with a warning.
#ifndef ARVEX_DEVICE_SIM_SIMRAWSTORE_H
#define ARVEX_DEVICE_SIM_SIMRAWSTORE_H

#include "rawfile.h"

#include <QChar>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

namespace sim {

struct RawEntry {
    QString path;   // canonical
    QString text;   // path relative to the folder it was found under
    RawFileHeader header;
};

// Scans `roots` (missing or empty ones are ignored). At most `limit` entries.
QVector<RawEntry> scanRawFiles(const QStringList &roots, int limit);

// The recording volumes of option 7: lines "L=DIR" separated by '\n'. A line
// that is not a letter, '=' and a folder is ignored; a letter given twice
// keeps its last folder. Letters are upper-case.
QMap<QChar, QString> parseVolumeTable(const QString &text);

}  // namespace sim

#endif
