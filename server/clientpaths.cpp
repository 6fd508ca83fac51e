// Confining client paths to the recording volumes.
#include "clientpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace {

// Splits on either separator, dropping empty and "." components; false when
// a ".." component appears.
bool splitComponents(const QString &path, QStringList *components)
{
    QString unified = path;
    unified.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = unified.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    components->clear();
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return false;
        if (part == QLatin1String("."))
            continue;
        components->append(part);
    }
    return true;
}

bool hasDriveLetter(const QString &path)
{
    return path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).isLetter()
           && path.at(0).unicode() < 128;
}

bool isInside(const QString &path, const QString &root)
{
    return path == root || path.startsWith(root + QLatin1Char('/')) || root == QLatin1String("/");
}

// The canonical form of the deepest existing ancestor of `absolute`, with the
// rest appended: what the path really names once links are followed.
QString realPath(const QString &absolute)
{
    QString existing = absolute;
    QString rest;
    while (!existing.isEmpty()) {
        const QFileInfo info(existing);
        if (info.exists() || info.isSymLink()) {
            const QString canonical = info.canonicalFilePath();
            if (canonical.isEmpty())  // a dangling link: where it points is unknown
                return QString();
            return rest.isEmpty() ? canonical : canonical + rest;
        }
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return absolute;
        rest = existing.mid(slash) + rest;
        existing.truncate(slash);
    }
    return absolute;
}

}  // namespace

std::optional<QByteArray> clientPathField(const uint8_t *data, size_t length, size_t offset)
{
    if (offset >= length)
        return std::nullopt;
    const size_t available = std::min(length - offset, kClientPathFieldSize);
    const void *nul = std::memchr(data + offset, 0, available);
    if (!nul)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(data + offset),
                      int(static_cast<const uint8_t *>(nul) - (data + offset)));
}

bool clientPathFieldPadded(const uint8_t *data, size_t length, size_t offset)
{
    if (offset >= length)
        return true;
    const size_t available = std::min(length - offset, kClientPathFieldSize);
    const uint8_t *field = data + offset;
    const void *nul = std::memchr(field, 0, available);
    if (!nul)
        return true;
    const uint8_t *end = field + available;
    return std::all_of(static_cast<const uint8_t *>(nul), end, [](uint8_t b) { return b == 0; });
}

const RecordingVolume *findVolume(const RecordingVolumes &volumes, QChar letter)
{
    for (const RecordingVolume &v : volumes)
        if (v.letter.toUpper() == letter.toUpper())
            return &v;
    return nullptr;
}

bool staysInsideVolume(const QString &absolute, const RecordingVolume &volume)
{
    const QString root = QFileInfo(volume.folder).canonicalFilePath();
    if (root.isEmpty())
        return false;
    const QString real = realPath(absolute);
    return !real.isEmpty() && isInside(real, root);
}

ResolvedPath resolveClientPath(const QByteArray &text, const RecordingVolumes &volumes)
{
    ResolvedPath r;
    const QString path = QString::fromLatin1(text);
    if (volumes.isEmpty()) {
        r.reason = QStringLiteral("no recording volume");
        return r;
    }
    if (path.isEmpty()) {
        r.reason = QStringLiteral("empty path");
        return r;
    }
    QStringList components;
    const RecordingVolume *volume = nullptr;
    if (hasDriveLetter(path)) {
        volume = findVolume(volumes, path.at(0));
        if (!volume) {
            r.reason = QStringLiteral("unknown volume %1:").arg(path.at(0).toUpper());
            return r;
        }
        if (!splitComponents(path.mid(2), &components)) {
            r.reason = QStringLiteral("\"..\" in path");
            return r;
        }
        r.absolute = QDir::cleanPath(volume->folder + QLatin1Char('/')
                                     + components.join(QLatin1Char('/')));
    } else if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))) {
        if (!splitComponents(path, &components)) {
            r.reason = QStringLiteral("\"..\" in path");
            return r;
        }
        const QString absolute = QLatin1Char('/') + components.join(QLatin1Char('/'));
        for (const RecordingVolume &v : volumes) {
            if (isInside(absolute, QDir::cleanPath(v.folder))) {
                volume = &v;
                break;
            }
        }
        if (!volume) {
            r.reason = QStringLiteral("outside every recording volume");
            return r;
        }
        r.absolute = absolute;
    } else {
        volume = &volumes.first();
        if (!splitComponents(path, &components)) {
            r.reason = QStringLiteral("\"..\" in path");
            return r;
        }
        r.absolute = QDir::cleanPath(volume->folder + QLatin1Char('/')
                                     + components.join(QLatin1Char('/')));
    }
    if (!staysInsideVolume(r.absolute, *volume)) {
        r.reason = QStringLiteral("leads out of volume %1:").arg(volume->letter);
        return r;
    }
    r.volume = volume->letter;
    r.ok = true;
    return r;
}

W2dFolder validateW2dFolder(const QByteArray &text, const QString &chosenLetters)
{
    W2dFolder f;
    QString path = QString::fromLatin1(text);
    if (hasDriveLetter(path)) {
        if (!chosenLetters.contains(path.at(0).toUpper())) {
            f.reason = QStringLiteral("volume %1: is not one of the chosen volumes")
                           .arg(path.at(0).toUpper());
            return f;
        }
        path = path.mid(2);
        if (!path.startsWith(QLatin1Char('\\')) && !path.startsWith(QLatin1Char('/'))) {
            f.reason = QStringLiteral("drive-relative path");
            return f;
        }
    } else if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\'))) {
        f.reason = QStringLiteral("absolute path");
        return f;
    }
    QStringList components;
    if (!splitComponents(path, &components)) {
        f.reason = QStringLiteral("\"..\" in path");
        return f;
    }
    if (components.isEmpty()) {
        f.reason = QStringLiteral("empty folder path");
        return f;
    }
    f.relative = components.join(QLatin1Char('/'));
    f.ok = true;
    return f;
}
