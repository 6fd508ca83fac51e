// The image commands of arvex-client on the client library.
#include "imagecommands.h"

#include "clientcli.h"
#include "imagedecode.h"
#include "imagereader.h"
#include "pngwriter.h"

#include <QElapsedTimer>
#include <QRegularExpression>

namespace {

// Shorter transfers finish before a bar would tell anything.
constexpr uint32_t kProgressMinSegments = 1000;
constexpr int kProgressBarWidth = 40;
constexpr int kProgressIntervalMs = 100;

std::optional<uint32_t> unsignedIn(const QString &text, uint32_t low, uint32_t high)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,10}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const qulonglong v = text.toULongLong();
    if (v < low || v > high)
        return std::nullopt;
    return uint32_t(v);
}

const char *formatName(uint32_t format)
{
    switch (format) {
    case IMAGE_FORMAT_RAW:
        return "raw";
    case IMAGE_FORMAT_FAST_JPEG:
        return "JPEG in parts";
    default:
        return "JPEG";
    }
}

int failWith(QTextStream &err, const ClientError &error)
{
    err << "arvex-client: " << error.message << "\n";
    err.flush();
    return clientExitFor(error.kind);
}

// A bar on stderr, redrawn at most every kProgressIntervalMs.
class ProgressBar
{
public:
    explicit ProgressBar(QTextStream &stream) : err(stream) {}
    ~ProgressBar() { finish(); }
    void update(uint32_t received, uint32_t total)
    {
        if (total < kProgressMinSegments)
            return;
        if (shown && received < total && clock.elapsed() < kProgressIntervalMs)
            return;
        if (!clock.isValid())
            clock.start();
        clock.restart();
        shown = true;
        const int filled = int(uint64_t(received) * kProgressBarWidth / total);
        err << "\r[" << QString(filled, QLatin1Char('#'))
            << QString(kProgressBarWidth - filled, QLatin1Char('.')) << "] "
            << int(uint64_t(received) * 100 / total) << "% " << received << "/" << total
            << " segments";
        err.flush();
    }
    void finish()
    {
        if (shown)
            err << "\n";
        err.flush();
        shown = false;
    }

private:
    QTextStream &err;
    QElapsedTimer clock;
    bool shown = false;
};

int runRead(ClientSession &session, const ImageInvocation &inv, Channel channel,
            uint8_t selector, QTextStream &out, QTextStream &err)
{
    ImageReadOptions options;
    options.channel = channel;
    options.selector = selector;
    options.source = inv.source;
    options.index = inv.index;
    if (inv.packetSize)
        options.packetSize = inv.packetSize;
    if (inv.rounds >= 0)
        options.maxResendRounds = inv.rounds;
    ProgressBar bar(err);
    options.progress = [&bar](uint32_t received, uint32_t total) { bar.update(received, total); };
    ImageReader reader(session);
    const auto image = reader.read(options);
    bar.finish();
    const TransferCounters &c = session.counters();
    const QString counters =
        QStringLiteral("segments received %1, missing %2, resend requests %3, resent %4, "
                       "duplicates %5")
            .arg(c.segmentsReceived)
            .arg(c.segmentsMissing)
            .arg(c.resendRequests)
            .arg(c.segmentsResent)
            .arg(c.duplicates);
    if (!image) {
        err << counters << "\n";
        return failWith(err, reader.lastError());
    }
    const ImageDescription &d = image->description;
    QString why;
    const QImage decoded = decodeTransferredImage(*image, &why);
    if (decoded.isNull()) {
        err << counters << "\n";
        return failWith(err, ClientError{ClientErrorKind::BadReply,
                                         QStringLiteral("the image cannot be decoded: %1").arg(why),
                                         0});
    }
    if (!writePng(decoded, inv.outPath, &why)) {
        err << "arvex-client: " << why << "\n";
        err.flush();
        return ExitOutput;
    }
    const SegmentLayout layout = segmentLayout(d.sendSize, options.packetSize);
    out << "read " << d.width << " x " << d.height << " at " << d.bitsPerPixel << " bits ("
        << formatName(d.format) << ", " << d.sendSize << " bytes in " << layout.count
        << " segments) to " << inv.outPath << "\n"
        << counters << "\n";
    out.flush();
    return ExitOk;
}

}  // namespace

