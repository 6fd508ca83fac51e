// arvex-client's command line: parsing, --help, and running one command.
#ifndef ARVEX_CLIENT_CLIENTCLI_H
#define ARVEX_CLIENT_CLIENTCLI_H

#include "clienterror.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <optional>

// Exit codes, also listed by --help.
enum ClientExit {
    ExitOk = 0,
    ExitTimedOut = 1,     // no reply within the time-out
    ExitUsage = 2,        // bad command line
    ExitErrorResult = 3,  // the server answered with an error result
    ExitNetwork = 4,      // socket error or malformed reply
    ExitNotAllowed = 5,   // address refused (test runs: outside 127.0.0.0/8)
    ExitOutput = 6        // the output file could not be written
};

struct ClientInvocation {
    bool help = false;
    QString command;  // discover, raw-list, raw-info, open, close, nop, command
    QString address;
    quint16 portBase = 1030;
    int timeoutMs = 1000;
    std::optional<int> raw;             // --raw N
    std::optional<uint32_t> memoryMb;   // --memory MB
    std::optional<int32_t> rawIndex;    // raw-info N
    uint32_t subCommand = 0;            // command SUB
    QVector<uint32_t> args;             // command ARGS
    QStringList words;                  // w2d, save-raw: their words and options
    bool loopbackOnly = false;          // from ARVEX_CLIENT_LOOPBACK_ONLY
};

// `arguments` is the whole argv, program name first.
bool parseClientArguments(const QStringList &arguments, ClientInvocation *out, QString *error);
QString clientHelp();
// The exit code for a kind of client error.
int clientExitFor(ClientErrorKind kind);
// Runs the command: results on `out`, errors on `err`; returns the exit code.
int runClient(const ClientInvocation &invocation, QTextStream &out, QTextStream &err);

#endif
