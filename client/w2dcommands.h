// arvex-client's recording commands: "w2d start|stop|progress" and
// "save-raw", their words and options, and running them on a session.
// clientcli.cpp hands over the words after the address (options as
// "--name", "value" pairs) and reports a returned error.
#ifndef ARVEX_CLIENT_W2DCOMMANDS_H
#define ARVEX_CLIENT_W2DCOMMANDS_H

#include "clienterror.h"
#include "clientsession.h"
#include "w2drequests.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <optional>

// "w2d" and "save-raw".
bool isW2dCommand(const QString &command);
// --folder, --volumes, --options, --watch, --from, --count, --folder-chars.
bool isW2dOption(const QString &option);

struct W2dInvocation {
    enum class Action { Start, Stop, Progress, SaveRaw };
    Action action = Action::Progress;
    W2dStart start;
    int watchSeconds = 0;  // progress: keep reporting this long (0: once)
    QString path;          // save-raw
    uint32_t from = 0;
    uint32_t count = 0;
    uint32_t folderChars = 0;
};

// The command's words: the action (w2d) or the path (save-raw) and the
// option pairs. Nothing, with `error` set, on a malformed word.
std::optional<W2dInvocation> parseW2dCommand(const QString &command, const QStringList &words,
                                             QString *error);

// Runs a parsed command; results go to `out`. The error kind None means
// success.
ClientError runW2dCommand(ClientSession &session, const W2dInvocation &invocation,
                          QTextStream &out);

// The lines of these commands in --help.
QString w2dCommandHelp();

#endif
