// The write-to-disk record of the simulated driver.
#include "simw2drequest.h"

#include <QDir>
#include <QtEndian>

#include <cstring>

namespace sim {

namespace {

// The text of a NUL-terminated field, or nothing when the field has no NUL.
std::optional<QString> fieldText(const uint8_t *field, int size)
{
    const void *nul = std::memchr(field, 0, size_t(size));
    if (!nul)
        return std::nullopt;
    const int length = int(static_cast<const uint8_t *>(nul) - field);
    return QString::fromLatin1(reinterpret_cast<const char *>(field), length);
}

void setReason(QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
}

}  // namespace

std::optional<W2dRequest> decodeW2dRequest(const uint8_t *record, QString *reason)
{
    if (!record) {
        setReason(reason, QStringLiteral("no record"));
        return std::nullopt;
    }
    W2dRequest request;
    request.passThrough = qFromLittleEndian<int32_t>(record + W2dOffset::PassThrough);
    request.options = qFromLittleEndian<int32_t>(record + W2dOffset::Options);
    const uint32_t count = qFromLittleEndian<uint32_t>(record + W2dOffset::VolumeCount);
    if (count == 0 || count > uint32_t(kW2dMaxVolumes)) {
        setReason(reason, QStringLiteral("volume count %1 not in 1..4").arg(count));
        return std::nullopt;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const auto root = fieldText(record + W2dOffset::Slots + int(i) * W2dOffset::SlotSize,
                                    W2dOffset::SlotSize);
        const bool shaped = root && (root->size() == 2 || root->size() == 3)
                            && root->at(0).unicode() < 0x80 && root->at(0).isLetter()
                            && root->at(1) == QLatin1Char(':')
                            && (root->size() == 2 || root->at(2) == QLatin1Char('\\')
                                || root->at(2) == QLatin1Char('/'));
        if (!shaped) {
            setReason(reason, QStringLiteral("volume slot %1 is not a root like \"D:\\\"").arg(i));
            return std::nullopt;
        }
        request.letters.push_back(root->at(0).toUpper());
    }
    const auto folder = fieldText(record + W2dOffset::Folder, W2dOffset::FolderSize);
    if (!folder) {
        setReason(reason, QStringLiteral("folder path without NUL"));
        return std::nullopt;
    }
    QString path = *folder;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.startsWith(QLatin1Char('/')) || (path.size() >= 2 && path[1] == QLatin1Char(':'))) {
        setReason(reason, QStringLiteral("folder path \"%1\" is not relative").arg(*folder));
        return std::nullopt;
    }
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))  {
            setReason(reason, QStringLiteral("folder path \"%1\" leaves the volume").arg(*folder));
            return std::nullopt;
        }
        if (part != QLatin1String("."))
            parts << part;
    }
    if (parts.isEmpty() || path.endsWith(QLatin1Char('/'))) {
        setReason(reason, QStringLiteral("folder path \"%1\" names no recording").arg(*folder));
        return std::nullopt;
    }
    request.folder = parts.join(QLatin1Char('/'));
    return request;
}

std::optional<QStringList> w2dTargetFiles(const W2dRequest &request,
                                          const QMap<QChar, QString> &volumes, QString *reason)
{
    QStringList files;
    for (QChar letter : request.letters) {
        const auto volume = volumes.constFind(letter);
        if (volume == volumes.constEnd() || volume->isEmpty()) {
            setReason(reason, QStringLiteral("no recording volume %1").arg(letter));
            return std::nullopt;
        }
        // Joined as text: QDir::absoluteFilePath takes a folder starting with
        // ':' for a Qt resource path and returns it as it is, so that the
        // recording's folders would be made in the working directory.
        const QString file = QDir::cleanPath(QDir(*volume).absolutePath() + QLatin1Char('/')
                                             + request.folder + QStringLiteral(".00.raw"));
        if (!files.contains(file))
            files << file;
    }
    return files;
}

}  // namespace sim
