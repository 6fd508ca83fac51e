// Takes the single-instance guard for the key in argv[1], says "created" or
// "refused" on stdout, and holds the guard until stdin closes.
#include "singleinstanceguard.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    SingleInstanceGuard guard(QString::fromLocal8Bit(argv[1]));
    std::puts(guard.created ? "created" : "refused");
    std::fflush(stdout);
    if (guard.created) {
        while (std::getchar() != EOF) {
        }
    }
    return 0;
}
