// The named parameter, settings and status commands of arvex-client.
#include "cameracommands.h"

#include "commandnames.h"

#include "protocol.h"

namespace {

constexpr uint32_t kParameterDescription = 35;
constexpr uint32_t kParameterSensorBlock = 1013;
constexpr uint32_t kParameterDriverVersion = 1016;
constexpr uint32_t kSensorBlockLength = 28;
constexpr int kGeometryWords = 16;  // 64 bytes follow, whatever the value length says

struct Named {
    const char *name;
    int argumentCount;   // numbers after the name; -1: one word of `choices`
    const char *usage;   // after the name in messages and --help
};

const Named kNamed[] = {
    {"get-param", 1, "ID"},
    {"set-param", 2, "ID VALUE"},
    {"get-setting", 1, "ID"},
    {"set-setting", 2, "ID VALUE"},
    {"refresh-settings", 0, ""},
    {"status", 0, ""},
    {"live", -1, "on|off"},
    {"geometry", 0, ""},
    {"reset", 0, ""},
    {"flash", -1, "read|write"},
    {"calib-progress", 0, ""},
};

const Named *findNamed(const QString &command)
{
    for (const Named &n : kNamed) {
        if (command == QLatin1String(n.name))
            return &n;
    }
    return nullptr;
}

bool isTextParameter(uint32_t id)
{
    return id == kParameterDescription || id == kParameterDriverVersion;
}

// The value length the server gives the answer to this request.
uint32_t expectedLength(uint32_t subCommand, const QVector<uint32_t> &args)
{
    switch (subCommand) {
    case CMD_GET_PARAMETER:
        return args.value(0) == kParameterSensorBlock ? kSensorBlockLength : 8;
    case CMD_GET_SETTING:
    case CMD_REFRESH_CAMERA_SETTINGS:
        return 4;
    case CMD_GET_STATUS:
        return 24;
    case CMD_GET_STREAMING_GEOMETRY:
        return 16;
    case CMD_GET_CALIBRATION_PROGRESS:
        return 12;
    default:
        return 0;
    }
}

bool answersWithReply(uint32_t subCommand)
{
    return subCommand == CMD_GET_PARAMETER || subCommand == CMD_GET_SETTING ||
           subCommand == CMD_REFRESH_CAMERA_SETTINGS || subCommand == CMD_GET_STATUS ||
           subCommand == CMD_GET_STREAMING_GEOMETRY || subCommand == CMD_GET_CALIBRATION_PROGRESS;
}

QString wordList(const CommandReply &reply, int count)
{
    QStringList words;
    for (int i = 0; i < count; ++i)
        words << QString::number(reply.value(size_t(i)));
    return words.join(QLatin1Char(' '));
}

QStringList replyLines(const QString &command, const QVector<uint32_t> &args,
                       const CommandReply &reply)
{
    if (command == QLatin1String("get-param")) {
        const uint32_t id = args.value(0);
        if (isTextParameter(id)) {
            const QByteArray text(reinterpret_cast<const char *>(reply.values),
                                  int(reply.valueLength));
            return {QStringLiteral("parameter %1: \"%2\"").arg(id).arg(QString::fromLatin1(text))};
        }
        if (id == kParameterSensorBlock) {
            const QByteArray block(reinterpret_cast<const char *>(reply.values),
                                   int(kSensorBlockLength));
            return {QStringLiteral("parameter %1: %2 bytes: %3")
                        .arg(id)
                        .arg(kSensorBlockLength)
                        .arg(QString::fromLatin1(block.toHex(' ')))};
        }
        return {QStringLiteral("parameter %1: %2 (second value %3)")
                    .arg(id)
                    .arg(reply.value(0))
                    .arg(reply.value(1))};
    }
    if (command == QLatin1String("get-setting"))
        return {QStringLiteral("setting %1: %2").arg(args.value(0)).arg(reply.value(0))};
    if (command == QLatin1String("refresh-settings"))
        return {QStringLiteral("image bytes: %1").arg(reply.value(0))};
    if (command == QLatin1String("status"))
        return {QStringLiteral("status: %1").arg(wordList(reply, 6))};
    if (command == QLatin1String("geometry"))
        return {QStringLiteral("streaming geometry: %1").arg(wordList(reply, kGeometryWords))};
    // calib-progress
    const uint32_t done = reply.value(0);
    const uint32_t total = reply.value(1);
    return {QStringLiteral("calibration: %1 of %2, %3")
                .arg(done)
                .arg(total)
                .arg(reply.value(2) ? QStringLiteral("complete") : QStringLiteral("not complete"))};
}

QString ackLine(const QString &command, const QVector<uint32_t> &args, uint32_t subCommand)
{
    if (command == QLatin1String("set-param"))
        return QStringLiteral("set parameter %1 to %2: acknowledged").arg(args[0]).arg(args[1]);
    if (command == QLatin1String("set-setting"))
        return QStringLiteral("set setting %1 to %2: acknowledged").arg(args[0]).arg(args[1]);
    if (command == QLatin1String("live"))
        return QStringLiteral("live %1: acknowledged").arg(args[0] ? "on" : "off");
    if (command == QLatin1String("flash"))
        return subCommand == CMD_READ_SETTINGS_FROM_FLASH
                   ? QStringLiteral("settings read from flash: acknowledged")
                   : QStringLiteral("settings written to flash: acknowledged");
    return QStringLiteral("reset: acknowledged");
}

}  // namespace

