// Write-to-disk and saving recordings: CMD_WRITE_TO_DISK (start and stop),
// CMD_SAVE_RAW_FILE and the driver's write-to-disk progress callback. Every
// path a client names is confined to the recording volumes before anything
// is created or the driver is called.
#include "qcameramonitor.h"

#include "clientpaths.h"
#include "w2dvolumes.h"
#include "writetodiskrecord.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

constexpr size_t kPathOffset = 80;

// The text of a client path for a log line.
QString quoted(const QByteArray &text)
{
    return QLatin1Char('"') + QString::fromLatin1(text) + QLatin1Char('"');
}

// The path field at 80, or why it is refused: no NUL inside its 512 bytes
// (a datagram ending before one counts), or text behind its NUL.
std::optional<QByteArray> pathField(const MonitorRequest &request, QString *reason)
{
    const auto text = clientPathField(request.data, request.length, kPathOffset);
    if (!text) {
        *reason = QStringLiteral("no NUL within its %1 bytes").arg(kClientPathFieldSize);
        return std::nullopt;
    }
    if (!clientPathFieldPadded(request.data, request.length, kPathOffset)) {
        *reason = QStringLiteral("%1 has text behind its NUL").arg(quoted(*text));
        return std::nullopt;
    }
    return text;
}

bool endsWithSeparator(const QByteArray &text)
{
    return text.endsWith('/') || text.endsWith('\\');
}

}  // namespace

CommandOutcome QCameraMonitor::handleWriteToDisk(const MonitorRequest &request)
{
    const uint32_t start = request.arg(0);
    if (start == 0) {
        stopWriteToDisk();
        return CommandOutcome::AckOk;
    }
    auto refuse = [&](const QString &why) {
        writeLog(QStringLiteral("Write-to-disk refused: %1.").arg(why));
        sendAck(request, RESULT_REFUSED);
        return CommandOutcome::Handled;
    };
    QString reason;
    const auto folder = pathField(request, &reason);
    if (!folder)
        return refuse(QStringLiteral("the folder path: ") + reason);
    uint8_t record[kW2dRecordSize];
    if (!selectW2dVolumes(request, *folder, record, &reason))
        return refuse(QStringLiteral("folder %1: %2").arg(quoted(*folder), reason));
    for (std::atomic<uint32_t> &value : w2dProgress)
        value = 0;
    const uint32_t options = request.arg(3);
    writeLog(QStringLiteral("Start W2D: %1 Volumes - Folder: %2 - Opt:%3")
                 .arg(readU32(record, kW2dRecordSize, W2dRecordOffset::VolumeCount))
                 .arg(QString::fromLatin1(*folder))
                 .arg(options));
    const uint32_t result =
        currentDevice()->setWriteToDisk(start, record, &QCameraMonitor::onW2dProgress, this);
    // The answer stays 0 (the protocol has no code for it); the log says why
    // nothing is being recorded.
    if (result != 0)
        writeLog(QStringLiteral("Write-to-disk: the driver refused the start (status %1).").arg(result));
    return CommandOutcome::AckOk;
}

bool QCameraMonitor::selectW2dVolumes(const MonitorRequest &request, const QByteArray &folder,
                                      uint8_t *record, QString *reason)
{
    const QString letters = chooseW2dVolumes(request.arg(1), request.arg(2), recordingVolumes);
    if (letters.isEmpty()) {
        // Never a guess outside the volumes: the start is refused.
        *reason = recordingVolumes.isEmpty() ? QStringLiteral("no recording volume")
                                             : QStringLiteral("no recording volume is usable");
        return false;
    }
    const W2dFolder checked = validateW2dFolder(folder, letters);
    if (!checked.ok) {
        *reason = checked.reason;
        return false;
    }
    QVector<W2dTarget> targets;
    if (!prepareW2dTargets(letters, checked.relative, recordingVolumes, &targets, reason))
        return false;
    w2dPrefixes = targets;
    buildW2dRecord(record, int32_t(request.arg(4)), int32_t(request.arg(3)), letters,
                   checked.relative.toLatin1());
    return true;
}

void QCameraMonitor::stopWriteToDisk()
{
    writeLog(QStringLiteral("Stop W2D."));
    uint8_t record[kW2dRecordSize] = {};
    currentDevice()->setWriteToDisk(0, record, &QCameraMonitor::onW2dProgress, this);
    removeSmallRecordings();
}

void QCameraMonitor::removeSmallRecordings()
{
    // The prefixes stay: a second stop looks at the same recordings again.
    for (const W2dTarget &target : qAsConst(w2dPrefixes)) {
        for (const QString &path : removeSmallRecording(target)) {
            writeLog(path == target.folder ? QStringLiteral("Remove dir %1").arg(path)
                                           : QStringLiteral("Remove file %1").arg(path));
        }
    }
}

void QCameraMonitor::onW2dProgress(void *context, uint32_t p, uint32_t q, uint32_t r, uint32_t s)
{
    auto *monitor = static_cast<QCameraMonitor *>(context);
    monitor->w2dProgress[0] = p;
    monitor->w2dProgress[1] = q;
    monitor->w2dProgress[2] = r;
    monitor->w2dProgress[3] = s;
}

CommandOutcome QCameraMonitor::handleSaveRawFile(const MonitorRequest &request)
{
    const uint32_t a = request.arg(0);
    const uint32_t b = request.arg(1);
    const uint32_t c = request.arg(2);
    const uint32_t n = request.arg(3);
    auto refuse = [&](const QString &why) {
        writeLog(QStringLiteral("Save raw file refused: %1.").arg(why));
        sendAck(request, RESULT_REFUSED);
        return CommandOutcome::Handled;
    };
    QString reason;
    const auto path = pathField(request, &reason);
    if (!path)
        return refuse(QStringLiteral("the path: ") + reason);
    const ResolvedPath file = resolveClientPath(*path, recordingVolumes);
    if (!file.ok)
        return refuse(QStringLiteral("path %1: %2").arg(quoted(*path), file.reason));
    // Checked before anything is made: a refused announcement creates nothing.
    ResolvedPath announced;
    if (b == 0 && n != 0) {
        const QByteArray head = path->left(int(std::min<uint32_t>(n, uint32_t(path->size()))));
        announced = resolveClientPath(head, recordingVolumes);
        if (!announced.ok)
            return refuse(QStringLiteral("folder %1: %2").arg(quoted(head), announced.reason));
    }
    // A path naming a folder (a trailing separator, or the volume itself)
    // keeps naming it: that folder is made and the driver's create fails,
    // rather than a file being written under a name the client did not give
    // and the volume's parent being "created".
    const RecordingVolume *volume = findVolume(recordingVolumes, file.volume);
    const bool namesFolder =
        endsWithSeparator(*path) || (volume && file.absolute == QDir::cleanPath(volume->folder));
    if (b == 0) {
        // A failure shows when the driver cannot create the file.
        QDir().mkpath(namesFolder ? file.absolute : QFileInfo(file.absolute).path());
        if (n != 0)
            emit rawFolderChange(announced.absolute);
    }
    const QString target = namesFolder ? file.absolute + QLatin1Char('/') : file.absolute;
    const QByteArray latin1 = target.toLatin1();
    const uint32_t result = currentDevice()->saveToFile(latin1.constData(), 0, 0, a, b, c);
    if (result != 0)
        writeLog(QStringLiteral("Save raw file: the driver could not save %1 (status %2).")
                     .arg(target)
                     .arg(result));
    return CommandOutcome::AckOk;
}
