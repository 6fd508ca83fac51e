// One received datagram as the monitor's handlers see it, and what a
// sub-command handler tells the dispatcher when it returns.
#ifndef ARVEX_SERVER_MONITORREQUEST_H
#define ARVEX_SERVER_MONITORREQUEST_H

#include "protocol.h"

#include <QHostAddress>

#include <cstddef>
#include <cstdint>

struct MonitorRequest {
    // kReceiveBufferSize bytes; the bytes past `length` are zero.
    const uint8_t *data = nullptr;
    size_t length = 0;
    QHostAddress sender;
    quint16 senderPort = 0;
    uint8_t selector = 0;  // byte 0
    uint8_t type = 0;      // byte 3
    uint16_t id = 0;       // bytes 6..7
    uint32_t subCommand = 0;  // PKT_COMMAND: u32 at 8

    uint32_t u32(size_t offset) const { return readU32(data, length, offset); }
    // Argument `index` of a PKT_COMMAND: the u32 at 16 + 4 * index.
    uint32_t arg(size_t index) const { return u32(16 + 4 * index); }
};

enum class CommandOutcome {
    AckOk,    // the dispatcher answers with AckReply result 0
    Handled,  // the handler sent its own answer, or deliberately none
};

#endif
