// Reading the UDP MIB counters and the loopback drops.
#include "kernelcounters.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The values of the second "Udp:" line under the names of the first.
uint64_t udpCounter(const std::string &name)
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (names.empty())
            names = line;
        else {
            values = line;
            break;
        }
    }
    std::istringstream n(names), v(values);
    std::string key, value;
    while (n >> key && v >> value) {
        if (key == name)
            return std::stoull(value);
    }
    return 0;
}

uint64_t fileNumber(const char *path)
{
    std::ifstream in(path);
    uint64_t value = 0;
    in >> value;
    return value;
}

// Column 2 of /proc/net/softnet_stat (hex), summed over the CPUs.
uint64_t backlogDrops()
{
    std::ifstream in("/proc/net/softnet_stat");
    std::string line;
    uint64_t sum = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string processed, dropped;
        if (fields >> processed >> dropped)
            sum += std::stoull(dropped, nullptr, 16);
    }
    return sum;
}

}  // namespace

KernelCounters KernelCounters::read()
{
    KernelCounters c;
    c.receiveBufferErrors = udpCounter("RcvbufErrors");
    c.sendBufferErrors = udpCounter("SndbufErrors");
    c.loopbackDrops = fileNumber("/sys/class/net/lo/statistics/rx_dropped") + backlogDrops();
    return c;
}

KernelCounters KernelCounters::since(const KernelCounters &before) const
{
    KernelCounters d;
    d.receiveBufferErrors = receiveBufferErrors - before.receiveBufferErrors;
    d.sendBufferErrors = sendBufferErrors - before.sendBufferErrors;
    d.loopbackDrops = loopbackDrops - before.loopbackDrops;
    return d;
}

std::string KernelCounters::text() const
{
    char line[128];
    std::snprintf(line, sizeof line, "RcvbufErrors +%llu, SndbufErrors +%llu, lo drops +%llu",
                  static_cast<unsigned long long>(receiveBufferErrors),
                  static_cast<unsigned long long>(sendBufferErrors),
                  static_cast<unsigned long long>(loopbackDrops));
    return line;
}