bool isCameraCommand(const QString &command) { return findNamed(command) != nullptr; }

bool parseCameraCommand(const QString &command, const QStringList &words, uint32_t *subCommand,
                        QVector<uint32_t> *args, QString *error)
{
    const Named *named = findNamed(command);
    if (!named)
        return false;
    auto fail = [&](const QString &why) {
        *error = QStringLiteral("%1: %2 (usage: %1 ADDRESS %3)").arg(command, why,
                                                                  QLatin1String(named->usage));
        return false;
    };
    args->clear();
    if (named->argumentCount < 0) {
        if (words.size() != 1)
            return fail(QStringLiteral("needs one of %1").arg(QLatin1String(named->usage)));
        const QString &word = words.at(0);
        if (command == QLatin1String("live")) {
            if (word != QLatin1String("on") && word != QLatin1String("off"))
                return fail(QStringLiteral("\"%1\" is neither on nor off").arg(word));
            *subCommand = CMD_LIVE;
            *args << (word == QLatin1String("on") ? 1u : 0u);
            return true;
        }
        if (word != QLatin1String("read") && word != QLatin1String("write"))
            return fail(QStringLiteral("\"%1\" is neither read nor write").arg(word));
        *subCommand = word == QLatin1String("read") ? CMD_READ_SETTINGS_FROM_FLASH
                                                    : CMD_WRITE_SETTINGS_TO_FLASH;
        return true;
    }
    if (words.size() != named->argumentCount)
        return fail(named->argumentCount == 0
                        ? QStringLiteral("takes no arguments")
                        : QStringLiteral("needs %1 number%2")
                              .arg(named->argumentCount)
                              .arg(named->argumentCount > 1 ? "s" : ""));
    for (const QString &word : words) {
        const auto value = parseWireNumber(word);
        if (!value)
            return fail(QStringLiteral("\"%1\" is not a 32-bit number").arg(word));
        *args << *value;
    }
    if (command == QLatin1String("get-param"))
        *subCommand = CMD_GET_PARAMETER;
    else if (command == QLatin1String("set-param"))
        *subCommand = CMD_SET_PARAMETER;
    else if (command == QLatin1String("get-setting"))
        *subCommand = CMD_GET_SETTING;
    else if (command == QLatin1String("set-setting"))
        *subCommand = CMD_SET_SETTING;
    else if (command == QLatin1String("refresh-settings"))
        *subCommand = CMD_REFRESH_CAMERA_SETTINGS;
    else if (command == QLatin1String("status"))
        *subCommand = CMD_GET_STATUS;
    else if (command == QLatin1String("geometry"))
        *subCommand = CMD_GET_STREAMING_GEOMETRY;
    else if (command == QLatin1String("reset"))
        *subCommand = CMD_RESET;
    else
        *subCommand = CMD_GET_CALIBRATION_PROGRESS;
    return true;
}

CameraCommandText describeCameraAnswer(const QString &command, uint32_t subCommand,
                                       const QVector<uint32_t> &args, const Reply &reply)
{
    CameraCommandText text;
    const bool wantReply = answersWithReply(subCommand);
    if (reply.isAck()) {
        if (wantReply) {
            text.error = QStringLiteral("%1: an acknowledgement (result %2) instead of a reply")
                             .arg(command)
                             .arg(reply.header.resultOrSelector);
            return text;
        }
        text.ok = true;
        text.lines << ackLine(command, args, subCommand);
        return text;
    }
    const CommandReply values = reply.command();
    if (!wantReply || !values.valid) {
        text.error = QStringLiteral("%1: a %2-byte reply instead of an acknowledgement")
                         .arg(command)
                         .arg(reply.bytes.size());
        return text;
    }
    if (values.subCommand != subCommand) {
        text.error = QStringLiteral("%1: a reply to sub-command %2, not %3")
                         .arg(command)
                         .arg(values.subCommand)
                         .arg(subCommand);
        return text;
    }
    const bool lengthOk = subCommand == CMD_GET_PARAMETER && isTextParameter(args.value(0))
                              ? values.valueLength <= kCommandValueSize
                              : values.valueLength == expectedLength(subCommand, args);
    if (!lengthOk) {
        text.error = QStringLiteral("%1: a reply with value length %2").arg(command).arg(values.valueLength);
        return text;
    }
    text.ok = true;
    text.lines = replyLines(command, args, values);
    return text;
}

QString cameraCommandHelp()
{
    return QStringLiteral(
        "  On the open camera, or with --raw N on open raw file N:\n"
        "  get-param ADDRESS ID       read parameter ID (35 and 1016 are texts,\n"
        "                             1013 is 28 bytes, others two numbers)\n"
        "  set-param ADDRESS ID VALUE set parameter ID to VALUE\n"
        "  get-setting ADDRESS ID     read setting ID (3 bits per pixel, 109 width,\n"
        "                             110 height)\n"
        "  set-setting ADDRESS ID VALUE\n"
        "                             change setting ID; the server acknowledges\n"
        "                             whatever the camera decided, so read it back\n"
        "  refresh-settings ADDRESS   apply the settings; prints the bytes of one image\n"
        "  status ADDRESS             the camera's six status words\n"
        "  live ADDRESS on|off        switch live mode\n"
        "  geometry ADDRESS           the streaming geometry (16 words)\n"
        "  reset ADDRESS              reset the camera\n"
        "  flash ADDRESS read|write   settings from or to the camera's flash\n"
        "  calib-progress ADDRESS     progress of the last calibration\n");
}
