// The application object: names, style sheet, font size, the settings values
// that every window reads and writes, pixel scaling and the styled message box.
#ifndef ARVEX_APP_QRMAPPLICATION_H
#define ARVEX_APP_QRMAPPLICATION_H

#include "settings.h"

#include <QApplication>
#include <QString>

class QMessageBox;
class QWidget;

// Icon flags (one) and button flags (at most one) of showMessageBox.
enum MessageBoxFlags {
    MsgInformation = 0x01,
    MsgWarning = 0x02,
    MsgQuestion = 0x04,
    MsgYesNo = 0x10,
    MsgYesNoCancel = 0x20
};

class QRMApplication : public QApplication
{
public:
    QRMApplication(int &argc, char **argv);

    // Names and version, style sheet, font size for the screen, settings.
    void initApplication();
    // Reads the five settings and checks the stored adapter against the
    // adapters present; overrides set before stay laid over them.
    void loadSettings();
    // Writes the five settings; values that came only from the command line
    // are written as they were loaded.
    void saveSettings();
    // Command-line values for this run only; they replace the fields now.
    void setOverrides(const SettingsOverrides &overrides);

    int scalePixels(int v) const;
    // Runs the box modally and returns the chosen standard button.
    int showMessageBox(const QString &text, int flags, QWidget *parent);
    // The box showMessageBox runs, built but not shown; the caller owns it.
    QMessageBox *createMessageBox(const QString &text, int flags, QWidget *parent) const;

    // The running application object, or null when it is not a QRMApplication.
    static QRMApplication *instance();

    double scaleFactor = 1.0;
    int fontPointSize = 10;
    QString netAdapter;
    int netPerformance = 4;
    int imageFormat = 0;
    bool firstTime = false;
    QString downloadFolder;

private:
    StoredSettings currentValues() const;
    void useValues(const StoredSettings &values);

    StoredSettings loaded;
    SettingsOverrides overrides;
};

// 10 points, or 8 on screens above 96 dpi.
int fontPointSizeForDpi(double logicalDpi);
// The style sheet of the message box for this label point size.
QString messageBoxStyleSheet(int pointSize);

#endif
