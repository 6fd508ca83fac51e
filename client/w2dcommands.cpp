// arvex-client's write-to-disk and save-raw commands.
#include "w2dcommands.h"

#include "commandnames.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

namespace {

constexpr int kWatchIntervalMs = 500;
constexpr int kMaxWatchSeconds = 86400;

const QStringList &optionNames()
{
    static const QStringList names = {
        QStringLiteral("--folder"), QStringLiteral("--volumes"), QStringLiteral("--options"),
        QStringLiteral("--watch"),  QStringLiteral("--from"),    QStringLiteral("--count"),
        QStringLiteral("--folder-chars")};
    return names;
}

// The options each action takes.
QStringList optionsOf(W2dInvocation::Action action)
{
    switch (action) {
    case W2dInvocation::Action::Start:
        return {QStringLiteral("--folder"), QStringLiteral("--volumes"), QStringLiteral("--options")};
    case W2dInvocation::Action::Progress:
        return {QStringLiteral("--watch")};
    case W2dInvocation::Action::SaveRaw:
        return {QStringLiteral("--from"), QStringLiteral("--count"), QStringLiteral("--folder-chars")};
    case W2dInvocation::Action::Stop:
        break;
    }
    return {};
}

std::optional<uint32_t> unsignedIn(const QString &text, uint32_t high)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,10}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const qulonglong v = text.toULongLong();
    if (v > high)
        return std::nullopt;
    return uint32_t(v);
}

// "D,E", "DE" or "d e": letters A..Z, at most four.
std::optional<QString> volumeLetters(const QString &text, QString *error)
{
    QString letters;
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char(' '))
            continue;
        const QChar upper = c.toUpper();
        if (upper < QLatin1Char('A') || upper > QLatin1Char('Z')) {
            *error = QStringLiteral("--volumes: \"%1\" is not a list of volume letters such as D,E")
                         .arg(text);
            return std::nullopt;
        }
        letters.append(upper);
    }
    if (letters.isEmpty() || letters.size() > 4) {
        *error = QStringLiteral("--volumes: give one to four volume letters, not \"%1\"").arg(text);
        return std::nullopt;
    }
    return letters;
}

QString actionName(W2dInvocation::Action action)
{
    switch (action) {
    case W2dInvocation::Action::Start:
        return QStringLiteral("w2d start");
    case W2dInvocation::Action::Stop:
        return QStringLiteral("w2d stop");
    case W2dInvocation::Action::Progress:
        return QStringLiteral("w2d progress");
    case W2dInvocation::Action::SaveRaw:
        break;
    }
    return QStringLiteral("save-raw");
}

QString commaSeparated(const QString &letters)
{
    QStringList parts;
    for (const QChar c : letters)
        parts << QString(c);
    return parts.join(QLatin1Char(','));
}

QString stateText(uint32_t state)
{
    switch (state) {
    case 0:
        return QStringLiteral("recording");
    case 1:
        return QStringLiteral("stopped");
    case 2:
        return QStringLiteral("write error");
    case 3:
        return QStringLiteral("volume full");
    default:
        return QStringLiteral("state %1").arg(state);
    }
}

QString progressLine(const std::array<uint32_t, 4> &p)
{
    return QStringLiteral("write-to-disk: %1 frames on %2 volume%3, %4 MiB, %5")
        .arg(p[0])
        .arg(p[1])
        .arg(p[1] == 1 ? QString() : QStringLiteral("s"))
        .arg(p[2])
        .arg(stateText(p[3]));
}

}  // namespace

bool isW2dCommand(const QString &command)
{
    return command == QLatin1String("w2d") || command == QLatin1String("save-raw");
}

bool isW2dOption(const QString &option)
{
    return optionNames().contains(option);
}

