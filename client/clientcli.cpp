// arvex-client's commands on the client library.
#include "clientcli.h"

#include "cameracommands.h"
#include "clientsession.h"
#include "commandnames.h"
#include "imagecommands.h"
#include "replytext.h"
#include "w2dcommands.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

constexpr uint32_t kDefaultMemoryMb = 256;

const QStringList &commandList()
{
    static const QStringList commands = {
        QStringLiteral("discover"), QStringLiteral("raw-list"), QStringLiteral("raw-info"),
        QStringLiteral("open"),     QStringLiteral("close"),    QStringLiteral("nop"),
        QStringLiteral("command")};
    return commands;
}

std::optional<long long> decimalIn(const QString &text, long long low, long long high)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]{1,10}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const long long v = text.toLongLong();
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

bool isStrictIPv4(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (m.captured(i).toInt() > 255)
            return false;
    }
    return true;
}

int exitFor(ClientErrorKind kind)
{
    switch (kind) {
    case ClientErrorKind::None:
        return ExitOk;
    case ClientErrorKind::TimedOut:
        return ExitTimedOut;
    case ClientErrorKind::ErrorResult:
        return ExitErrorResult;
    case ClientErrorKind::NotAllowed:
        return ExitNotAllowed;
    case ClientErrorKind::BadReply:
    case ClientErrorKind::Network:
        break;
    }
    return ExitNetwork;
}

}  // namespace

int clientExitFor(ClientErrorKind kind)
{
    return exitFor(kind);
}

