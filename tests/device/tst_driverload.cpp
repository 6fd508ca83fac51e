// Loading a driver library with --driver: the test library fills the table
// and is reached through CameraDevice; each broken library is refused with a
// message that names what is missing.
#include "cameradevice.h"
#include "drivertable.h"
#include "testdriverapi.h"

#include <QtTest>

namespace {

void *lookupWithoutTwo(unsigned ordinal)
{
    if (ordinal == 16 || ordinal == 73)
        return nullptr;
    return simulatedDriverTable().openDevice && ordinal == 5
               ? reinterpret_cast<void *>(simulatedDriverTable().openDevice)
               : reinterpret_cast<void *>(&lookupWithoutTwo);   // any non-null
}

}  // namespace

class TestDriverLoad : public QObject
{
    Q_OBJECT

    TestDriverControl control;

private slots:
    void initTestCase() { QVERIFY(control.load(QStringLiteral(ARVEX_TEST_DRIVER_PATH))); }
    void init() { control.reset(); }

    void loadsAndServesThroughCameraDevice()
    {
        DriverTable table;
        QString error;
        QVERIFY2(loadDriverLibrary(QStringLiteral(ARVEX_TEST_DRIVER_PATH), &table, &error),
                 qPrintable(error));
        uint8_t infos[4 * ARVEX_DEVICE_INFO_SIZE];
        uint32_t count = 4;
        QCOMPARE(table.enumerateDevices(infos, &count, ARVEX_ENUM_CAMERAS), 0u);
        QCOMPARE(count, 1u);

        CameraDevice device(table);
        QCOMPARE(device.open(kTestDriverCameraId), 0u);
        QCOMPARE(control.callCount(5), 1u);
        QCOMPARE(control.callCount(8), 1u);
        QCOMPARE(control.lastArgument(5, 0), uint64_t(kTestDriverCameraId));
        QCOMPARE(device.imageBytes(), kTestDriverWidth * kTestDriverHeight);
        uint8_t geometry[ARVEX_STREAMING_GEOMETRY_SIZE];
        QCOMPARE(device.getStreamingGeometry(geometry), kTestDriverGeometryStatus);
        QCOMPARE(device.setParameter(5, 7, 7), 0u);
        QCOMPARE(control.lastArgument(40, 2), uint64_t(7));
        control.forceResult(16, 9);
        std::vector<uint8_t> image(64 * 48);
        QCOMPARE(device.captureLiveImage(image.data(), 5000), 9u);
        device.close();
        QCOMPARE(control.callCount(6), 1u);
        control.reset();
        QCOMPARE(control.callCount(5), 0u);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("named");
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/libnothing.so")
                                      << QStringList({"/nonexistent/libnothing.so"});
        QTest::newRow("missing symbol") << QStringLiteral(ARVEX_TEST_DRIVER_NO_SYMBOL_PATH)
                                        << QStringList({"arvex_driver_operation", "no_symbol"});
        QTest::newRow("missing operation") << QStringLiteral(ARVEX_TEST_DRIVER_MISSING_OP_PATH)
                                           << QStringList({"getStatus (ordinal 41)"});
    }

    void refusals()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, named);
        DriverTable table;
        table.getStatus = simulatedDriverTable().getStatus;
        QString error;
        QVERIFY(!loadDriverLibrary(path, &table, &error));
        for (const QString &part : named)
            QVERIFY2(error.contains(part), qPrintable(error));
        QVERIFY(table.getStatus == simulatedDriverTable().getStatus);   // left untouched
        QVERIFY(table.openDevice == nullptr);
    }

    void fillNamesEveryMissingOperation()
    {
        DriverTable table;
        QString error;
        QVERIFY(!fillDriverTable(&lookupWithoutTwo, &table, &error));
        QVERIFY2(error.contains("captureLiveImage (ordinal 16)"), qPrintable(error));
        QVERIFY2(error.contains("setPivConfig (ordinal 73)"), qPrintable(error));
        QVERIFY(table.openDevice == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestDriverLoad)
#include "tst_driverload.moc"
