// The simulated camera driver: the lookup function that fills the driver
// table, exactly as a loaded driver library's would. docs/simulator.md
// describes the device it models.
#ifndef ARVEX_DEVICE_SIM_SIMDRIVER_H
#define ARVEX_DEVICE_SIM_SIMDRIVER_H

extern "C" void *simDriverOperation(unsigned ordinal);

#endif