namespace {

int reportError(const ClientSession &session, QTextStream &err)
{
    err << "arvex-client: " << session.lastError().message << "\n";
    err.flush();
    return exitFor(session.lastError().kind);
}

void printLines(QTextStream &out, const QStringList &lines, const char *indent = "  ")
{
    for (const QString &line : lines)
        out << indent << line << "\n";
}

Channel channelOf(const ClientInvocation &inv)
{
    return inv.raw ? Channel::RawFile : Channel::Camera;
}

uint8_t selectorOf(const ClientInvocation &inv)
{
    return inv.raw ? uint8_t(*inv.raw) : 0;
}

QString serverText(const ClientSession &session, Channel channel)
{
    return QStringLiteral("%1 port %2")
        .arg(session.options().server.toString())
        .arg(session.serverPort(channel));
}

int runDiscover(ClientSession &session, QTextStream &out, QTextStream &err)
{
    // Both servers are asked at once: a silent one (nothing to serve) then
    // costs one time-out, not two.
    uint8_t cameraRequest[kHeaderSize];
    uint8_t rawRequest[kHeaderSize];
    const uint16_t cameraId = session.nextRequestId();
    const uint16_t rawId = session.nextRequestId();
    buildEnumerateRequest(cameraRequest, cameraId);
    buildEnumerateRequest(rawRequest, rawId);
    if (!session.send(Channel::Camera, cameraRequest, kHeaderSize) ||
        !session.send(Channel::RawFile, rawRequest, kHeaderSize))
        return reportError(session, err);

    const auto camera = session.discoveryFrom(
        session.waitForReply(Channel::Camera, cameraId, PKT_ENUMERATE),
        QStringLiteral("camera enumeration"));
    const ClientError cameraError = session.lastError();
    const auto raw = session.discoveryFrom(
        session.waitForReply(Channel::RawFile, rawId, PKT_ENUMERATE),
        QStringLiteral("raw-file enumeration"));
    const ClientError rawError = session.lastError();

    out << "camera server " << serverText(session, Channel::Camera) << ":\n";
    if (camera) {
        printLines(out, deviceLines(*camera, false));
        out << "  " << identityLine(camera->identity) << "\n";
    } else {
        out << "  no camera (" << cameraError.message << ")\n";
    }
    out << "raw-file server " << serverText(session, Channel::RawFile) << ":\n";
    if (raw) {
        out << "  raw files: " << raw->rawCount << "\n";
        out << "  " << identityLine(raw->identity) << "\n";
    } else {
        out << "  no raw files (" << rawError.message << ")\n";
    }
    out.flush();
    if (camera || raw)
        return ExitOk;
    err << "arvex-client: neither server answered; a server stays silent when it has nothing "
           "to serve, so there may be no server, no camera and no raw file\n";
    err.flush();
    return exitFor(cameraError.kind != ClientErrorKind::TimedOut ? cameraError.kind
                                                                  : rawError.kind);
}

// The raw-file server answers information requests from its last
// enumeration, so every raw-file command enumerates first.
std::optional<int32_t> enumerateRaw(ClientSession &session, QTextStream &err)
{
    const auto count = session.enumerateRawFiles();
    if (!count) {
        if (session.lastError().kind == ClientErrorKind::TimedOut) {
            err << "arvex-client: " << session.lastError().message
                << "; the raw-file server stays silent when it has no raw files\n";
            err.flush();
        } else {
            reportError(session, err);
        }
    }
    return count;
}

int runRawList(ClientSession &session, QTextStream &out, QTextStream &err)
{
    const auto count = enumerateRaw(session, err);
    if (!count)
        return exitFor(session.lastError().kind);
    out << "raw files on " << serverText(session, Channel::RawFile) << ": " << *count << "\n";
    for (int32_t i = 0; i < *count; ++i) {
        const auto info = session.rawInfo(i);
        if (!info)
            return reportError(session, err);
        out << "raw file " << i << ":\n";
        printLines(out, deviceLines(*info, true));
    }
    out.flush();
    return ExitOk;
}

int runRawInfo(ClientSession &session, const ClientInvocation &inv, QTextStream &out,
               QTextStream &err)
{
    if (!enumerateRaw(session, err))
        return exitFor(session.lastError().kind);
    const auto info = session.rawInfo(*inv.rawIndex);
    if (!info)
        return reportError(session, err);
    out << "raw file " << *inv.rawIndex << ":\n";
    printLines(out, deviceLines(*info, true));
    out << "  " << identityLine(info->identity) << "\n";
    out.flush();
    return ExitOk;
}

int runOpen(ClientSession &session, const ClientInvocation &inv, QTextStream &out,
            QTextStream &err)
{
    // The server opens only what its last enumeration found.
    if (inv.raw) {
        if (!enumerateRaw(session, err))
            return exitFor(session.lastError().kind);
        if (!session.openRawFile(*inv.raw))
            return reportError(session, err);
        out << "opened raw file " << *inv.raw << "\n";
    } else {
        if (!session.enumerateCameras()) {
            if (session.lastError().kind == ClientErrorKind::TimedOut) {
                err << "arvex-client: " << session.lastError().message
                    << "; the camera server stays silent when it has no camera\n";
                err.flush();
                return ExitTimedOut;
            }
            return reportError(session, err);
        }
        const uint32_t memory = inv.memoryMb.value_or(kDefaultMemoryMb);
        if (!session.openCamera(memory))
            return reportError(session, err);
        out << "opened the camera (" << memory << " MB of camera memory)\n";
    }
    out.flush();
    return ExitOk;
}

int runCommand(ClientSession &session, const ClientInvocation &inv, QTextStream &out,
               QTextStream &err)
{
    const auto reply = session.command(channelOf(inv), inv.subCommand, inv.args, selectorOf(inv));
    if (!reply) {
        if (session.lastError().kind == ClientErrorKind::TimedOut &&
            subCommandName(inv.subCommand).isEmpty()) {
            err << "arvex-client: " << session.lastError().message << "; sub-command "
                << inv.subCommand << " is not one of the protocol's, and a server does not "
                << "answer those\n";
            err.flush();
            return ExitTimedOut;
        }
        return reportError(session, err);
    }
    printLines(out, commandReplyLines(*reply, inv.subCommand, inv.args), "");
    out.flush();
    if (reply->header.resultOrSelector != RESULT_OK)
        return reportError(session, err);
    return ExitOk;
}

int runCameraCommand(ClientSession &session, const ClientInvocation &inv, QTextStream &out,
                     QTextStream &err)
{
    const auto reply = session.command(channelOf(inv), inv.subCommand, inv.args, selectorOf(inv));
    if (!reply)
        return reportError(session, err);
    if (reply->header.resultOrSelector != RESULT_OK)
        return reportError(session, err);
    const CameraCommandText text = describeCameraAnswer(inv.command, inv.subCommand, inv.args, *reply);
    if (!text.ok) {
        err << "arvex-client: " << text.error << "\n";
        err.flush();
        return ExitNetwork;
    }
    printLines(out, text.lines, "");
    out.flush();
    return ExitOk;
}

}  // namespace

