// The recording driver of the command tests.
#include "commanddriver.h"

#include "fakedriver.h"

#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace cmdfake {
namespace {

constexpr uint32_t kStatusFailed = 3;

struct State {
    Behaviour behaviour;
    QStringList events;
    QByteArray piv;
    QHash<ArvexHandle, uint32_t> ids;  // open handles and their device ids
};

State &state()
{
    static State s;
    return s;
}

QString idText(ArvexHandle handle)
{
    if (!handle)
        return QStringLiteral("none");
    const auto it = state().ids.constFind(handle);
    return it == state().ids.constEnd() ? QStringLiteral("unknown") : QString::number(*it);
}

QString recordText(const uint8_t *settings)
{
    return settings ? QString::number(qFromLittleEndian<uint32_t>(settings))
                    : QStringLiteral("nullrecord");
}

void record(const QString &name, ArvexHandle handle, const QString &rest = QString())
{
    QString line = name + QLatin1Char(' ') + idText(handle);
    if (!rest.isEmpty())
        line += QLatin1Char(' ') + rest;
    state().events << line;
}

uint32_t openDevice(uint32_t id, ArvexHandle *handle)
{
    const uint32_t status = fake::table().openDevice(id, handle);
    if (status == 0)
        state().ids.insert(*handle, id);
    return status;
}

uint32_t closeDevice(ArvexHandle handle)
{
    state().ids.remove(handle);
    return fake::table().closeDevice(handle);
}

uint32_t getParameter(ArvexHandle handle, uint32_t id, void *out1, void *out2)
{
    // The image-size and calibration parameters that open asks for.
    if (id == 14 || id == 15 || id == 19)
        return fake::table().getParameter(handle, id, out1, out2);
    record(QStringLiteral("getParameter"), handle,
           QStringLiteral("%1 %2").arg(id).arg(out2 ? "out2" : "null"));
    const Behaviour &b = state().behaviour;
    if (b.parameterBytes.contains(id)) {
        const QByteArray &bytes = b.parameterBytes[id];
        std::memcpy(out1, bytes.constData(), size_t(bytes.size()));
        return 0;
    }
    if (!b.parameters.contains(id) || !out2)
        return kStatusFailed;
    const uint32_t first = b.parameters[id].first;
    const uint32_t second = b.parameters[id].second;
    std::memcpy(out1, &first, sizeof first);
    std::memcpy(out2, &second, sizeof second);
    return 0;
}

uint32_t setParameter(ArvexHandle handle, uint32_t id, uint32_t value1, uint32_t value2)
{
    record(QStringLiteral("setParameter"), handle,
           QStringLiteral("%1 %2 %3").arg(id).arg(value1).arg(value2));
    return 0;
}

template <const char *Name>
uint32_t settingsOperation(ArvexHandle handle, uint8_t *settings)
{
    record(QLatin1String(Name), handle, recordText(settings));
    return 0;
}

constexpr char kReadDefault[] = "readDefaultSettings";
constexpr char kReadCamera[] = "readCameraSettings";
constexpr char kRefresh[] = "refreshCameraSettings";
constexpr char kValidate[] = "validateCameraSettings";
constexpr char kReadFlash[] = "readSettingsFromFlash";
constexpr char kWriteFlash[] = "writeSettingsToFlash";

uint32_t readDefaultSettings(ArvexHandle handle, uint8_t *settings)
{
    record(QLatin1String(kReadDefault), handle, recordText(settings));
    // Open relies on it: success only for a record that carries its size.
    return fake::table().readDefaultSettings(handle, settings);
}

uint32_t querySetting(ArvexHandle handle, uint8_t *settings, uint32_t first, uint32_t second,
                      uint32_t *out)
{
    record(QStringLiteral("querySetting"), handle,
           QStringLiteral("%1 %2 %3").arg(recordText(settings)).arg(first).arg(second));
    *out = state().behaviour.queryValue;
    return 0;
}

uint32_t getSetting(ArvexHandle handle, uint8_t *settings, uint32_t id, uint32_t *out)
{
    if (id != 3 && id != 109 && id != 110)
        record(QStringLiteral("getSetting"), handle,
               QStringLiteral("%1 %2").arg(recordText(settings)).arg(id));
    const auto &values = state().behaviour.settings;
    if (!values.contains(id))
        return kStatusFailed;
    *out = values[id];
    return 0;
}

uint32_t setSetting(ArvexHandle handle, uint8_t *settings, uint32_t id, uint32_t value)
{
    record(QStringLiteral("setSetting"), handle,
           QStringLiteral("%1 %2 %3").arg(recordText(settings)).arg(id).arg(value));
    return 0;
}

uint32_t deviceAction25(ArvexHandle handle)
{
    record(QStringLiteral("deviceAction25"), handle);
    return 0;
}

uint32_t resetDevice(ArvexHandle handle)
{
    record(QStringLiteral("resetDevice"), handle);
    return 0;
}

uint32_t deviceAction47(ArvexHandle handle)
{
    record(QStringLiteral("deviceAction47"), handle);
    return 0;
}

uint32_t deviceValue30(ArvexHandle handle, uint32_t value)
{
    record(QStringLiteral("deviceValue30"), handle, QString::number(value));
    return 0;
}

uint32_t getStatus(ArvexHandle handle, uint32_t *s0, uint32_t *s1, uint32_t *s2, uint32_t *s3,
                   uint32_t *s4, uint32_t *s5)
{
    record(QStringLiteral("getStatus"), handle);
    uint32_t *outputs[] = {s0, s1, s2, s3, s4, s5};
    for (int i = 0; i < 6; ++i)
        *outputs[i] = state().behaviour.status[i];
    return 0;
}

uint32_t setLive(ArvexHandle handle, uint32_t on)
{
    record(QStringLiteral("setLive"), handle, QString::number(on));
    return 0;
}

uint32_t setPivConfig(ArvexHandle handle, const uint8_t *config)
{
    record(QStringLiteral("setPivConfig"), handle);
    state().piv = QByteArray(reinterpret_cast<const char *>(config), ARVEX_PIV_CONFIG_SIZE);
    return 0;
}

uint32_t getDeviceValue(ArvexHandle handle, uint32_t id, uint32_t *out)
{
    record(QStringLiteral("getDeviceValue"), handle, QString::number(id));
    const auto &values = state().behaviour.deviceValues;
    if (!values.contains(id))
        return kStatusFailed;
    *out = values[id];
    return 0;
}

uint32_t setDeviceValue(ArvexHandle handle, uint32_t id, uint32_t value)
{
    record(QStringLiteral("setDeviceValue"), handle, QStringLiteral("%1 %2").arg(id).arg(value));
    return 0;
}

uint32_t getStreamingGeometry(ArvexHandle handle, uint8_t *geometry)
{
    record(QStringLiteral("getStreamingGeometry"), handle);
    const Behaviour &b = state().behaviour;
    if (b.geometryFails)
        return kStatusFailed;
    std::memcpy(geometry, b.geometry.constData(),
                std::min<size_t>(size_t(b.geometry.size()), ARVEX_STREAMING_GEOMETRY_SIZE));
    return 0;
}

uint32_t calibrateDevice(ArvexHandle handle, uint32_t argument, ArvexCalibrationCallback callback,
                         void *context)
{
    record(QStringLiteral("calibrateDevice"), handle, QString::number(argument));
    callback(context, state().behaviour.calibrationDone, state().behaviour.calibrationTotal);
    return 0;
}

}  // namespace

