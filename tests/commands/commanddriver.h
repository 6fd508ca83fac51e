// The server tests' fake driver, extended for the parameter, settings and
// status commands: every operation those commands reach records its call
// with its arguments, and the values it writes are set by the test.
//
// Opening, enumeration and the image-size parameters stay the fake driver's
// (fake::setCameras and friends configure them). Single-threaded: the tests
// feed datagrams on their own thread.
#ifndef ARVEX_TESTS_COMMANDS_COMMANDDRIVER_H
#define ARVEX_TESTS_COMMANDS_COMMANDDRIVER_H

#include "drivertable.h"

#include <QByteArray>
#include <QMap>
#include <QStringList>

#include <cstdint>

namespace cmdfake {

struct Behaviour {
    // Parameters 35, 1013 and 1016: the bytes written at out1, no NUL added.
    QMap<uint32_t, QByteArray> parameterBytes;
    // Numeric parameters: the two outputs; an id missing here fails (status
    // 3) and writes nothing.
    QMap<uint32_t, QPair<uint32_t, uint32_t>> parameters;
    QMap<uint32_t, uint32_t> settings;      // getSetting; missing: fails, writes nothing
    uint32_t queryValue = 0;                // querySetting output
    QMap<uint32_t, uint32_t> deviceValues;  // getDeviceValue; missing: fails
    uint32_t status[6] = {};
    bool geometryFails = false;
    QByteArray geometry;                    // up to 64 bytes written on success
    uint32_t calibrationDone = 0;           // what calibrateDevice reports
    uint32_t calibrationTotal = 0;
};

// Resets the fake driver too.
void reset();
Behaviour &behaviour();

// Calls in order, e.g. "setParameter 17 5 7 7": the name, the device id of
// the handle ("none" for handle 0), the settings record's size word where
// the operation takes the record, then the integer arguments. getParameter
// adds "out2" or "null" for its second output. The image queries
// (getSetting 3, 109, 110) are not listed: their values show in the reply.
// note() adds a line of the test's own, such as a log line, in sequence.
QStringList events();
void clearEvents();
void note(const QString &line);
// The PivConfig of the last setPivConfig.
QByteArray lastPivConfig();

const DriverTable &table();

}  // namespace cmdfake

#endif
