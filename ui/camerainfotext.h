// Texts the main window shows: camera model names, the value column of the
// camera table, the status line and the adapter label.
#ifndef ARVEX_UI_CAMERAINFOTEXT_H
#define ARVEX_UI_CAMERAINFOTEXT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

constexpr int kCameraTableRows = 5;

QString cameraModelName(uint32_t modelCode);
// "hhhh-hh-hh" from bits 31..16, 15..8 and 7..0, lower-case hexadecimal.
QString versionText(uint32_t version);
// "SS-SSSS-SSSS": the number in pieces of at least two, four and four digits.
QString serialText(uint32_t serialNumber);
// The word at offset 24 less 3 (unsigned), then the firmware pieces.
QString arvexVersionText(uint32_t word24, uint32_t firmwareVersion);
// Column 1 of the five rows from one DeviceInfo record; bytes missing from
// a short record read as zero.
QStringList cameraTableValues(const QByteArray &deviceInfo);
// Column 0 of the five rows, untranslated.
QStringList cameraTableLabels();

QString statusText(int status);
QString adapterLabelText(const QString &description, uint32_t ip);
// A log line of the window's own, in the servers' form, stamped ms after start.
QString windowLogLine(qint64 ms, const QString &text);
// The about box's text; it names the platform the program runs on.
QString aboutText();

#endif
