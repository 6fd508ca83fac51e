// The log window: the servers' time-stamped lines, following new ones,
// with clearing and the switch for both servers' logging.
#ifndef ARVEX_UI_LOGDIALOG_H
#define ARVEX_UI_LOGDIALOG_H

#include <QDialog>

struct LogDialogUi;

class LogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogDialog(QWidget *parent = nullptr);
    ~LogDialog() override;

    // Adds one HTML line at the end. The view follows only when it was
    // within 200 pixels of the bottom, so a reader who scrolled up keeps
    // his place.
    void appendLog(const QString &html);
    // Ticks the box without emitting enableLog (logging chosen at start).
    void setLogChecked(bool checked);

signals:
    void enableLog(bool enabled);

private:
    LogDialogUi *ui;
};

#endif
