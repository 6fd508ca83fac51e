// arvex-remote: the windowed program, or both servers headless.
#include "headless.h"
#include "runoptions.h"

#ifdef ARVEX_HAVE_DESKTOP
#include "desktop.h"
#endif

#include <QStringList>

#include <cstdio>

namespace {

void printText(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

#ifdef ARVEX_HAVE_DESKTOP
// A platform named explicitly counts as a display (offscreen included).
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
#endif

}  // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    RunOptions options;
    QString error;
    if (!parseRunOptions(arguments, &options, &error)) {
        printText(stderr, QStringLiteral("arvex-remote: %1\n").arg(error));
        return kExitBadSetup;
    }
    if (options.help) {
        printText(stdout, runOptionsHelp());
        return kExitClean;
    }
    if (options.headless)
        return runHeadless(argc, argv, options);
#ifdef ARVEX_HAVE_DESKTOP
    if (displayAvailable())
        return runDesktop(argc, argv, options);
    printText(stderr, QStringLiteral("arvex-remote: no display; running headless\n"));
#else
    printText(stderr, QStringLiteral("arvex-remote: built without windows; running headless\n"));
#endif
    return runHeadless(argc, argv, options);
}
