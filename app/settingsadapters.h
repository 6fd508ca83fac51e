// The adapter list that the settings check and the windows consult: the
// platform's by default, replaceable so that tests do not depend on the machine.
#ifndef ARVEX_APP_SETTINGSADAPTERS_H
#define ARVEX_APP_SETTINGSADAPTERS_H

#include "adapters.h"

#include <QString>

#include <functional>

using AdapterLister = std::function<int(AdapterInfo *out, int capacity)>;

// An empty lister restores the platform's enumerateAdapters.
void setAdapterLister(AdapterLister lister);
int listAdapters(AdapterInfo *out, int capacity);

// The listed adapter with this exact name; false (out untouched) when none.
bool lookUpAdapter(const QString &name, AdapterInfo *out);
// The listed adapter with this IPv4 address; false (out untouched) when none.
bool lookUpAdapterByAddress(uint32_t ipv4, AdapterInfo *out);

// An address a server can bind to that names one adapter: neither "none"
// (0.0.0.0, which would listen on every adapter) nor unparsed (0xFFFFFFFF).
bool isUsableAdapterAddress(uint32_t ipv4);

#endif
