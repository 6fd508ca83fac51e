// PNG output through QImageWriter.
#include "pngwriter.h"

#include <QImageWriter>
#include <QSaveFile>

bool writePng(const QImage &image, const QString &path, QString *error)
{
    // Written aside and renamed: a failed write never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        if (error)
            *error = QStringLiteral("cannot write %1 as PNG: %2").arg(path, writer.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
