// The windowed program from start to the end of its event loop: application
// object, single instance, command-line overrides, splash, main window.
#include "desktop.h"

#include "drivertable.h"
#include "headless.h"
#include "mainwindow.h"
#include "qrmapplication.h"
#include "settingsadapters.h"
#include "singleinstanceguard.h"
#include "stopsignals.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QSplashScreen>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kSplashMs = 2000;

void printError(const QString &text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// Platforms on which nobody could see or dismiss a message box.
bool platformShowsWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The settings a command line replaces for this run; false on an address
// that no adapter has.
bool overridesFrom(const RunOptions &options, SettingsOverrides *overrides, QString *error)
{
    if (options.listen) {
        const uint32_t ip = textToIp(*options.listen);
        AdapterInfo adapter;
        if (!isUsableAdapterAddress(ip) || !lookUpAdapterByAddress(ip, &adapter)) {
            *error = QStringLiteral("no network adapter has the address %1").arg(*options.listen);
            return false;
        }
        overrides->netAdapter = QString::fromLatin1(adapter.name);
    }
    overrides->netPerformance = options.netPerformance;
    overrides->imageFormat = options.imageFormat;
    overrides->downloadFolder = options.downloadFolder;
    return true;
}

}  // namespace

int runDesktop(int &argc, char **argv, const RunOptions &options)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QRMApplication app(argc, argv);
    app.initApplication();

    SingleInstanceGuard guard(SingleInstanceGuard::programKey(options.portBase));
    if (!guard.created) {
        const QString text = QStringLiteral("Another instance of Arvex control is already running.");
        printError(text);
        if (platformShowsWindows())
            app.showMessageBox(text, MsgWarning, nullptr);
        guard.release();
        return kExitClean;
    }

    if (options.driverPath) {
        DriverTable table;
        QString reason;
        if (!loadDriverLibrary(*options.driverPath, &table, &reason)) {
            printError(QStringLiteral("arvex-remote: cannot use the driver %1: %2")
                           .arg(*options.driverPath, reason));
            return kExitBadSetup;
        }
        setActiveDriver(table);
    }

    SettingsOverrides overrides;
    QString error;
    if (!overridesFrom(options, &overrides, &error)) {
        printError(QStringLiteral("arvex-remote: %1").arg(error));
        return kExitBadSetup;
    }
    app.setOverrides(overrides);

    StopSignals stopSignals;
    if (!stopSignals.install(&error))
        printError(QStringLiteral("arvex-remote: %1; Ctrl-C will not save the settings").arg(error));

    MainWindowOptions windowOptions;
    windowOptions.portBase = options.portBase;
    windowOptions.volumes = options.volumes;
    windowOptions.logEnabled = options.log;
    windowOptions.quitApplication = true;
    if (!options.driverPath)
        windowOptions.simCameras = options.simCameras;

    auto *window = new MainWindow(windowOptions);
    // A signal quits exactly as Exit does: servers stopped, settings saved.
    QObject::connect(&stopSignals, &StopSignals::stopRequested, window, &MainWindow::requestExit);

    const QPixmap pixmap(QStringLiteral(":/res/splash.png"));
    auto *splash = new QSplashScreen(QPixmap());
    window->setWindowOpacity(0.0);
    window->show();
    splash->setPixmap(pixmap.scaled(app.scalePixels(pixmap.width()),
                                    app.scalePixels(pixmap.height()), Qt::IgnoreAspectRatio,
                                    Qt::SmoothTransformation));
    splash->show();
    QTimer::singleShot(kSplashMs, splash, &QSplashScreen::close);
    QTimer::singleShot(kSplashMs, window, &MainWindow::ShowMainWindow);

    const int result = app.exec();

    delete splash;
    delete window;
    guard.release();
    return result;
}
