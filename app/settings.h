// The five stored settings: reading, writing, the adapter check and the rule
// that keeps command-line overrides out of the store.
#ifndef ARVEX_APP_SETTINGS_H
#define ARVEX_APP_SETTINGS_H

#include "adapters.h"

#include <QString>

#include <optional>

class QSettings;

struct StoredSettings {
    QString netAdapter;
    int netPerformance = 4;
    int imageFormat = 0;
    bool firstTime = true;
    QString downloadFolder;

    bool operator==(const StoredSettings &other) const;
};

// Values a command line imposes for one run.
struct SettingsOverrides {
    std::optional<QString> netAdapter;
    std::optional<int> netPerformance;
    std::optional<int> imageFormat;
    std::optional<QString> downloadFolder;
};

// The settings store of this program ("Korvane", "RemoteCamera").
QString settingsOrganization();
QString settingsApplication();

// Missing keys take their defaults; a value that does not convert gives the
// conversion's own result.
StoredSettings readStoredSettings(QSettings &store);
void writeStoredSettings(QSettings &store, const StoredSettings &values);

// The stored adapter name when it names a listed adapter, else the first
// listed adapter with an IPv4 address, else the stored name unchanged.
QString checkedAdapterName(const QString &stored, const AdapterInfo *list, int count);

// What the run uses: the loaded values with the overrides laid over them.
StoredSettings applyOverrides(const StoredSettings &loaded, const SettingsOverrides &overrides);

// What is written at quit: a field that still holds its override value goes
// back to the loaded value; anything the user changed during the run is kept.
StoredSettings settingsToSave(const StoredSettings &loaded, const SettingsOverrides &overrides,
                              const StoredSettings &current);

#endif
