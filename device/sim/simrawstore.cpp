// Scanning folders for raw files and reading the volume table.
#include "simrawstore.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QtDebug>

#include <algorithm>

namespace sim {

QVector<RawEntry> scanRawFiles(const QStringList &roots, int limit)
{
    QVector<RawEntry> entries;
    QSet<QString> seen;
    for (const QString &root : roots) {
        if (root.isEmpty() || !QFileInfo(root).isDir())
            continue;
        const QDir rootDir(root);
        // Symbolic links to folders are not followed: no loops, no escape.
        QDirIterator it(root, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.endsWith(QLatin1String(".raw")))
                continue;
            const QString canonical = QFileInfo(path).canonicalFilePath();
            if (canonical.isEmpty() || seen.contains(canonical))
                continue;
            seen.insert(canonical);
            QString reason;
            const auto header = inspectRawFile(canonical, &reason);
            if (!header) {
                qWarning().noquote() << QStringLiteral("Raw file skipped: %1: %2").arg(path, reason);
                continue;
            }
            entries.push_back({canonical, rootDir.relativeFilePath(path), *header});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry &a, const RawEntry &b) { return a.path < b.path; });
    if (entries.size() > limit)
        entries.resize(limit);
    return entries;
}

QMap<QChar, QString> parseVolumeTable(const QString &text)
{
    QMap<QChar, QString> table;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.size() < 3 || line[1] != QLatin1Char('=') || !line[0].isLetter()
            || line[0].unicode() > 0x7F)
            continue;
        table.insert(line[0].toUpper(), line.mid(2));
    }
    return table;
}

}  // namespace sim
