// Both headless servers on 127.0.0.1 for end-to-end tests, on the first free
// port base from a test program's own seed.
#ifndef ARVEX_TESTS_LOOPBACKSERVERS_H
#define ARVEX_TESTS_LOOPBACKSERVERS_H

#include "headless.h"

#include <QString>

#include <memory>

// The error when the machine has no adapter with 127.0.0.1: tests skip then.
extern const char kNoLoopbackAdapter[];

// Sets options->headless, listen and portBase; tries 40 bases from `seed`,
// two ports apart, skipping only bases whose ports are taken. Null with a
// reason in `error` when no adapter has 127.0.0.1 or a start failed otherwise.
std::unique_ptr<HeadlessServers> startLoopbackServers(RunOptions *options, quint16 seed,
                                                      QString *error);

#endif