bool parseClientArguments(const QStringList &arguments, ClientInvocation *out, QString *error)
{
    ClientInvocation inv;
    QStringList positional;
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };

    QStringList w2dOptions;
    QStringList imageOptions;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("-")) || arg == QLatin1String("-") ||
            (arg.size() > 1 && (arg.at(1).isDigit()))) {
            positional << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            inv.help = true;
            continue;
        }
        QString value;
        const int equals = arg.indexOf(QLatin1Char('='));
        bool haveValue = false;
        if (equals > 2) {
            value = arg.mid(equals + 1);
            arg = arg.left(equals);
            haveValue = true;
        }
        if (isW2dOption(arg)) {  // checked with its command, below
            if (!haveValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("%1 needs a value").arg(arg));
                value = arguments.at(++i);
            }
            w2dOptions << arg << value;
            continue;
        }
        if (isImageOption(arg)) {  // checked with its command, below
            if (!haveValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("%1 needs a value").arg(arg));
                value = arguments.at(++i);
            }
            imageOptions << arg << value;
            continue;
        }
        static const QStringList withValue = {QStringLiteral("--port-base"),
                                              QStringLiteral("--timeout"), QStringLiteral("--raw"),
                                              QStringLiteral("--memory")};
        if (!withValue.contains(arg))
            return fail(QStringLiteral("unknown option %1 (see --help)").arg(arguments.at(i)));
        if (!haveValue) {
            if (i + 1 >= arguments.size())
                return fail(QStringLiteral("%1 needs a value").arg(arg));
            value = arguments.at(++i);
        }
        if (arg == QLatin1String("--port-base")) {
            const auto v = decimalIn(value, 1, 65534);
            if (!v)
                return fail(QStringLiteral("--port-base: \"%1\" is not a number from 1 to 65534")
                                .arg(value));
            inv.portBase = quint16(*v);
        } else if (arg == QLatin1String("--timeout")) {
            const auto v = decimalIn(value, 1, 600000);
            if (!v)
                return fail(QStringLiteral("--timeout: \"%1\" is not a number of milliseconds "
                                           "from 1 to 600000")
                                .arg(value));
            inv.timeoutMs = int(*v);
        } else if (arg == QLatin1String("--raw")) {
            const auto v = decimalIn(value, 0, 65535);
            if (!v)
                return fail(
                    QStringLiteral("--raw: \"%1\" is not a raw-file number from 0 to 65535")
                        .arg(value));
            inv.raw = int(*v);
        } else {
            const auto v = decimalIn(value, 0, 0xFFFFFFFFLL);
            if (!v)
                return fail(QStringLiteral("--memory: \"%1\" is not a number of megabytes")
                                .arg(value));
            inv.memoryMb = uint32_t(*v);
        }
    }

    if (inv.help) {
        *out = inv;
        return true;
    }
    if (positional.isEmpty())
        return fail(QStringLiteral("no command given (see --help)"));
    inv.command = positional.takeFirst();
    if (!commandList().contains(inv.command) && !isCameraCommand(inv.command) &&
        !isW2dCommand(inv.command) && !isImageCommand(inv.command))
        return fail(QStringLiteral("unknown command \"%1\" (see --help)").arg(inv.command));
    // "w2d start ADDRESS": the action may come before the address.
    if ((inv.command == QLatin1String("w2d") || inv.command == QLatin1String("grab")) &&
        positional.size() >= 2 &&
        !isStrictIPv4(positional.at(0)))
        positional.swapItemsAt(0, 1);
    if (!w2dOptions.isEmpty() && !isW2dCommand(inv.command))
        return fail(QStringLiteral("%1 takes no %2").arg(inv.command, w2dOptions.first()));
    if (!imageOptions.isEmpty() && !isImageCommand(inv.command))
        return fail(QStringLiteral("%1 takes no %2").arg(inv.command, imageOptions.first()));
    if (positional.isEmpty())
        return fail(QStringLiteral("%1: the server's IPv4 address is missing").arg(inv.command));
    inv.address = positional.takeFirst();
    if (!isStrictIPv4(inv.address))
        return fail(QStringLiteral("\"%1\" is not an IPv4 address").arg(inv.address));

    const QString &c = inv.command;
    const bool takesRaw = c == QLatin1String("open") || c == QLatin1String("close") ||
                          c == QLatin1String("nop") || c == QLatin1String("command") ||
                          isCameraCommand(c) || isImageCommand(c);
    if (inv.raw && !takesRaw)
        return fail(QStringLiteral("%1 takes no --raw").arg(c));
    if (inv.memoryMb && c != QLatin1String("open"))
        return fail(QStringLiteral("%1 takes no --memory").arg(c));
    if (inv.memoryMb && inv.raw)
        return fail(QStringLiteral("open: --memory is for the camera, --raw for a raw file; "
                                   "give one"));

    if (c == QLatin1String("raw-info")) {
        if (positional.size() != 1)
            return fail(QStringLiteral("raw-info needs one raw-file index"));
        const auto v = decimalIn(positional.at(0), 0, 0x7FFFFFFF);
        if (!v)
            return fail(QStringLiteral("raw-info: \"%1\" is not a raw-file index")
                            .arg(positional.at(0)));
        inv.rawIndex = int32_t(*v);
    } else if (c == QLatin1String("command")) {
        if (positional.isEmpty())
            return fail(QStringLiteral("command needs a sub-command (number or name)"));
        const auto sub = subCommandFromText(positional.takeFirst());
        if (!sub)
            return fail(QStringLiteral("command: unknown sub-command (see --help)"));
        inv.subCommand = *sub;
        if (positional.size() > kClientMaxCommandArgs)
            return fail(QStringLiteral("command: at most %1 arguments").arg(kClientMaxCommandArgs));
        for (const QString &text : positional) {
            const auto v = parseWireNumber(text);
            if (!v)
                return fail(QStringLiteral("command: \"%1\" is not a 32-bit number").arg(text));
            inv.args << *v;
        }
    } else if (isW2dCommand(c)) {
        inv.words = positional + w2dOptions;
        QString why;
        if (!parseW2dCommand(c, inv.words, &why))
            return fail(why);
    } else if (isImageCommand(c)) {
        inv.words = positional + imageOptions;
        QString why;
        if (!parseImageCommand(c, inv.words, &why))
            return fail(why);
    } else if (isCameraCommand(c)) {
        QString why;
        if (!parseCameraCommand(c, positional, &inv.subCommand, &inv.args, &why))
            return fail(why);
    } else if (!positional.isEmpty()) {
        return fail(QStringLiteral("%1: unexpected argument \"%2\"").arg(c, positional.at(0)));
    }

    *out = inv;
    return true;
}

