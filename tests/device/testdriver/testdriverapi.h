// Test driver library (libarvex_test_driver.so): what its fake camera
// answers, and the control functions that tests resolve from it to count
// calls, see arguments and force statuses. Header-only helper for tests.
//
// The fake camera: one camera, device id 0x2A, 64 x 48 at 8 bits, no raw
// files. Every operation returns 0 unless a result is forced, except
// getStreamingGeometry, which returns kTestDriverGeometryStatus (forced
// to 0 it fills bytes 1..64). Live and
// memory images are the 8-bit test pattern v = (x + 2y + 3n) mod 256 (n: live
// counter from 0, or the memory index); setSetting keeps 3/109/110 (size clipped to 64 x 48).
// startMemoryGrab records a frames at
// once; its callback fires at stopMemoryGrab (output a). calibrateDevice
// reports done 1..4 of 4 synchronously; setWriteToDisk with start != 0
// reports (1, 2, 3, 4) once, synchronously. getStatus gives 1..6,
// getTriggerIndex (a, b, 3, 30), getDeviceValue id + 1000, querySetting
// first + second, getParameter 14/15/19 -> 64/48/0 (second output 0), 35 and
// 1016 texts "Arvex test camera" / "Arvex test driver 1.0", 1013 bytes 1..28.
#ifndef ARVEX_TESTS_TESTDRIVERAPI_H
#define ARVEX_TESTS_TESTDRIVERAPI_H

#include <QLibrary>
#include <QString>

#include <cstdint>

constexpr uint32_t kTestDriverCameraId = 0x2A;
constexpr uint32_t kTestDriverWidth = 64;
constexpr uint32_t kTestDriverHeight = 48;
constexpr uint32_t kTestDriverBitsPerPixel = 8;
constexpr uint32_t kTestDriverGeometryStatus = 5;

extern "C" {
// Calls of an operation since the last reset.
typedef unsigned (*ArvexTestDriverCallCount)(unsigned ordinal);
// Back to the start: counts, arguments, forced results and camera state.
typedef void (*ArvexTestDriverReset)(void);
// The integer arguments of the last call of an ordinal, in order, the handle
// included (pointers as their address); 0 past the last argument.
typedef uint64_t (*ArvexTestDriverLastArgument)(unsigned ordinal, unsigned index);
// A copy of the record of the last call: 16/29 descriptor (40), 33 path
// (with NUL), 36 option text of options 6 and 7 (with NUL), 50 write-to-disk
// record (780), 73 PIV record (36). Copies at most `capacity` bytes and
// returns the record's size (0 when none).
typedef unsigned (*ArvexTestDriverLastRecord)(unsigned ordinal, uint8_t *out, unsigned capacity);
// From now on the ordinal returns `status` (and, for a non-zero status, does
// nothing else). getStreamingGeometry is forced to 5 from the start.
typedef void (*ArvexTestDriverForceResult)(unsigned ordinal, uint32_t status);
}

// Resolves the control functions from the library at `path` (the same
// instance --driver loads: QLibrary shares one per process).
struct TestDriverControl {
    ArvexTestDriverCallCount callCount = nullptr;
    ArvexTestDriverReset reset = nullptr;
    ArvexTestDriverLastArgument lastArgument = nullptr;
    ArvexTestDriverLastRecord lastRecord = nullptr;
    ArvexTestDriverForceResult forceResult = nullptr;

    bool load(const QString &path)
    {
        QLibrary library(path);
        if (!library.load())
            return false;
        callCount = reinterpret_cast<ArvexTestDriverCallCount>(library.resolve("arvex_test_driver_call_count"));
        reset = reinterpret_cast<ArvexTestDriverReset>(library.resolve("arvex_test_driver_reset"));
        lastArgument = reinterpret_cast<ArvexTestDriverLastArgument>(
            library.resolve("arvex_test_driver_last_argument"));
        lastRecord = reinterpret_cast<ArvexTestDriverLastRecord>(
            library.resolve("arvex_test_driver_last_record"));
        forceResult = reinterpret_cast<ArvexTestDriverForceResult>(
            library.resolve("arvex_test_driver_force_result"));
        // Left loaded on purpose: the function pointers point into it.
        return callCount && reset && lastArgument && lastRecord && forceResult;
    }
};

#endif
