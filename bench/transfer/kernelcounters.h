// The kernel's UDP drop counters (/proc/net/snmp) and the loopback device's
// drops, read before and after a measurement. They count for the whole
// machine, so other traffic at the same time shows up in them too.
#ifndef ARVEX_BENCH_TRANSFER_KERNELCOUNTERS_H
#define ARVEX_BENCH_TRANSFER_KERNELCOUNTERS_H

#include <cstdint>
#include <string>

struct KernelCounters {
    uint64_t receiveBufferErrors = 0;  // Udp RcvbufErrors: a socket's receive buffer was full
    uint64_t sendBufferErrors = 0;     // Udp SndbufErrors: a send found no room
    uint64_t loopbackDrops = 0;        // lo rx_dropped + softnet backlog drops

    static KernelCounters read();
    KernelCounters since(const KernelCounters &before) const;
    // "RcvbufErrors +0, SndbufErrors +0, lo drops +0"
    std::string text() const;
};

#endif
