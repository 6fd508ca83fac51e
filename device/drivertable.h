// The driver operations as a table keyed by ordinal, filled by the simulator
// or from a shared library. Only device/ knows this table.
#ifndef ARVEX_DEVICE_DRIVERTABLE_H
#define ARVEX_DEVICE_DRIVERTABLE_H

#include "arvexdriver.h"

#include <QString>

struct DriverTable {
    ArvexInitializeDriver initializeDriver = nullptr;            //  2
    ArvexShutdownDriver shutdownDriver = nullptr;                //  3
    ArvexEnumerateDevices enumerateDevices = nullptr;            //  4
    ArvexOpenDevice openDevice = nullptr;                        //  5
    ArvexCloseDevice closeDevice = nullptr;                      //  6
    ArvexGetParameter getParameter = nullptr;                    //  7
    ArvexSettingsOperation readDefaultSettings = nullptr;        //  8
    ArvexSettingsOperation readCameraSettings = nullptr;         //  9
    ArvexSettingsOperation refreshCameraSettings = nullptr;      // 10
    ArvexSettingsOperation validateCameraSettings = nullptr;     // 12
    ArvexQuerySetting querySetting = nullptr;                    // 13
    ArvexGetSetting getSetting = nullptr;                        // 14
    ArvexSetSetting setSetting = nullptr;                        // 15
    ArvexCaptureLiveImage captureLiveImage = nullptr;            // 16
    ArvexStartMemoryGrab startMemoryGrab = nullptr;              // 19
    ArvexStopMemoryGrab stopMemoryGrab = nullptr;                // 20
    ArvexReadImageByIndex readImageByIndex = nullptr;            // 21
    ArvexGetTriggerIndex getTriggerIndex = nullptr;              // 22
    ArvexCalibrateDevice calibrateDevice = nullptr;              // 24
    ArvexHandleOperation deviceAction25 = nullptr;               // 25
    ArvexHandleOperation resetDevice = nullptr;                  // 27
    ArvexReadMemoryImage readMemoryImage = nullptr;              // 29
    ArvexHandleValueOperation deviceValue30 = nullptr;           // 30
    ArvexSaveToFile saveToFile = nullptr;                        // 33
    ArvexSettingsOperation readSettingsFromFlash = nullptr;      // 34
    ArvexSettingsOperation writeSettingsToFlash = nullptr;       // 35
    ArvexSetDriverOption setDriverOption = nullptr;              // 36
    ArvexSetParameter setParameter = nullptr;                    // 40
    ArvexGetStatus getStatus = nullptr;                          // 41
    ArvexHandleOperation deviceAction47 = nullptr;               // 47
    ArvexSetWriteToDisk setWriteToDisk = nullptr;                // 50
    ArvexHandleValueOperation setLive = nullptr;                 // 71
    ArvexSetPivConfig setPivConfig = nullptr;                    // 73
    ArvexGetDeviceValue getDeviceValue = nullptr;                // 76
    ArvexSetDeviceValue setDeviceValue = nullptr;                // 77
    ArvexGetStreamingGeometry getStreamingGeometry = nullptr;    // 80
};

// The ordinals of every operation, in table order.
const unsigned *driverOrdinals(int *count);
// The operation's name for an ordinal, or null when the ordinal is not one.
const char *driverOperationName(unsigned ordinal);

// Fills every slot from `lookup`. On a missing operation returns false and
// names every missing one in `error`; the table is then left untouched.
bool fillDriverTable(ArvexDriverOperationLookup lookup, DriverTable *table, QString *error);

// Loads a driver library with QLibrary and fills the table from its lookup
// function. The library stays loaded for the life of the process.
bool loadDriverLibrary(const QString &path, DriverTable *table, QString *error);

// The built-in simulated camera driver.
const DriverTable &simulatedDriverTable();

// The driver every CameraDevice and monitor uses: the simulator unless
// setActiveDriver() chose another. Set it before any server starts.
const DriverTable &activeDriver();
void setActiveDriver(const DriverTable &table);

#endif
