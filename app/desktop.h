// The windowed program: application object, single instance, splash, main
// window. Built only when the desktop part is present (ARVEX_HAVE_DESKTOP).
#ifndef ARVEX_APP_DESKTOP_H
#define ARVEX_APP_DESKTOP_H

#include "runoptions.h"

// Runs the desktop program to the end of its event loop; returns the exit code.
int runDesktop(int &argc, char **argv, const RunOptions &options);

#endif
