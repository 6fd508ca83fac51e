// Writing a read-out image as a PNG file (16-bit samples kept as 16 bits).
#ifndef ARVEX_CLIENT_PNGWRITER_H
#define ARVEX_CLIENT_PNGWRITER_H

#include <QImage>
#include <QString>

// False with `error` set when the file cannot be written.
bool writePng(const QImage &image, const QString &path, QString *error);

#endif
