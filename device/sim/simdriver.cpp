// Placeholder until the simulated device model lands.
#include "simdriver.h"

extern "C" void *simDriverOperation(unsigned) { return nullptr; }
