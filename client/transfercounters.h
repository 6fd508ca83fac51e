// Counters of one session's image traffic, kept the way a GigE Vision
// stream keeps them, so that losses and resends can be reported.
#ifndef ARVEX_CLIENT_TRANSFERCOUNTERS_H
#define ARVEX_CLIENT_TRANSFERCOUNTERS_H

#include <cstdint>

struct TransferCounters {
    uint64_t segmentsReceived = 0;  // data datagrams with a valid segment header
    uint64_t segmentsMissing = 0;   // segments still absent when a transfer was judged
    uint64_t resendRequests = 0;    // PKT_RESEND datagrams sent
    uint64_t segmentsResent = 0;    // segments that arrived in answer to a resend
    uint64_t duplicates = 0;        // segments that arrived a second time
    uint64_t strayDatagrams = 0;    // datagrams that matched no request and no transfer
    uint64_t receiveDrops = 0;      // datagrams the kernel dropped at the socket (buffer full)
    uint64_t segmentsInPlace = 0;   // read by the kernel straight into their place
};

#endif