bool isImageCommand(const QString &command)
{
    static const QStringList commands = {QStringLiteral("read"), QStringLiteral("grab"),
                                         QStringLiteral("trigger-index"),
                                         QStringLiteral("calibrate")};
    return commands.contains(command);
}

bool isImageOption(const QString &option)
{
    static const QStringList options = {
        QStringLiteral("--source"), QStringLiteral("--index"), QStringLiteral("--packet-size"),
        QStringLiteral("--out"),    QStringLiteral("--rounds"), QStringLiteral("--frames"),
        QStringLiteral("--trigger")};
    return options.contains(option);
}

std::optional<ImageInvocation> parseImageCommand(const QString &command, const QStringList &words,
                                                 QString *error)
{
    auto fail = [error](const QString &message) -> std::optional<ImageInvocation> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    ImageInvocation inv;
    QStringList plain;
    QStringList given;
    for (int i = 0; i < words.size(); ++i) {
        if (!isImageOption(words.at(i))) {
            plain << words.at(i);
            continue;
        }
        const QString name = words.at(i);
        const QString value = i + 1 < words.size() ? words.at(++i) : QString();
        given << name;
        std::optional<uint32_t> v;
        if (name == QLatin1String("--out")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--out needs a file name"));
            inv.outPath = value;
            continue;
        }
        if (name == QLatin1String("--source")) {
            v = unsignedIn(value, 0, 2);
            if (!v)
                return fail(QStringLiteral("--source: \"%1\" is not 0 (live), 1 (memory) or 2 "
                                           "(by index)")
                                .arg(value));
            inv.source = *v;
        } else if (name == QLatin1String("--packet-size")) {
            v = unsignedIn(value, kMinPacketSize, kMaxPacketSize);
            if (!v)
                return fail(QStringLiteral("--packet-size: \"%1\" is not a number of bytes from "
                                           "%2 to %3")
                                .arg(value)
                                .arg(kMinPacketSize)
                                .arg(kMaxPacketSize));
            inv.packetSize = *v;
        } else if (name == QLatin1String("--rounds")) {
            v = unsignedIn(value, 0, 100);
            if (!v)
                return fail(QStringLiteral("--rounds: \"%1\" is not a number from 0 to 100")
                                .arg(value));
            inv.rounds = int(*v);
        } else {
            v = unsignedIn(value, 0, 0xFFFFFFFFu);
            if (!v)
                return fail(QStringLiteral("%1: \"%2\" is not an unsigned 32-bit number")
                                .arg(name, value));
            if (name == QLatin1String("--index"))
                inv.index = *v;
            else if (name == QLatin1String("--frames"))
                inv.frames = *v;
            else
                inv.trigger = *v;
        }
    }

    QStringList allowed;
    if (command == QLatin1String("read")) {
        inv.action = ImageInvocation::Action::Read;
        allowed = QStringList{QStringLiteral("--source"), QStringLiteral("--index"),
                              QStringLiteral("--packet-size"), QStringLiteral("--out"),
                              QStringLiteral("--rounds")};
        if (inv.outPath.isEmpty())
            return fail(QStringLiteral("read needs --out FILE.png"));
    } else if (command == QLatin1String("grab")) {
        if (plain.isEmpty())
            return fail(QStringLiteral("grab needs start or stop"));
        const QString action = plain.takeFirst();
        if (action == QLatin1String("start")) {
            inv.action = ImageInvocation::Action::GrabStart;
            allowed = QStringList{QStringLiteral("--frames"), QStringLiteral("--trigger")};
        } else if (action == QLatin1String("stop")) {
            inv.action = ImageInvocation::Action::GrabStop;
        } else {
            return fail(QStringLiteral("grab: \"%1\" is neither start nor stop").arg(action));
        }
    } else if (command == QLatin1String("trigger-index")) {
        inv.action = ImageInvocation::Action::TriggerIndex;
    } else {
        inv.action = ImageInvocation::Action::Calibrate;
        if (plain.isEmpty())
            return fail(QStringLiteral("calibrate needs a mode"));
        const auto mode = unsignedIn(plain.takeFirst(), 0, 0xFFFFFFFFu);
        if (!mode)
            return fail(QStringLiteral("calibrate: the mode is not an unsigned 32-bit number"));
        inv.calibrationMode = *mode;
    }
    for (const QString &name : given) {
        if (!allowed.contains(name))
            return fail(QStringLiteral("%1 takes no %2").arg(command, name));
    }
    if (!plain.isEmpty())
        return fail(QStringLiteral("%1: unexpected argument \"%2\"").arg(command, plain.first()));
    return inv;
}

