// The five stored settings: reading, writing, the adapter check and the rule
// that keeps command-line overrides out of the store.
#include "settings.h"

#include <QSettings>

namespace {

const char kKeyNetAdapter[] = "Settings/NetAdapter";
const char kKeyNetPerformance[] = "Settings/NetPerformance";
const char kKeyImageFormat[] = "Settings/ImageFormat";
const char kKeyFirstTime[] = "Settings/FirstTime";
const char kKeyDownloadFolder[] = "Settings/DownloadFolder";

template <typename T>
T keepUnlessOverridden(const T &loaded, const std::optional<T> &override, const T &current)
{
    return override && current == *override ? loaded : current;
}

}  // namespace

bool StoredSettings::operator==(const StoredSettings &other) const
{
    return netAdapter == other.netAdapter && netPerformance == other.netPerformance
        && imageFormat == other.imageFormat && firstTime == other.firstTime
        && downloadFolder == other.downloadFolder;
}

QString settingsOrganization()
{
    return QStringLiteral("Korvane");
}

QString settingsApplication()
{
    return QStringLiteral("RemoteCamera");
}

StoredSettings readStoredSettings(QSettings &store)
{
    StoredSettings values;
    values.netAdapter = store.value(kKeyNetAdapter, QString()).toString();
    values.netPerformance = store.value(kKeyNetPerformance, 4).toInt();
    values.imageFormat = store.value(kKeyImageFormat, 0).toInt();
    values.firstTime = store.value(kKeyFirstTime, true).toBool();
    values.downloadFolder = store.value(kKeyDownloadFolder, QString()).toString();
    return values;
}

void writeStoredSettings(QSettings &store, const StoredSettings &values)
{
    store.setValue(kKeyNetAdapter, values.netAdapter);
    store.setValue(kKeyNetPerformance, values.netPerformance);
    store.setValue(kKeyImageFormat, values.imageFormat);
    store.setValue(kKeyFirstTime, values.firstTime);
    store.setValue(kKeyDownloadFolder, values.downloadFolder);
}

QString checkedAdapterName(const QString &stored, const AdapterInfo *list, int count)
{
    for (int i = 0; i < count; ++i) {
        if (stored == QLatin1String(list[i].name))
            return stored;
    }
    for (int i = 0; i < count; ++i) {
        if (list[i].ipAddress != 0)
            return QString::fromLatin1(list[i].name);
    }
    return stored;
}

StoredSettings applyOverrides(const StoredSettings &loaded, const SettingsOverrides &overrides)
{
    StoredSettings run = loaded;
    if (overrides.netAdapter)
        run.netAdapter = *overrides.netAdapter;
    if (overrides.netPerformance)
        run.netPerformance = *overrides.netPerformance;
    if (overrides.imageFormat)
        run.imageFormat = *overrides.imageFormat;
    if (overrides.downloadFolder)
        run.downloadFolder = *overrides.downloadFolder;
    return run;
}

StoredSettings settingsToSave(const StoredSettings &loaded, const SettingsOverrides &overrides,
                              const StoredSettings &current)
{
    StoredSettings save = current;
    save.netAdapter = keepUnlessOverridden(loaded.netAdapter, overrides.netAdapter,
                                           current.netAdapter);
    save.netPerformance = keepUnlessOverridden(loaded.netPerformance, overrides.netPerformance,
                                               current.netPerformance);
    save.imageFormat = keepUnlessOverridden(loaded.imageFormat, overrides.imageFormat,
                                            current.imageFormat);
    save.downloadFolder = keepUnlessOverridden(loaded.downloadFolder, overrides.downloadFolder,
                                               current.downloadFolder);
    return save;
}
