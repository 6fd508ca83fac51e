// Starting the headless servers on loopback for end-to-end tests.
#include "loopbackservers.h"

#include "adapters.h"

const char kNoLoopbackAdapter[] = "no adapter with 127.0.0.1";

std::unique_ptr<HeadlessServers> startLoopbackServers(RunOptions *options, quint16 seed,
                                                      QString *error)
{
    AdapterInfo loopback;
    if (!findAdapterByAddress(0x7F000001, &loopback)) {
        *error = QLatin1String(kNoLoopbackAdapter);
        return nullptr;
    }
    options->headless = true;
    options->listen = QStringLiteral("127.0.0.1");
    for (int attempt = 0; attempt < 40; ++attempt) {
        options->portBase = quint16(seed + 2 * attempt);
        auto servers = std::make_unique<HeadlessServers>(*options);
        int status = 0;
        if (servers->start(error, &status))
            return servers;
        if (status != kExitServerFailed)  // anything but a taken port
            return nullptr;
    }
    *error = QStringLiteral("no free port base from %1").arg(seed);
    return nullptr;
}
