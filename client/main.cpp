// arvex-client: the command-line client of the Arvex remote-control protocol.
#include "clientcli.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    ClientInvocation invocation;
    QString error;
    if (!parseClientArguments(QCoreApplication::arguments(), &invocation, &error)) {
        err << "arvex-client: " << error << "\n";
        return ExitUsage;
    }
    if (invocation.help) {
        out << clientHelp();
        return ExitOk;
    }
    invocation.loopbackOnly = qEnvironmentVariableIntValue("ARVEX_CLIENT_LOOPBACK_ONLY") == 1;
    return runClient(invocation, out, err);
}
