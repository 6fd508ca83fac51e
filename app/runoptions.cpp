// Parsing of arvex-remote's command line, and its --help text.
#include "runoptions.h"

#include <QDir>
#include <QRegularExpression>

namespace {

// A whole number in [low, high], decimal only, so that "1e3" or "12abc"
// never slips through as something else.
std::optional<long long> parseInteger(const QString &text, long long low, long long high)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]{1,10}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const long long v = text.toLongLong(&ok);
    if (!ok || v < low || v > high)
        return std::nullopt;
    return v;
}

bool isDottedQuad(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (m.captured(i).toInt() > 255)
            return false;
    }
    return true;
}

QString absoluteFolder(const QString &dir)
{
    return QDir::cleanPath(QDir(dir).absolutePath());
}

}  // namespace

bool parseRunOptions(const QStringList &arguments, RunOptions *options, QString *error)
{
    RunOptions result;
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };

    for (int i = 1; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        std::optional<QString> inlineValue;
        const int equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 2) {
            inlineValue = name.mid(equals + 1);
            name = name.left(equals);
        }

        // The option's value: after "=" or the next argument.
        auto takeValue = [&](QString *value) {
            if (inlineValue) {
                *value = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size())
                return false;
            *value = arguments.at(++i);
            return true;
        };

        static const QStringList flags = {QStringLiteral("--headless"), QStringLiteral("--log"),
                                          QStringLiteral("--help"), QStringLiteral("-h")};
        if (flags.contains(name)) {
            if (inlineValue)
                return fail(QStringLiteral("%1 takes no value").arg(name));
            if (name == QLatin1String("--headless"))
                result.headless = true;
            else if (name == QLatin1String("--log"))
                result.log = true;
            else
                result.help = true;
            continue;
        }

        static const QStringList withValue = {
            QStringLiteral("--listen"),          QStringLiteral("--port-base"),
            QStringLiteral("--sim-cameras"),     QStringLiteral("--download-folder"),
            QStringLiteral("--volume"),          QStringLiteral("--driver"),
            QStringLiteral("--image-format"),    QStringLiteral("--net-performance")};
        if (!withValue.contains(name))
            return fail(QStringLiteral("unknown option %1 (see --help)").arg(arguments.at(i)));

        QString value;
        if (!takeValue(&value))
            return fail(QStringLiteral("%1 needs a value").arg(name));

        if (name == QLatin1String("--listen")) {
            if (!isDottedQuad(value))
                return fail(QStringLiteral("--listen: \"%1\" is not an IPv4 address").arg(value));
            result.listen = value;
        } else if (name == QLatin1String("--port-base")) {
            const auto v = parseInteger(value, 1, 65534);
            if (!v)
                return fail(QStringLiteral("--port-base: \"%1\" is not a number from 1 to 65534")
                                .arg(value));
            result.portBase = quint16(*v);
        } else if (name == QLatin1String("--sim-cameras")) {
            const auto v = parseInteger(value, 0, 4);
            if (!v)
                return fail(
                    QStringLiteral("--sim-cameras: \"%1\" is not a number from 0 to 4").arg(value));
            result.simCameras = int(*v);
        } else if (name == QLatin1String("--download-folder")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--download-folder needs a folder"));
            result.downloadFolder = absoluteFolder(value);
        } else if (name == QLatin1String("--volume")) {
            static const QRegularExpression pattern(QStringLiteral("^([A-Za-z])=(.+)$"));
            const QRegularExpressionMatch m = pattern.match(value);
            if (!m.hasMatch())
                return fail(
                    QStringLiteral("--volume: \"%1\" is not LETTER=FOLDER (for example D=/mnt/ssd)")
                        .arg(value));
            const QChar letter = m.captured(1).at(0).toUpper();
            for (const RecordingVolume &v : result.volumes) {
                if (v.letter == letter)
                    return fail(QStringLiteral("--volume: letter %1 is given twice").arg(letter));
            }
            result.volumes.append(RecordingVolume{letter, absoluteFolder(m.captured(2))});
        } else if (name == QLatin1String("--driver")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--driver needs the path of a driver library"));
            result.driverPath = value;
        } else if (name == QLatin1String("--image-format")) {
            const auto v = parseInteger(value, 0, 2);
            if (!v)
                return fail(QStringLiteral("--image-format: \"%1\" is not 0, 1 or 2").arg(value));
            result.imageFormat = int(*v);
        } else if (name == QLatin1String("--net-performance")) {
            const auto v = parseInteger(value, 0, 1000000);
            if (!v)
                return fail(
                    QStringLiteral("--net-performance: \"%1\" is not a number from 0 to 1000000")
                        .arg(value));
            result.netPerformance = int(*v);
        }
    }

    *options = result;
    return true;
}

QString runOptionsHelp()
{
    return QStringLiteral(
        "Usage: arvex-remote [OPTIONS]\n"
        "Serves the cameras of this PC over UDP: the camera server on the port base,\n"
        "the raw-file server (recordings on disk) on the port base + 1.\n"
        "\n"
        "Options (they apply to this run only and are never saved):\n"
        "  --headless              run both servers without windows; Ctrl-C or SIGTERM\n"
        "                          stops them cleanly\n"
        "  --listen ADDRESS        serve on the network adapter that has this IPv4\n"
        "                          address (headless default: the first adapter with an\n"
        "                          IPv4 address)\n"
        "  --port-base N           camera server on N, raw-file server on N + 1\n"
        "                          (1 to 65534, default 1030)\n"
        "  --sim-cameras N         cameras of the simulated driver, 0 to 4 (default 1)\n"
        "  --download-folder DIR   folder of the raw files (headless default: the\n"
        "                          \"recordings\" folder in the application data folder)\n"
        "  --volume L=DIR          recording volume with drive letter L for write-to-disk\n"
        "                          and save-to-file; repeatable, each letter once\n"
        "                          (default: D = the download folder)\n"
        "  --driver PATH           camera driver library to use instead of the simulator\n"
        "  --image-format 0|1|2    0 uncompressed, 1 fast JPEG, 2 JPEG (default 0)\n"
        "  --net-performance N     delay between image segments in microseconds,\n"
        "                          0 to 1000000 (default 4)\n"
        "  --log                   log the servers' activity (headless: to standard\n"
        "                          error)\n"
        "  --help, -h              show this text\n"
        "\n"
        "Without --headless the windowed program starts when it is built in and a\n"
        "display is available; otherwise the servers run headless.\n"
        "\n"
        "Exit status: 0 after a clean stop, 1 when a server could not start (for\n"
        "example its port is taken), 2 for a bad option, a driver that does not load\n"
        "or an address that no adapter has.\n");
}
