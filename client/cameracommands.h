// arvex-client's named commands for parameters, settings and status: their
// words on the command line, the sub-command each sends, and the text of
// the answer. No sockets here; clientcli.cpp sends and reports errors.
#ifndef ARVEX_CLIENT_CAMERACOMMANDS_H
#define ARVEX_CLIENT_CAMERACOMMANDS_H

#include "clientsession.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

// get-param, set-param, get-setting, set-setting, refresh-settings, status,
// live, geometry, reset, flash, calib-progress.
bool isCameraCommand(const QString &command);

// The command's own words (after the address) to the request.
bool parseCameraCommand(const QString &command, const QStringList &words, uint32_t *subCommand,
                        QVector<uint32_t> *args, QString *error);

struct CameraCommandText {
    bool ok = false;    // the answer has the form this command expects
    QStringList lines;  // what to print when ok
    QString error;      // why not, when not ok
};

// The answer to a request that parseCameraCommand built. A non-zero result
// is the caller's to report; this looks at the form.
CameraCommandText describeCameraAnswer(const QString &command, uint32_t subCommand,
                                       const QVector<uint32_t> &args, const Reply &reply);

// The lines of these commands in --help.
QString cameraCommandHelp();

#endif
