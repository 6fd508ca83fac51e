// arvex-client's image commands: "read" (an image to a PNG file, with
// resends of lost segments), "grab start|stop", "trigger-index" and
// "calibrate". clientcli.cpp hands over the words after the address
// (options as "--name", "value" pairs) and the exit code comes back.
#ifndef ARVEX_CLIENT_IMAGECOMMANDS_H
#define ARVEX_CLIENT_IMAGECOMMANDS_H

#include "clientsession.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <optional>

// read, grab, trigger-index, calibrate.
bool isImageCommand(const QString &command);
// --source, --index, --packet-size, --out, --rounds, --frames, --trigger.
bool isImageOption(const QString &option);

struct ImageInvocation {
    enum class Action { Read, GrabStart, GrabStop, TriggerIndex, Calibrate };
    Action action = Action::Read;
    uint32_t source = 0;
    uint32_t index = 0;
    uint32_t packetSize = 0;  // 0: the reader's default
    int rounds = -1;          // resend rounds; < 0: the reader's default
    QString outPath;
    uint32_t frames = 0;
    uint32_t trigger = 0;
    uint32_t calibrationMode = 0;
};

std::optional<ImageInvocation> parseImageCommand(const QString &command, const QStringList &words,
                                                 QString *error);

// Runs the command on the camera server, or on raw file `raw` of the
// raw-file server. Results on `out`, the progress bar and errors on `err`.
int runImageCommand(ClientSession &session, const ImageInvocation &invocation,
                    std::optional<int> raw, QTextStream &out, QTextStream &err);

// The lines of these commands in --help.
QString imageCommandHelp();

#endif
