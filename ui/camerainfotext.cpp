// Texts the main window shows: camera model names, the value column of the
// camera table, the status line and the adapter label.
#include "camerainfotext.h"

#include "adapters.h"
#include "deviceinfo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSysInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString padded(uint32_t value, int width, int base)
{
    return QStringLiteral("%1").arg(value, width, base, QLatin1Char('0'));
}

}  // namespace

QString cameraModelName(uint32_t modelCode)
{
    switch (modelCode) {
    case 46: return tr("Vantrel Iris");
    case 47: return tr("Vantrel Juniper");
    case 48: return tr("Vantrel Aster");
    case 49: return tr("Vantrel Cedar");
    case 50: return tr("Vantrel Dune");
    case 51: return tr("Vantrel Fern");
    case 52: return tr("Vantrel Elm");
    case 53: return tr("Vantrel Birch");
    case 54: return tr("Vantrel Gale");
    case 57: return tr("Vantrel Heath");
    default: return tr("Unknown camera");
    }
}

QString versionText(uint32_t version)
{
    return QStringLiteral("%1-%2-%3")
        .arg(padded(version >> 16, 4, 16), padded((version >> 8) & 0xFF, 2, 16),
             padded(version & 0xFF, 2, 16));
}

QString serialText(uint32_t serialNumber)
{
    return QStringLiteral("%1-%2-%3")
        .arg(padded(serialNumber / 100000000u, 2, 10),
             padded((serialNumber / 10000u) % 10000u, 4, 10),
             padded(serialNumber % 10000u, 4, 10));
}

QString arvexVersionText(uint32_t word24, uint32_t firmwareVersion)
{
    return QStringLiteral("%1 (%2)").arg(word24 - 3u).arg(versionText(firmwareVersion));
}

QStringList cameraTableValues(const QByteArray &deviceInfo)
{
    uint8_t record[kDeviceInfoSize] = {};
    std::memcpy(record, deviceInfo.constData(),
                size_t(qMin(deviceInfo.size(), int(kDeviceInfoSize))));
    const uint32_t firmware = deviceInfoU32(record, DeviceInfoOffset::FirmwareVersion);
    return {cameraModelName(deviceInfoU32(record, DeviceInfoOffset::ModelCode)),
            versionText(deviceInfoU32(record, DeviceInfoOffset::MicroblazeVersion)),
            versionText(firmware),
            serialText(deviceInfoU32(record, DeviceInfoOffset::SerialNumber)),
            arvexVersionText(deviceInfoU32(record, DeviceInfoOffset::Word24), firmware)};
}

QStringList cameraTableLabels()
{
    return {QStringLiteral(QT_TRANSLATE_NOOP("MainWindow", "Camera Model")),
            QStringLiteral(QT_TRANSLATE_NOOP("MainWindow", "Microblaze Version")),
            QStringLiteral(QT_TRANSLATE_NOOP("MainWindow", "Firmware Version")),
            QStringLiteral(QT_TRANSLATE_NOOP("MainWindow", "Serial Number")),
            QStringLiteral(QT_TRANSLATE_NOOP("MainWindow", "Arvex Version"))};
}

QString statusText(int status)
{
    switch (status) {
    case 1: return tr("Enabled");
    case 2: return tr("Waiting for remote enumeration...");
    case 3: return tr("Waiting for remote connection...");
    case 4: return tr("Connected, listening!!!");
    case 5: return tr("Sending missing segments!");
    default: return tr("Disabled");
    }
}

QString adapterLabelText(const QString &description, uint32_t ip)
{
    return QStringLiteral("<p  align=center><font color=#FFAA34><b>%1</b></font><br/>"
                          "<font color=white><b>%2</b></font></p>")
        .arg(description.toHtmlEscaped(), QStringLiteral("[") + ipToText(ip) + QStringLiteral("]"));
}

QString windowLogLine(qint64 ms, const QString &text)
{
    const qint64 t = qMax<qint64>(ms, 0);
    const QString stamp = QStringLiteral("%1:%2:%3:%4  ")
                              .arg(t / 3600000, 2, 10, QLatin1Char('0'))
                              .arg(t / 60000 % 60, 2, 10, QLatin1Char('0'))
                              .arg(t / 1000 % 60, 2, 10, QLatin1Char('0'))
                              .arg(t % 1000, 3, 10, QLatin1Char('0'));
    return QStringLiteral("<p><font color=gray>%1</font><font color=white>%2</font><br/></p>")
        .arg(stamp, text.toHtmlEscaped());
}

QString aboutText()
{
#if defined(Q_OS_WIN)
    const QString family = QStringLiteral("Windows");
#elif defined(Q_OS_MACOS)
    const QString family = QStringLiteral("macOS");
#elif defined(Q_OS_LINUX)
    const QString family = QStringLiteral("Linux");
#else
    const QString family = QSysInfo::kernelType();
#endif
    return QStringLiteral("<p><b>Arvex Remote Control</b><br/>for %1<br/>")
               .arg(family.toHtmlEscaped())
        + tr("Version %1").arg(QCoreApplication::applicationVersion().toHtmlEscaped())
        + QStringLiteral("<br/>")
        + tr("Running on %1 (%2, Qt %3)")
              .arg(QSysInfo::prettyProductName().toHtmlEscaped(),
                   QGuiApplication::platformName().toHtmlEscaped(), QString::fromLatin1(qVersion()))
        + QStringLiteral("<br/>Korvane</p>");
}
