// SIGINT and SIGTERM as a Qt signal: the handler only writes a byte to a
// pipe; a QSocketNotifier reads it on the event loop.
#ifndef ARVEX_APP_STOPSIGNALS_H
#define ARVEX_APP_STOPSIGNALS_H

#include <QObject>
#include <QString>

class QSocketNotifier;

class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~StopSignals() override;

    // One instance per process.
    bool install(QString *error);

signals:
    void stopRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
    bool installed = false;
};

#endif
