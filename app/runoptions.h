// Command-line options of arvex-remote, parsed by a pure function.
//
// PUBLIC CONTRACT (used by the headless runner and the desktop program).
// Options override the stored settings for one run and are never saved.
#ifndef ARVEX_APP_RUNOPTIONS_H
#define ARVEX_APP_RUNOPTIONS_H

#include "recordingvolumes.h"

#include <QString>
#include <QStringList>

#include <optional>

struct RunOptions {
    bool headless = false;
    bool help = false;
    bool log = false;
    std::optional<QString> listen;          // IPv4 address of the adapter to serve on
    quint16 portBase = 1030;
    int simCameras = 1;                     // 0..4
    std::optional<QString> downloadFolder;
    RecordingVolumes volumes;               // --volume L=DIR, repeatable
    std::optional<QString> driverPath;
    std::optional<int> imageFormat;         // 0..2
    std::optional<int> netPerformance;      // 0..1000000 microseconds
};

// Parses argv[1..]. On a bad option or value returns false with a message
// naming it in `error`.
bool parseRunOptions(const QStringList &arguments, RunOptions *options, QString *error);
// The --help text.
QString runOptionsHelp();

#endif