QString clientHelp()
{
    QString names;
    int count = 0;
    const SubCommandName *table = subCommandNames(&count);
    QString line = QStringLiteral("   ");
    for (int i = 0; i < count; ++i) {
        const QString entry = QStringLiteral(" %1=%2").arg(table[i].name).arg(table[i].number);
        if (line.size() + entry.size() > 78) {
            names += line + QLatin1Char('\n');
            line = QStringLiteral("   ");
        }
        line += entry;
    }
    names += line + QLatin1Char('\n');

    return QStringLiteral(
               "Usage: arvex-client [--port-base N] [--timeout MS] COMMAND ADDRESS [ARGS]\n"
               "Talks to an Arvex Remote Control server at the IPv4 ADDRESS: the camera\n"
               "server on the port base, the raw-file server on the port base + 1.\n"
               "\n"
               "Commands:\n"
               "  discover ADDRESS           ask both servers who they are: the camera's\n"
               "                             description and the number of raw files\n"
               "  raw-list ADDRESS           list every raw file with its information\n"
               "  raw-info ADDRESS N         information on raw file N (index from 0)\n"
               "  open ADDRESS [--memory MB] open the camera, allocating MB of camera memory\n"
               "                             (default 256)\n"
               "  open ADDRESS --raw N       open raw file N on the raw-file server\n"
               "  close ADDRESS [--raw N]    close the camera, or raw file N\n"
               "  nop ADDRESS [--raw N]      a no-operation round trip\n"
               "  command ADDRESS SUB [ARGS...] [--raw N]\n"
               "                             send any sub-command (number or name) with\n"
               "                             32-bit arguments (decimal, 0x hex, or negative;\n"
               "                             the first goes to offset 16); prints the\n"
               "                             acknowledgement or the reply's values\n") +
           cameraCommandHelp() + w2dCommandHelp() + imageCommandHelp() +
           QStringLiteral(
               "Raw-file commands enumerate the raw files first; open enumerates the\n"
               "cameras first (a server opens only what its last enumeration found).\n"
               "A server does not answer when it has nothing to report (no camera, no raw\n"
               "file, a refused open, an unknown sub-command): that shows as a time-out.\n"
               "\n"
               "Options:\n"
               "  --port-base N   port of the camera server (1 to 65534, default 1030)\n"
               "  --timeout MS    how long to wait for each reply (default 1000)\n"
               "  --raw N         address raw file N on the raw-file server (0 to 65535)\n"
               "  --memory MB     camera memory to allocate at open\n"
               "  --help, -h      show this text\n"
               "\n"
               "Sub-command names:\n") +
           names +
           QStringLiteral(
               "\n"
               "Exit status: 0 success; 1 no reply within the time-out; 2 bad command line;\n"
               "3 the server answered with an error result; 4 socket error or malformed\n"
               "reply; 5 address refused (ARVEX_CLIENT_LOOPBACK_ONLY=1, set by the tests,\n"
               "allows 127.0.0.0/8 only); 6 the output file could not be written.\n");
}

