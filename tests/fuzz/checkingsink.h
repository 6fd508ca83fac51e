// A reply sink that checks every datagram the monitor sends while the fuzz
// target feeds it: replies go to the request's sender and echo its type and
// id; image segments go only to the client whose image request started the
// transfer, at the data port it named, with zero filler; nothing is sent
// outside a request.
#ifndef ARVEX_TESTS_FUZZ_CHECKINGSINK_H
#define ARVEX_TESTS_FUZZ_CHECKINGSINK_H

#include "replysink.h"

#include <QHostAddress>

#include <cstddef>
#include <cstdint>

class CheckingSink : public ReplySink
{
public:
    // Around every datagram handed to the monitor.
    void beginRequest(const uint8_t *data, size_t length, const QHostAddress &sender,
                      quint16 senderPort);
    void endRequest();

    void sendDatagram(const uint8_t *data, size_t size, const QHostAddress &address,
                      quint16 port) override;

    uint64_t sent() const { return datagrams; }

private:
    void checkReply(const uint8_t *data, size_t size, const QHostAddress &address,
                    quint16 port);
    void checkSegment(const uint8_t *data, size_t size, const QHostAddress &address,
                      quint16 port);

    // The request being handled.
    bool active = false;
    QHostAddress sender;
    quint16 senderPort = 0;
    uint8_t type = 0;
    uint16_t id = 0;
    bool readImage = false;
    quint16 requestedDataPort = 0;
    uint32_t requestedPacketSize = 0;
    bool readImageAnswered = false;  // its CommandReply went out

    // The transfer that resends may refer to: the last image request that
    // was answered with a CommandReply.
    bool haveTransfer = false;
    QHostAddress transferAddress;
    quint16 transferPort = 0;
    quint16 transferDataPort = 0;
    uint32_t transferPacketSize = 0;

    uint64_t datagrams = 0;
};

#endif
