// The folders the driver is told about: the raw-file (download) folder,
// driver option 6, and the recording volumes, driver option 7. Shared by the
// headless runner and the windowed program, so that a rawFolderChange from
// the camera server is applied the same way in both.
#ifndef ARVEX_APP_RAWFOLDER_H
#define ARVEX_APP_RAWFOLDER_H

#include "drivertable.h"
#include "recordingvolumes.h"

#include <QByteArray>
#include <QString>

// The text of driver option 7: one "L=DIR\n" line per volume.
QByteArray volumesOptionText(const RecordingVolumes &volumes);

// Hands `folder` to the driver as option 6 (Latin-1, NUL-terminated). A
// folder that Latin-1 cannot spell is refused (false, reason in `error`)
// rather than handed over mangled.
bool setDriverRawFolder(const QString &folder, QString *error = nullptr,
                        const DriverTable &driver = activeDriver());
// Hands the volumes to the driver as option 7.
bool setDriverVolumes(const RecordingVolumes &volumes, QString *error = nullptr,
                      const DriverTable &driver = activeDriver());

// The reaction to the camera server's rawFolderChange(QString): the folder
// becomes the download folder in memory (`downloadFolder`) and the driver's
// raw-file folder. Nothing is stored in the settings. On a refusal both stay
// as they were.
bool applyRawFolderChange(const QString &folder, QString *downloadFolder,
                          QString *error = nullptr, const DriverTable &driver = activeDriver());

#endif
