// Driver options 6 and 7: the raw-file folder and the recording volumes.
#include "rawfolder.h"

namespace {

bool representableInLatin1(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF || c.unicode() == 0)
            return false;
    }
    return true;
}

bool setTextOption(const DriverTable &driver, uint32_t option, const QByteArray &text,
                   QString *error)
{
    if (!driver.setDriverOption) {
        if (error)
            *error = QStringLiteral("the driver has no setDriverOption");
        return false;
    }
    // constData() is NUL-terminated; the driver copies the text during the call.
    const uint32_t status =
        driver.setDriverOption(nullptr, option, reinterpret_cast<uintptr_t>(text.constData()), 0);
    if (status != 0) {
        if (error)
            *error = QStringLiteral("the driver refused option %1 (status %2)")
                         .arg(option)
                         .arg(status);
        return false;
    }
    return true;
}

}  // namespace

QByteArray volumesOptionText(const RecordingVolumes &volumes)
{
    QByteArray text;
    for (const RecordingVolume &v : volumes) {
        text += QString(v.letter).toLatin1();
        text += '=';
        text += v.folder.toLatin1();
        text += '\n';
    }
    return text;
}

bool setDriverRawFolder(const QString &folder, QString *error, const DriverTable &driver)
{
    if (!representableInLatin1(folder)) {
        if (error)
            *error = QStringLiteral("the folder \"%1\" has characters the driver cannot take")
                         .arg(folder);
        return false;
    }
    return setTextOption(driver, ARVEX_OPTION_RAW_FOLDER, folder.toLatin1(), error);
}

bool setDriverVolumes(const RecordingVolumes &volumes, QString *error, const DriverTable &driver)
{
    for (const RecordingVolume &v : volumes) {
        if (!representableInLatin1(v.folder) || v.folder.contains(QLatin1Char('\n'))) {
            if (error)
                *error = QStringLiteral("the volume folder \"%1\" has characters the driver "
                                        "cannot take")
                             .arg(v.folder);
            return false;
        }
    }
    return setTextOption(driver, ARVEX_OPTION_VOLUMES, volumesOptionText(volumes), error);
}

bool applyRawFolderChange(const QString &folder, QString *downloadFolder, QString *error,
                          const DriverTable &driver)
{
    if (!setDriverRawFolder(folder, error, driver))
        return false;
    if (downloadFolder)
        *downloadFolder = folder;
    return true;
}
