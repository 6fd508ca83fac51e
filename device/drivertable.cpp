// Filling the driver table from a lookup function or a shared library.
#include "drivertable.h"

#include "sim/simdriver.h"

#include <QLibrary>
#include <QStringList>

#include <mutex>

namespace {

// Every operation once: ordinal, name, how to store the looked-up pointer.
#define ARVEX_DRIVER_OPERATIONS(X)                 \
    X(2, initializeDriver)                         \
    X(3, shutdownDriver)                           \
    X(4, enumerateDevices)                         \
    X(5, openDevice)                               \
    X(6, closeDevice)                              \
    X(7, getParameter)                             \
    X(8, readDefaultSettings)                      \
    X(9, readCameraSettings)                       \
    X(10, refreshCameraSettings)                   \
    X(12, validateCameraSettings)                  \
    X(13, querySetting)                            \
    X(14, getSetting)                              \
    X(15, setSetting)                              \
    X(16, captureLiveImage)                        \
    X(19, startMemoryGrab)                         \
    X(20, stopMemoryGrab)                          \
    X(21, readImageByIndex)                        \
    X(22, getTriggerIndex)                         \
    X(24, calibrateDevice)                         \
    X(25, deviceAction25)                          \
    X(27, resetDevice)                             \
    X(29, readMemoryImage)                         \
    X(30, deviceValue30)                           \
    X(33, saveToFile)                              \
    X(34, readSettingsFromFlash)                   \
    X(35, writeSettingsToFlash)                    \
    X(36, setDriverOption)                         \
    X(40, setParameter)                            \
    X(41, getStatus)                               \
    X(47, deviceAction47)                          \
    X(50, setWriteToDisk)                          \
    X(71, setLive)                                 \
    X(73, setPivConfig)                            \
    X(76, getDeviceValue)                          \
    X(77, setDeviceValue)                          \
    X(80, getStreamingGeometry)

#define ARVEX_ORDINAL(ordinal, name) ordinal,
const unsigned kOrdinals[] = {ARVEX_DRIVER_OPERATIONS(ARVEX_ORDINAL)};
#undef ARVEX_ORDINAL

// The table in use; written before servers start, read everywhere after.
std::mutex activeMutex;  // guards activeTable and activeSet
DriverTable activeTable;
bool activeSet = false;

}  // namespace

const unsigned *driverOrdinals(int *count)
{
    *count = int(sizeof(kOrdinals) / sizeof(kOrdinals[0]));
    return kOrdinals;
}

const char *driverOperationName(unsigned ordinal)
{
#define ARVEX_NAME(number, name) \
    if (ordinal == number)       \
        return #name;
    ARVEX_DRIVER_OPERATIONS(ARVEX_NAME)
#undef ARVEX_NAME
    return nullptr;
}

bool fillDriverTable(ArvexDriverOperationLookup lookup, DriverTable *table, QString *error)
{
    DriverTable filled;
    QStringList missing;
#define ARVEX_FILL(number, name)                                                     \
    {                                                                                \
        void *op = lookup(number);                                                   \
        if (!op)                                                                     \
            missing << QStringLiteral("%1 (ordinal %2)").arg(QLatin1String(#name)).arg(number); \
        filled.name = reinterpret_cast<decltype(filled.name)>(op);                   \
    }
    ARVEX_DRIVER_OPERATIONS(ARVEX_FILL)
#undef ARVEX_FILL
    if (!missing.isEmpty()) {
        if (error)
            *error = QStringLiteral("driver is missing operation%1: %2")
                         .arg(missing.size() > 1 ? "s" : "", missing.join(QStringLiteral(", ")));
        return false;
    }
    *table = filled;
    return true;
}

bool loadDriverLibrary(const QString &path, DriverTable *table, QString *error)
{
    // The QLibrary object may go: without unload() the library stays loaded
    // for the life of the process, and the table points into it.
    QLibrary library(path);
    if (!library.load()) {
        if (error)
            *error = QStringLiteral("cannot load driver library %1: %2").arg(path, library.errorString());
        return false;
    }
    auto lookup = reinterpret_cast<ArvexDriverOperationLookup>(
        library.resolve(ARVEX_DRIVER_LOOKUP_SYMBOL));
    if (!lookup) {
        if (error)
            *error = QStringLiteral("driver library %1 does not export %2")
                         .arg(path, QLatin1String(ARVEX_DRIVER_LOOKUP_SYMBOL));
        library.unload();
        return false;
    }
    QString missing;
    if (!fillDriverTable(lookup, table, &missing)) {
        if (error)
            *error = QStringLiteral("driver library %1: %2").arg(path, missing);
        library.unload();
        return false;
    }
    return true;
}

const DriverTable &simulatedDriverTable()
{
    static const DriverTable table = [] {
        DriverTable t;
        QString error;
        const bool complete = fillDriverTable(&simDriverOperation, &t, &error);
        Q_ASSERT_X(complete, "simulatedDriverTable", qPrintable(error));
        Q_UNUSED(complete);
        return t;
    }();
    return table;
}

const DriverTable &activeDriver()
{
    std::lock_guard<std::mutex> lock(activeMutex);
    if (!activeSet) {
        activeTable = simulatedDriverTable();
        activeSet = true;
    }
    return activeTable;
}

void setActiveDriver(const DriverTable &table)
{
    std::lock_guard<std::mutex> lock(activeMutex);
    activeTable = table;
    activeSet = true;
}
