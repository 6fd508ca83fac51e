// A minimal image reader of its own for the soak test, on the protocol's
// builders and a LoopbackClient: CMD_READ_IMAGE, segments by index with a
// share dropped on purpose, PKT_RESEND for the missing ones for a bounded
// number of rounds. It also checks what arrives: segment size and zero
// filler, and that every datagram comes from the server it talks to.
#ifndef ARVEX_TESTS_SOAK_SOAKREADER_H
#define ARVEX_TESTS_SOAK_SOAKREADER_H

#include "loopbackclient.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <cstdint>
#include <functional>

struct SoakImage {
    enum class Outcome { Complete, Failed, Refused, Broken };
    Outcome outcome = Outcome::Failed;
    QString problem;  // for Broken: what the server did wrong
    QByteArray data;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    int rounds = 0;
    int dropped = 0;
};

struct SoakReadOptions {
    uint8_t selector = 0;
    uint32_t source = 0;
    uint32_t index = 0;
    uint32_t packetSize = 1472;
    int maxRounds = 8;
    int replyTimeoutMs = 500;
    int quietMs = 60;
    // True: lose this segment (index, round).
    std::function<bool(uint32_t index, int round)> drop;
};

SoakImage readSoakImage(LoopbackClient &client, const QHostAddress &server, quint16 port,
                        const SoakReadOptions &options);

#endif
