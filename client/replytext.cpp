// Formatting of replies for the command-line client.
#include "replytext.h"

#include "commandnames.h"

namespace {

// Drivers write 8-bit text; UTF-8 when it is valid UTF-8, else Latin-1.
QString deviceText(const char *text)
{
    const QByteArray bytes(text);
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.toUtf8() == bytes ? utf8 : QString::fromLatin1(bytes);
}

QString addressText(uint32_t ip)
{
    return QHostAddress(ip).toString();
}

// Labels of the value words the protocol gives a meaning to, by sub-command.
QStringList valueLabels(uint32_t subCommand, const QVector<uint32_t> &args)
{
    switch (subCommand) {
    case CMD_GET_PARAMETER:
        if (!args.isEmpty() && (args[0] == 35 || args[0] == 1013 || args[0] == 1016))
            return {};
        return {QStringLiteral("first value"), QStringLiteral("second value")};
    case CMD_REFRESH_CAMERA_SETTINGS:
        return {QStringLiteral("image bytes")};
    case CMD_QUERY_SETTING:
    case CMD_GET_SETTING:
    case CMD_GET_DEVICE_VALUE:
        return {QStringLiteral("value")};
    case CMD_READ_IMAGE:
        return {QStringLiteral("image format"), QStringLiteral("bytes sent"),
                QStringLiteral("width"),        QStringLiteral("height"),
                QStringLiteral("bits per pixel"), QStringLiteral("JPEG parts")};
    case CMD_MEMORY_STOP_GRAB:
        return {QStringLiteral("frames recorded")};
    case CMD_GET_TRIGGER_INDEX:
        return {QStringLiteral("frames recorded"), QStringLiteral("trigger position"),
                QStringLiteral("trigger frame"), QStringLiteral("trigger time (ms)")};
    case CMD_GET_STATUS:
        return {QStringLiteral("status 0"), QStringLiteral("status 1"), QStringLiteral("status 2"),
                QStringLiteral("status 3"), QStringLiteral("status 4"), QStringLiteral("status 5")};
    case CMD_GET_W2D_PROGRESS:
        return {QStringLiteral("progress 0"), QStringLiteral("progress 1"),
                QStringLiteral("progress 2"), QStringLiteral("progress 3")};
    case CMD_GET_CALIBRATION_PROGRESS:
        return {QStringLiteral("done"), QStringLiteral("total"), QStringLiteral("complete")};
    default:
        return {};
    }
}

}  // namespace

QString serialNumberText(uint32_t serial)
{
    return QStringLiteral("%1-%2-%3")
        .arg(serial / 100000000u, 2, 10, QLatin1Char('0'))
        .arg((serial / 10000u) % 10000u, 4, 10, QLatin1Char('0'))
        .arg(serial % 10000u, 4, 10, QLatin1Char('0'));
}

QString versionText(uint32_t version)
{
    return QStringLiteral("%1-%2-%3")
        .arg(version >> 16, 4, 16, QLatin1Char('0'))
        .arg((version >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg(version & 0xFF, 2, 16, QLatin1Char('0'));
}

QString macNumberText(int64_t mac)
{
    if (mac < 0)
        return QStringLiteral("unknown");
    QStringList octets;
    for (int shift = 40; shift >= 0; shift -= 8)
        octets << QStringLiteral("%1").arg((mac >> shift) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    return octets.join(QLatin1Char(':'));
}

QStringList deviceLines(const DiscoveryReply &record, bool rawInfo)
{
    QStringList lines;
    lines << QStringLiteral("model code: %1").arg(record.modelCode)
          << QStringLiteral("serial number: %1 (%2)")
                 .arg(serialNumberText(record.serialNumber))
                 .arg(record.serialNumber)
          << QStringLiteral("microblaze version: %1").arg(versionText(record.microblazeVersion))
          << QStringLiteral("firmware version: %1").arg(versionText(record.firmwareVersion))
          << QStringLiteral("text: \"%1\"").arg(deviceText(record.text));
    QString words = QStringLiteral("device words: [12] %1, [32] %2, [56] %3, [60] %4, [64] %5, "
                                   "[68] %6")
                        .arg(record.word12)
                        .arg(record.word32)
                        .arg(record.word56)
                        .arg(record.word60)
                        .arg(record.word64)
                        .arg(record.word68);
    if (rawInfo)
        words += QStringLiteral(", [208] %1, [212] %2").arg(record.word208).arg(record.word212);
    lines << words;
    return lines;
}

QString identityLine(const ServerIdentity &identity)
{
    return QStringLiteral("server: MAC %1, address %2, mask %3, MTU %4")
        .arg(macNumberText(identity.macAddress), addressText(identity.address),
             addressText(identity.mask))
        .arg(identity.mtu);
}

QStringList commandReplyLines(const Reply &reply, uint32_t subCommand,
                              const QVector<uint32_t> &args)
{
    QStringList lines;
    const QString name = subCommandName(subCommand);
    const QString what = name.isEmpty() ? QString::number(subCommand)
                                        : QStringLiteral("%1 (%2)").arg(subCommand).arg(name);
    if (reply.isAck()) {
        lines << QStringLiteral("%1: acknowledged, result %2")
                     .arg(what)
                     .arg(reply.header.resultOrSelector);
        return lines;
    }
    const CommandReply values = reply.command();
    const uint32_t length = qMin<uint32_t>(values.valueLength, kCommandValueSize);
    lines << QStringLiteral("%1: reply to sub-command %2, result %3, %4 value bytes")
                 .arg(what)
                 .arg(values.subCommand)
                 .arg(values.result)
                 .arg(values.valueLength);

    const bool text = subCommand == CMD_GET_PARAMETER && !args.isEmpty() &&
                      (args[0] == 35 || args[0] == 1016);
    if (text) {
        lines << QStringLiteral("text: \"%1\"").arg(QString::fromLatin1(
                     reinterpret_cast<const char *>(values.values), int(length)));
        return lines;
    }
    const QStringList labels = valueLabels(subCommand, args);
    const uint32_t words = (length + 3) / 4;
    for (uint32_t i = 0; i < words; ++i) {
        const uint32_t v = values.value(i);
        QString line = QStringLiteral("[%1] %2 (0x%3)")
                           .arg(kCommandValueOffset + 4 * i)
                           .arg(v)
                           .arg(v, 8, 16, QLatin1Char('0'));
        if (int(i) < labels.size())
            line += QStringLiteral("  %1").arg(labels.at(int(i)));
        else if (subCommand == CMD_READ_IMAGE && i >= 6)
            line += QStringLiteral("  part %1 bytes").arg(i - 6);
        lines << line;
    }
    return lines;
}
