// How the fuzz target reports a broken promise of the server: a message on
// stderr, then abort(), which libFuzzer records as a crash with its input.
#ifndef ARVEX_TESTS_FUZZ_FUZZFAILURE_H
#define ARVEX_TESTS_FUZZ_FUZZFAILURE_H

#include <QString>

[[noreturn]] void fuzzFailure(const char *what, const QString &detail);

#endif
