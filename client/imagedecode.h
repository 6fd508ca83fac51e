// Turning a transferred image into a QImage that a PNG can hold: raw pixels
// as they came (8-bit gray, 16-bit gray, RGB888, 16-bit RGB), JPEG transfers
// decoded with TurboJPEG (format 1: the parts are strips, top to bottom).
#ifndef ARVEX_CLIENT_IMAGEDECODE_H
#define ARVEX_CLIENT_IMAGEDECODE_H

#include "imagereader.h"

#include <QImage>
#include <QString>

#include <optional>

// Null image with `error` set when the data does not match its description.
// Raw: up to 8 bits Format_Grayscale8, 9..16 Format_Grayscale16 (samples
// unscaled), 17..24 Format_RGB888, above Format_RGBX64 (three 16-bit
// samples). JPEG: Format_Grayscale8 or Format_RGB888.
QImage decodeTransferredImage(const ReceivedImage &image, QString *error);

#endif
