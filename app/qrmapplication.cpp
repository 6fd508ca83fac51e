// The application object: names, style sheet, font size, the settings values
// that every window reads and writes, pixel scaling and the styled message box.
#include "qrmapplication.h"

#include "settingsadapters.h"

#include <QFile>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSettings>

#include <vector>

static void initResources()
{
    Q_INIT_RESOURCE(arvexres);
}

QRMApplication::QRMApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

void QRMApplication::initApplication()
{
    initResources();
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Arvex Remote Control"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00.06"));

    QFile sheet(QStringLiteral(":/res/cssstyle.qss"));
    if (sheet.open(QIODevice::ReadOnly)) {
        QByteArray bytes = sheet.readAll();
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        setStyleSheet(QString::fromLatin1(bytes));
    }

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        fontPointSize = fontPointSizeForDpi(screen->logicalDotsPerInch());

    loadSettings();
}

void QRMApplication::loadSettings()
{
    {
        QSettings store(settingsOrganization(), settingsApplication());
        loaded = readStoredSettings(store);
    }
    std::vector<AdapterInfo> list(MaxAdapters);
    const int count = listAdapters(list.data(), MaxAdapters);
    loaded.netAdapter = checkedAdapterName(loaded.netAdapter, list.data(), count);
    useValues(applyOverrides(loaded, overrides));
}

void QRMApplication::saveSettings()
{
    QSettings store(settingsOrganization(), settingsApplication());
    writeStoredSettings(store, settingsToSave(loaded, overrides, currentValues()));
}

void QRMApplication::setOverrides(const SettingsOverrides &values)
{
    overrides = values;
    useValues(applyOverrides(currentValues(), overrides));
}

int QRMApplication::scalePixels(int v) const
{
    return int(v * scaleFactor + 0.5) & ~1;
}

int QRMApplication::showMessageBox(const QString &text, int flags, QWidget *parent)
{
    QMessageBox *box = createMessageBox(text, flags, parent);
    const int result = box->exec();
    delete box;
    return result;
}

QMessageBox *QRMApplication::createMessageBox(const QString &text, int flags,
                                              QWidget *parent) const
{
    auto *box = new QMessageBox(parent);
    box->setWindowIcon(QIcon(QStringLiteral(":/res/camera.png")));
    box->setStyleSheet(messageBoxStyleSheet(fontPointSize));
    box->setWindowTitle(QCoreApplication::translate("QRMApplication", "Arvex Remote Control"));
    box->setText(text);

    if (flags & MsgWarning)
        box->setIconPixmap(QPixmap(QStringLiteral(":/res/ico-wrn.png")));
    else if (flags & MsgInformation)
        box->setIconPixmap(QPixmap(QStringLiteral(":/res/ico-inf.png")));
    else if (flags & MsgQuestion)
        box->setIconPixmap(QPixmap(QStringLiteral(":/res/ico-qstn.png")));

    if (flags & MsgYesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
    } else if (flags & MsgYesNoCancel) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
    }
    return box;
}

QRMApplication *QRMApplication::instance()
{
    return dynamic_cast<QRMApplication *>(QCoreApplication::instance());
}

StoredSettings QRMApplication::currentValues() const
{
    StoredSettings values;
    values.netAdapter = netAdapter;
    values.netPerformance = netPerformance;
    values.imageFormat = imageFormat;
    values.firstTime = firstTime;
    values.downloadFolder = downloadFolder;
    return values;
}

void QRMApplication::useValues(const StoredSettings &values)
{
    netAdapter = values.netAdapter;
    netPerformance = values.netPerformance;
    imageFormat = values.imageFormat;
    firstTime = values.firstTime;
    downloadFolder = values.downloadFolder;
}

int fontPointSizeForDpi(double logicalDpi)
{
    return logicalDpi > 96.0 ? 8 : 10;
}

QString messageBoxStyleSheet(int pointSize)
{
    return QStringLiteral("QPushButton { padding: 2px; min-width: 60px; min-height: 25px; }")
        + QStringLiteral(" QLabel { font: normal %1pt \"Helvetica\"; }").arg(pointSize);
}
