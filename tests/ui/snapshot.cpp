// Draws the windows as a person sees them into PNG files, for looking at the
// theme under a real X server: xvfb-run arvex_ui_snapshot OUTPUT_DIR
#include "camerainfotext.h"
#include "logdialog.h"
#include "mainwindow.h"
#include "optionsdialog.h"
#include "uitestkit.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

namespace {

bool save(QWidget *widget, const QDir &dir, const QString &name)
{
    widget->show();
    QTest::qWait(300);
    return widget->grab().save(dir.filePath(name));
}

}  // namespace

int main(int argc, char **argv)
{
    uitest::isolateStorage();
    QRMApplication app(argc, argv);
    app.initApplication();
    uitest::installDriver();
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    uitest::useAdapters(uitest::loopbackPair());
    uitest::useCameras({uitest::cameraRecord(52, 1234567890u, 0x01020A1F, 7, 0x00030102)});
    app.netAdapter = QStringLiteral("lo-a");

    MainWindowOptions options;
    options.portBase = 47900;
    options.logEnabled = true;
    MainWindow window(options);
    window.OnStatusChanged(StatusConnected);
    bool ok = save(&window, dir, QStringLiteral("mainwindow.png"));

    OptionsDialog dialog(app.netAdapter, QStringLiteral("/home/user/recordings"), 4, 1, &window);
    ok &= save(&dialog, dir, QStringLiteral("options.png"));
    dialog.hide();

    LogDialog log(&window);
    log.resize(540, 300);
    for (int i = 0; i < 30; ++i)
        log.appendLog(windowLogLine(i * 1234, QStringLiteral("Enumerate Vantrel - Found 1 cameras.")));
    log.setLogChecked(true);
    ok &= save(&log, dir, QStringLiteral("log.png"));
    log.hide();

    QMessageBox *box = app.createMessageBox(
        QStringLiteral("Another instance of Arvex control is already running."),
        MsgWarning | MsgYesNo, &window);
    ok &= save(box, dir, QStringLiteral("messagebox.png"));
    delete box;

    QMessageBox about(&window);
    about.setTextFormat(Qt::RichText);
    about.setText(aboutText());
    about.setIconPixmap(QPixmap(QStringLiteral(":/res/camera.png")));
    ok &= save(&about, dir, QStringLiteral("about.png"));
    window.requestExit();
    return ok ? 0 : 1;
}