int runImageCommand(ClientSession &session, const ImageInvocation &inv, std::optional<int> raw,
                    QTextStream &out, QTextStream &err)
{
    const Channel channel = raw ? Channel::RawFile : Channel::Camera;
    const uint8_t selector = raw ? uint8_t(*raw) : 0;
    if (inv.action == ImageInvocation::Action::Read)
        return runRead(session, inv, channel, selector, out, err);

    uint32_t sub = CMD_MEMORY_STOP_GRAB;
    QVector<uint32_t> args;
    switch (inv.action) {
    case ImageInvocation::Action::GrabStart:
        sub = CMD_MEMORY_START_GRAB;
        args = {inv.frames, inv.trigger};
        break;
    case ImageInvocation::Action::TriggerIndex:
        sub = CMD_GET_TRIGGER_INDEX;
        break;
    case ImageInvocation::Action::Calibrate:
        sub = CMD_CALIBRATE;
        args = {inv.calibrationMode};
        break;
    default:
        break;
    }
    const auto reply = session.command(channel, sub, args, selector);
    if (!reply || reply->header.resultOrSelector != RESULT_OK)
        return failWith(err, session.lastError());
    const bool wantsValues = sub == CMD_MEMORY_STOP_GRAB || sub == CMD_GET_TRIGGER_INDEX;
    const CommandReply values = reply->command();
    if (wantsValues == reply->isAck() || (wantsValues && values.subCommand != sub))
        return failWith(err, ClientError{ClientErrorKind::BadReply,
                                         QStringLiteral("sub-command %1: an answer of %2 bytes "
                                                        "of the wrong form")
                                             .arg(sub)
                                             .arg(reply->bytes.size()),
                                         0});
    switch (inv.action) {
    case ImageInvocation::Action::GrabStart:
        out << "memory grab started: " << inv.frames << " frames (0: until the memory is full), "
            << "trigger position " << inv.trigger << "\n";
        break;
    case ImageInvocation::Action::GrabStop:
        out << "memory grab stopped: " << values.value(0) << " frames recorded\n";
        break;
    case ImageInvocation::Action::TriggerIndex:
        out << "frames recorded " << values.value(0) << ", trigger position " << values.value(1)
            << ", trigger frame " << values.value(2) << " at " << values.value(3) << " ms\n";
        break;
    default:
        out << "calibration started (mode " << inv.calibrationMode
            << "); calib-progress reports how far it is\n";
        break;
    }
    out.flush();
    return ExitOk;
}

QString imageCommandHelp()
{
    return QStringLiteral(
        "  read ADDRESS --out FILE.png [--source 0|1|2] [--index K] [--packet-size B]\n"
        "       [--rounds R] [--raw N]\n"
        "                             read one image to a PNG: source 0 a live image,\n"
        "                             1 and 2 frame K of the memory recording (or of raw\n"
        "                             file N); packets of B bytes (default 1472); lost\n"
        "                             segments asked for again up to R times (default 8);\n"
        "                             JPEG transfers are decoded; prints the counters\n"
        "  grab start ADDRESS [--frames A] [--trigger B]\n"
        "                             record A frames into camera memory (0: until full)\n"
        "  grab stop ADDRESS          stop recording; prints the frames recorded\n"
        "  trigger-index ADDRESS      frames recorded, trigger position and frame\n"
        "  calibrate ADDRESS MODE     start a calibration (see calib-progress)\n");
}
