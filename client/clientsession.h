// A client's UDP session with one Arvex server: requests with ids, replies
// matched to them, time-outs, and the hooks an image read-out builds on.
//
// Blocking by design (waitForReadyRead with a bound): the command-line client
// and the tests issue one request after another. One socket receives both
// replies and image segments; segments are told apart by their magic, so the
// data port to name in CMD_READ_IMAGE is localPort().
#ifndef ARVEX_CLIENT_CLIENTSESSION_H
#define ARVEX_CLIENT_CLIENTSESSION_H

#include "clienterror.h"
#include "transfercounters.h"

#include "protocol.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QVector>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class DatagramReceiver;
class QUdpSocket;
struct ReceivedDatagram;
struct ReceivePlan;

constexpr quint16 kClientDefaultPortBase = 1030;
constexpr int kClientDefaultTimeoutMs = 1000;
constexpr int kClientDefaultReceiveBuffer = 32 * 1024 * 1024;
constexpr int kClientMaxCommandArgs = 36;  // fills an 8192-byte request comfortably

// The two servers of one address: camera server on the base, raw files on base + 1.
enum class Channel { Camera = 0, RawFile = 1 };

// True for IPv4 addresses in 127.0.0.0/8.
bool isLoopbackAddress(const QHostAddress &address);

struct SessionOptions {
    QHostAddress server;
    quint16 portBase = kClientDefaultPortBase;
    int timeoutMs = kClientDefaultTimeoutMs;
    int receiveBufferBytes = kClientDefaultReceiveBuffer;
    // Lets the kernel hand runs of equal datagrams over in one piece (UDP_GRO).
    bool coalesce = true;
    // Test runs set this: every send outside 127.0.0.0/8 is then refused.
    bool loopbackOnly = false;
};

// One reply datagram as received.
struct Reply {
    QByteArray bytes;
    PacketHeader header;
    quint16 senderPort = 0;
    // When the kernel received it (steady clock).
    std::chrono::steady_clock::time_point arrivedAt;

    bool isAck() const { return size_t(bytes.size()) == kAckSize; }
    CommandReply command() const;
    DiscoveryReply discovery() const;
};

class ClientSession
{
public:
    ClientSession();
    ~ClientSession();
    ClientSession(const ClientSession &) = delete;
    ClientSession &operator=(const ClientSession &) = delete;

    // Binds the receive socket and asks for a large receive buffer.
    bool start(const SessionOptions &options);
    const SessionOptions &options() const { return opts; }
    const ClientError &lastError() const { return error; }

    quint16 localPort() const;
    quint16 serverPort(Channel channel) const;
    // Usable receive-buffer bytes the system granted, and whether its limit
    // cut the request.
    int receiveBufferBytes() const { return grantedBuffer; }
    bool receiveBufferCut() const { return grantedBuffer < opts.receiveBufferBytes; }
    // Whether the kernel agreed to coalesce runs of datagrams.
    bool coalescing() const { return coalesced; }

    // --- low level ----------------------------------------------------------
    uint16_t nextRequestId();
    // Sends a request whose id is already in bytes 6..7 and remembers the id
    // as outstanding, so that its reply is kept while another one is awaited.
    bool send(Channel channel, const uint8_t *request, size_t length);
    // Waits for the reply with this id and packet type. timeoutMs < 0: the
    // session's time-out.
    std::optional<Reply> waitForReply(Channel channel, uint16_t requestId, uint8_t type,
                                      int timeoutMs = -1);
    std::optional<Reply> transact(Channel channel, const uint8_t *request, size_t length);
    // A 216-byte discovery record from a reply, or the error (`what` names
    // the request in messages).
    std::optional<DiscoveryReply> discoveryFrom(const std::optional<Reply> &reply,
                                                const QString &what);

    // --- discovery ----------------------------------------------------------
    std::optional<DiscoveryReply> enumerateCameras();
    // The raw-file count. The server stays silent when it has none, which
    // reads as a time-out.
    std::optional<int32_t> enumerateRawFiles();
    // Answers from the server's last enumeration; result 4 is an ErrorResult.
    std::optional<DiscoveryReply> rawInfo(int32_t index);

    // --- session commands ---------------------------------------------------
    // A refused open is not answered: it reads as a time-out.
    bool openCamera(uint32_t memoryMb);
    bool openRawFile(int32_t number);
    bool close(Channel channel, uint8_t selector = 0);
    bool nop(Channel channel, uint8_t selector = 0);
    // Any sub-command; the reply is an AckReply or a CommandReply. A non-zero
    // result is returned too (and also set as lastError()).
    std::optional<Reply> command(Channel channel, uint32_t subCommand,
                                 const QVector<uint32_t> &args, uint8_t selector = 0);

    // --- image segments -----------------------------------------------------
    // Called for every data segment that arrives while the session waits
    // (for a reply or in waitForSegments). `payload` holds the datagram's
    // bytes after the header; the header's length says how many are valid.
    using SegmentHandler =
        std::function<void(const SegmentHeader &header, const uint8_t *payload, size_t size)>;
    void setSegmentHandler(SegmentHandler handler);
    // Called the moment a reply to an outstanding request arrives, before
    // any datagram behind it is handled: an image read-out learns the
    // image's layout before its first segment. The reply is still kept.
    using ReplyObserver = std::function<void(const Reply &reply)>;
    void setReplyObserver(ReplyObserver observer);
    // Asked before every read while set: where the payloads of the segments
    // expected next belong, so that they are read straight into place
    // (null: no plan). Segments still reach the handler, with `payload`
    // pointing at that place when they landed there.
    void setReceivePlanner(std::function<ReceivePlan(uint32_t maxPlaces)> planner);
    // Receives until `done()` is true (true) or timeoutMs passes without it (false).
    bool waitForSegments(int timeoutMs, const std::function<bool()> &done);
    TransferCounters &counters() { return transfer; }
    const TransferCounters &counters() const { return transfer; }

private:
    bool fail(ClientErrorKind kind, const QString &message, uint8_t result = 0);
    bool ackOk(const std::optional<Reply> &reply, const QString &what);
    bool checkDestination();
    // Reads every pending datagram: segments to the handler, replies into
    // `replies` when outstanding, the rest counted as stray.
    void drain();
    void handleDatagram(const ReceivedDatagram &datagram);
    bool waitForDatagrams(int timeoutMs);

    SessionOptions opts;
    quint32 serverAddress = 0;  // opts.server, for the check of every datagram
    ClientError error;
    std::unique_ptr<QUdpSocket> socket;
    std::unique_ptr<DatagramReceiver> receiver;  // reads the socket, buffers made once
    int grantedBuffer = 0;
    bool coalesced = false;
    uint16_t requestId = 0;
    QHash<uint16_t, quint16> outstanding;  // request id -> the port it went to
    QHash<uint16_t, Reply> replies;  // arrived for an outstanding id, not yet taken
    SegmentHandler segmentHandler;
    ReplyObserver replyObserver;
    TransferCounters transfer;
};

#endif