std::optional<W2dInvocation> parseW2dCommand(const QString &command, const QStringList &words,
                                             QString *error)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return std::nullopt;
    };
    W2dInvocation inv;
    QStringList rest = words;
    QStringList positional;
    QList<QPair<QString, QString>> options;
    while (!rest.isEmpty()) {
        const QString word = rest.takeFirst();
        if (isW2dOption(word)) {
            if (rest.isEmpty())
                return fail(QStringLiteral("%1 needs a value").arg(word));
            options.append({word, rest.takeFirst()});
        } else {
            positional << word;
        }
    }

    if (command == QLatin1String("w2d")) {
        if (positional.isEmpty())
            return fail(QStringLiteral("w2d needs start, stop or progress"));
        const QString action = positional.takeFirst();
        if (action == QLatin1String("start"))
            inv.action = W2dInvocation::Action::Start;
        else if (action == QLatin1String("stop"))
            inv.action = W2dInvocation::Action::Stop;
        else if (action == QLatin1String("progress"))
            inv.action = W2dInvocation::Action::Progress;
        else
            return fail(QStringLiteral("w2d: \"%1\" is not start, stop or progress").arg(action));
    } else {
        inv.action = W2dInvocation::Action::SaveRaw;
        if (positional.isEmpty())
            return fail(QStringLiteral("save-raw needs the path of the file to write"));
        inv.path = positional.takeFirst();
    }
    if (!positional.isEmpty())
        return fail(QStringLiteral("%1: unexpected argument \"%2\"").arg(command, positional.first()));

    const QStringList allowed = optionsOf(inv.action);
    for (const auto &option : options) {
        const QString &name = option.first;
        const QString &value = option.second;
        if (!allowed.contains(name))
            return fail(QStringLiteral("%1 takes no %2").arg(actionName(inv.action), name));
        if (name == QLatin1String("--folder")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--folder: the folder path is empty"));
            inv.start.folder = value;
        } else if (name == QLatin1String("--volumes")) {
            QString why;
            const auto letters = volumeLetters(value, &why);
            if (!letters)
                return fail(why);
            inv.start.volumes = *letters;
        } else if (name == QLatin1String("--options")) {
            const auto v = parseWireNumber(value);
            if (!v)
                return fail(QStringLiteral("--options: \"%1\" is not a 32-bit number").arg(value));
            inv.start.options = *v;
        } else if (name == QLatin1String("--watch")) {
            const auto v = unsignedIn(value, kMaxWatchSeconds);
            if (!v || *v == 0)
                return fail(QStringLiteral("--watch: \"%1\" is not a number of seconds from 1 to %2")
                                .arg(value)
                                .arg(kMaxWatchSeconds));
            inv.watchSeconds = int(*v);
        } else {
            const uint32_t high = name == QLatin1String("--folder-chars")
                                      ? uint32_t(kPathRequestFieldSize - 1)
                                      : 0xFFFFFFFFu;
            const auto v = unsignedIn(value, high);
            if (!v)
                return fail(QStringLiteral("%1: \"%2\" is not a number from 0 to %3")
                                .arg(name, value)
                                .arg(high));
            if (name == QLatin1String("--from"))
                inv.from = *v;
            else if (name == QLatin1String("--count"))
                inv.count = *v;
            else
                inv.folderChars = *v;
        }
    }
    if (inv.action == W2dInvocation::Action::Start && inv.start.folder.isEmpty())
        return fail(QStringLiteral("w2d start needs --folder PATH"));

    // The path must fit the request: said now, not after a round trip.
    const QString path = inv.action == W2dInvocation::Action::Start ? inv.start.folder : inv.path;
    if (inv.action == W2dInvocation::Action::Start || inv.action == W2dInvocation::Action::SaveRaw) {
        uint8_t scratch[kPathRequestSize];
        QString why;
        if (!buildPathRequest(scratch, 0, CMD_NOP, nullptr, 0, path, &why))
            return fail(QStringLiteral("%1: %2").arg(command, why));
    }
    return inv;
}

ClientError runW2dCommand(ClientSession &session, const W2dInvocation &inv, QTextStream &out)
{
    ClientError error;
    switch (inv.action) {
    case W2dInvocation::Action::Start:
        if (!startWriteToDisk(session, inv.start, &error))
            return error;
        out << "write-to-disk started into \"" << inv.start.folder << "\" on "
            << (inv.start.volumes.isEmpty()
                    ? QStringLiteral("the server's first usable volume")
                    : QStringLiteral("volume%1 %2")
                          .arg(inv.start.volumes.size() == 1 ? QString() : QStringLiteral("s"))
                          .arg(commaSeparated(inv.start.volumes)))
            << "\n";
        break;
    case W2dInvocation::Action::Stop: {
        if (!stopWriteToDisk(session, &error))
            return error;
        out << "write-to-disk stopped (a recording whose first file is under 1 MiB is removed)\n";
        if (const auto progress = readW2dProgress(session, &error))
            out << progressLine(*progress) << "\n";
        else
            return error;
        break;
    }
    case W2dInvocation::Action::Progress: {
        QDeadlineTimer deadline(qint64(inv.watchSeconds) * 1000);
        for (;;) {
            const auto progress = readW2dProgress(session, &error);
            if (!progress)
                return error;
            out << progressLine(*progress) << "\n";
            out.flush();
            // Watching ends with the deadline, or when the recording has ended.
            if (inv.watchSeconds == 0 || deadline.hasExpired() || (*progress)[3] != 0)
                break;
            QThread::msleep(qMin<qint64>(kWatchIntervalMs, qMax<qint64>(deadline.remainingTime(), 1)));
        }
        break;
    }
    case W2dInvocation::Action::SaveRaw:
        if (!saveRawFile(session, inv.path, inv.from, inv.count, inv.folderChars, &error))
            return error;
        out << "save-raw: the server took \"" << inv.path << "\" (frames from " << inv.from << ", "
            << (inv.count == 0 ? QStringLiteral("to the end") : QStringLiteral("%1 frames").arg(inv.count))
            << "); it does not report the driver's result, its log does\n";
        break;
    }
    out.flush();
    return ClientError();
}

QString w2dCommandHelp()
{
    return QStringLiteral(
        "  w2d start ADDRESS --folder PATH [--volumes D,E] [--options N]\n"
        "                             record to disk on up to four of the server's\n"
        "                             volumes (default: its first), into PATH.00.raw\n"
        "                             below each volume\n"
        "  w2d stop ADDRESS           stop recording; recordings whose first file is\n"
        "                             under 1 MiB are removed\n"
        "  w2d progress ADDRESS [--watch SECONDS]\n"
        "                             frames written so far (with --watch: every half\n"
        "                             second until the time is up or recording ends)\n"
        "  save-raw ADDRESS PATH [--from A] [--count C] [--folder-chars N]\n"
        "                             save frames A.. (C frames, 0: to the end) of the\n"
        "                             camera's memory recording as a raw file; the first\n"
        "                             N characters of PATH name the folder that becomes\n"
        "                             the server's download folder\n"
        "                             Paths lie inside the server's recording volumes\n"
        "                             (\"E:\\Rec\\x\" names volume E); others are refused.\n");
}
