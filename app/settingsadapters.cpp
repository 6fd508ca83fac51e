// The adapter list that the settings check and the windows consult.
#include "settingsadapters.h"

#include <cstring>
#include <vector>

namespace {

AdapterLister &currentLister()
{
    static AdapterLister lister;
    return lister;
}

template <typename Match>
bool lookUp(Match match, AdapterInfo *out)
{
    std::vector<AdapterInfo> list(MaxAdapters);
    const int count = listAdapters(list.data(), MaxAdapters);
    for (int i = 0; i < count; ++i) {
        if (match(list[i])) {
            std::memcpy(out, &list[i], sizeof(AdapterInfo));
            return true;
        }
    }
    return false;
}

}  // namespace

void setAdapterLister(AdapterLister lister)
{
    currentLister() = std::move(lister);
}

int listAdapters(AdapterInfo *out, int capacity)
{
    const int count = currentLister() ? currentLister()(out, capacity)
                                      : enumerateAdapters(out, capacity);
    return count < 0 ? 0 : (count > capacity ? capacity : count);
}

bool lookUpAdapter(const QString &name, AdapterInfo *out)
{
    return lookUp([&](const AdapterInfo &a) { return name == QLatin1String(a.name); }, out);
}

bool lookUpAdapterByAddress(uint32_t ipv4, AdapterInfo *out)
{
    return lookUp([&](const AdapterInfo &a) { return a.ipAddress == ipv4; }, out);
}

bool isUsableAdapterAddress(uint32_t ipv4)
{
    return ipv4 != 0 && ipv4 != 0xFFFFFFFFu;
}