int runClient(const ClientInvocation &inv, QTextStream &out, QTextStream &err)
{
    SessionOptions options;
    options.server = QHostAddress(inv.address);
    options.portBase = inv.portBase;
    options.timeoutMs = inv.timeoutMs;
    options.loopbackOnly = inv.loopbackOnly;
    ClientSession session;
    if (!session.start(options))
        return reportError(session, err);
    if (session.receiveBufferCut()) {
        err << "arvex-client: note: the system limit cut the receive buffer to "
            << session.receiveBufferBytes() << " bytes (asked " << options.receiveBufferBytes
            << "); raise net.core.rmem_max for large images\n";
        err.flush();
    }

    const QString &c = inv.command;
    if (c == QLatin1String("discover"))
        return runDiscover(session, out, err);
    if (c == QLatin1String("raw-list"))
        return runRawList(session, out, err);
    if (c == QLatin1String("raw-info"))
        return runRawInfo(session, inv, out, err);
    if (c == QLatin1String("open"))
        return runOpen(session, inv, out, err);
    if (c == QLatin1String("close")) {
        if (!session.close(channelOf(inv), selectorOf(inv)))
            return reportError(session, err);
        out << (inv.raw ? QStringLiteral("closed raw file %1\n").arg(*inv.raw)
                        : QStringLiteral("closed the camera\n"));
        out.flush();
        return ExitOk;
    }
    if (c == QLatin1String("nop")) {
        if (!session.nop(channelOf(inv), selectorOf(inv)))
            return reportError(session, err);
        out << "nop acknowledged by " << serverText(session, channelOf(inv)) << "\n";
        out.flush();
        return ExitOk;
    }
    if (isCameraCommand(c))
        return runCameraCommand(session, inv, out, err);
    if (isImageCommand(c)) {
        const auto parsed = parseImageCommand(c, inv.words, nullptr);
        if (!parsed)
            return ExitUsage;
        return runImageCommand(session, *parsed, inv.raw, out, err);
    }
    if (isW2dCommand(c)) {
        QString why;
        const auto parsed = parseW2dCommand(c, inv.words, &why);
        if (!parsed) {
            err << "arvex-client: " << why << "\n";
            err.flush();
            return ExitUsage;
        }
        const ClientError error = runW2dCommand(session, *parsed, out);
        if (error.kind == ClientErrorKind::None)
            return ExitOk;
        err << "arvex-client: " << error.message << "\n";
        err.flush();
        return exitFor(error.kind);
    }
    return runCommand(session, inv, out, err);
}
