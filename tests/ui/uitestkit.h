// Test helpers for the windows: a fixed adapter list, the simulated driver
// with camera records of the test's choosing, and an isolated settings store.
#ifndef ARVEX_TESTS_UI_UITESTKIT_H
#define ARVEX_TESTS_UI_UITESTKIT_H

#include "adapters.h"
#include "qrmapplication.h"

#include <QByteArray>
#include <QString>
#include <QTest>
#include <QVector>

#include <cstdint>

namespace uitest {

constexpr uint32_t kLoopbackA = 0x7F000001;  // 127.0.0.1
constexpr uint32_t kLoopbackB = 0x7F000002;  // 127.0.0.2

AdapterInfo adapter(const char *name, const char *description, uint32_t ip,
                    const char *mac = "02:00:00:00:00:01", uint32_t mtu = 1500);
// "lo-a" on 127.0.0.1 and "lo-b" on 127.0.0.2.
QVector<AdapterInfo> loopbackPair();
// Every window and the settings check see exactly these adapters.
void useAdapters(const QVector<AdapterInfo> &list);

QByteArray cameraRecord(uint32_t model, uint32_t serial, uint32_t microblaze, uint32_t word24,
                        uint32_t firmware);
// The driver reports these cameras (none: no camera attached).
void useCameras(const QVector<QByteArray> &records);
// The last raw-file folder (driver option 6) the program handed over.
QByteArray lastRawFolder();

// Points the settings store and the data folders at a fresh temporary
// folder; call before the application object exists.
void isolateStorage();
// Installs the driver above; call once the application object exists.
void installDriver();

}  // namespace uitest

// A Qt Test main on a QRMApplication with isolated settings and the test driver.
#define ARVEX_UI_TEST_MAIN(TestClass)                                                  \
    int main(int argc, char **argv)                                                    \
    {                                                                                  \
        uitest::isolateStorage();                                                      \
        QRMApplication app(argc, argv);                                                \
        app.initApplication();                                                         \
        uitest::installDriver();                                                       \
        TestClass test;                                                                \
        return QTest::qExec(&test, argc, argv);                                        \
    }

#endif
