// Reporting a broken promise of the server and stopping.
#include "fuzzfailure.h"

#include <cstdio>
#include <cstdlib>

void fuzzFailure(const char *what, const QString &detail)
{
    std::fprintf(stderr, "fuzz: %s: %s\n", what, detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}