void reset()
{
    fake::reset();
    state() = State();
}

Behaviour &behaviour() { return state().behaviour; }

QStringList events() { return state().events; }

void clearEvents() { state().events.clear(); }

void note(const QString &line) { state().events << line; }

QByteArray lastPivConfig() { return state().piv; }

const DriverTable &table()
{
    static const DriverTable t = [] {
        DriverTable d = fake::table();
        d.openDevice = &openDevice;
        d.closeDevice = &closeDevice;
        d.getParameter = &getParameter;
        d.setParameter = &setParameter;
        d.readDefaultSettings = &readDefaultSettings;
        d.readCameraSettings = &settingsOperation<kReadCamera>;
        d.refreshCameraSettings = &settingsOperation<kRefresh>;
        d.validateCameraSettings = &settingsOperation<kValidate>;
        d.readSettingsFromFlash = &settingsOperation<kReadFlash>;
        d.writeSettingsToFlash = &settingsOperation<kWriteFlash>;
        d.querySetting = &querySetting;
        d.getSetting = &getSetting;
        d.setSetting = &setSetting;
        d.deviceAction25 = &deviceAction25;
        d.resetDevice = &resetDevice;
        d.deviceAction47 = &deviceAction47;
        d.deviceValue30 = &deviceValue30;
        d.getStatus = &getStatus;
        d.setLive = &setLive;
        d.setPivConfig = &setPivConfig;
        d.getDeviceValue = &getDeviceValue;
        d.setDeviceValue = &setDeviceValue;
        d.getStreamingGeometry = &getStreamingGeometry;
        d.calibrateDevice = &calibrateDevice;
        return d;
    }();
    return t;
}

}  // namespace cmdfake
