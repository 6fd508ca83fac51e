// Write-to-disk targets and the clean-up of small recordings.
#include "w2dtargets.h"

#include "clientpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

bool prepareW2dTargets(const QString &letters, const QString &relative,
                       const RecordingVolumes &volumes, QVector<W2dTarget> *targets,
                       QString *reason)
{
    // Every target is checked before any folder is made: a refusal on the
    // second volume must not leave a folder behind on the first.
    QVector<W2dTarget> prepared;
    for (const QChar letter : letters) {
        const RecordingVolume *volume = findVolume(volumes, letter);
        if (!volume) {
            *reason = QStringLiteral("unknown volume %1:").arg(letter);
            return false;
        }
        W2dTarget t;
        t.volume = *volume;
        t.prefix = QDir::cleanPath(volume->folder + QLatin1Char('/') + relative);
        t.folder = QFileInfo(t.prefix).path();
        // The first file too: a link in its place would take the recording out.
        if (!staysInsideVolume(t.prefix, *volume)
            || !staysInsideVolume(firstRecordingFile(t), *volume)) {
            *reason = QStringLiteral("folder leads out of volume %1:").arg(letter);
            return false;
        }
        prepared.append(t);
    }
    for (int i = 0; i < prepared.size(); ++i) {
        W2dTarget &t = prepared[i];
        t.folderCreated = !QFileInfo::exists(t.folder);
        if (!QDir().mkpath(t.folder)) {
            *reason = QStringLiteral("cannot create %1").arg(t.folder);
            // Only the (still empty) folders this call made go again.
            for (int j = 0; j < i; ++j) {
                if (prepared[j].folderCreated)
                    QDir().rmdir(prepared[j].folder);
            }
            return false;
        }
    }
    *targets = prepared;
    return true;
}

QString firstRecordingFile(const W2dTarget &target)
{
    return target.prefix + QStringLiteral(".00.raw");
}

QStringList removeSmallRecording(const W2dTarget &target)
{
    QStringList removed;
    const QFileInfo first(firstRecordingFile(target));
    if (!first.exists() || first.isSymLink() || first.size() >= kSmallRecordingBytes)
        return removed;
    // Checked again at stop: the tree may have changed since the start.
    if (!staysInsideVolume(target.folder, target.volume))
        return removed;
    const QString root = QFileInfo(target.volume.folder).canonicalFilePath();
    const QString folder = QFileInfo(target.folder).canonicalFilePath();
    const bool isRoot = folder.isEmpty() || folder == root;
    if (target.folderCreated && !isRoot && !QFileInfo(target.folder).isSymLink()) {
        // removeRecursively() deletes links, never what they point to.
        if (QDir(target.folder).removeRecursively())
            removed << target.folder;
        return removed;
    }
    const QString base = QFileInfo(target.prefix).fileName();
    const QRegularExpression own(QStringLiteral("^") + QRegularExpression::escape(base)
                                 + QStringLiteral("\\.\\d\\d\\.raw$"));
    const QFileInfoList entries = QDir(target.folder).entryInfoList(QDir::Files | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (own.match(entry.fileName()).hasMatch() && QFile::remove(entry.filePath()))
            removed << entry.filePath();
    }
    return removed;
}
