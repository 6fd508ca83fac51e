// Reading one image out of a server: CMD_READ_IMAGE naming the session's own
// port as data port, segments collected by index, missing ones asked for
// again with PKT_RESEND for a bounded number of rounds. The session's
// TransferCounters keep the tally.
#ifndef ARVEX_CLIENT_IMAGEREADER_H
#define ARVEX_CLIENT_IMAGEREADER_H

#include "clientsession.h"
#include "segmentassembly.h"

#include <QByteArray>
#include <QVector>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

// Fits a 1500-byte MTU without IP fragments (20 IP + 8 UDP header bytes).
constexpr uint32_t kDefaultImagePacketSize = 1472;
constexpr int kDefaultResendRounds = 8;

struct ImageReadOptions {
    Channel channel = Channel::Camera;
    uint8_t selector = 0;   // raw-file server: the raw file's number
    uint32_t source = 0;    // 0 live, 1 memory frame, 2 frame by index
    uint32_t index = 0;
    uint32_t packetSize = kDefaultImagePacketSize;
    // How long the transfer may go without a segment before it is judged;
    // < 0: the session's time-out.
    int quietMs = -1;
    int maxResendRounds = kDefaultResendRounds;
    // After every new segment: segments held, segments in all.
    std::function<void(uint32_t received, uint32_t total)> progress;
    // Drops a segment as if the network had lost it (tests, diagnostics):
    // index, round (0 = the first send, 1.. = resends).
    std::function<bool(uint32_t index, int round)> discard;
};

// What the CMD_READ_IMAGE reply says about the image.
struct ImageDescription {
    uint32_t format = IMAGE_FORMAT_RAW;
    uint32_t sendSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    QVector<uint32_t> partSizes;  // format 1
};

struct ReceivedImage {
    ImageDescription description;
    QByteArray data;  // sendSize bytes
    int resendRounds = 0;
    // When the kernel received the description: the server had the image
    // ready then, so from here on the time is the delivery's alone.
    std::chrono::steady_clock::time_point describedAt;
};

// The description in a CMD_READ_IMAGE reply, or an explanation in `error`
// when the reply does not hold together.
std::optional<ImageDescription> decodeImageReply(const CommandReply &reply, QString *error);

class ImageReader
{
public:
    explicit ImageReader(ClientSession &session);
    // The whole image, or nothing with lastError() set (time-out, a result
    // 7 or 9 from the server, segments still missing after the rounds).
    std::optional<ReceivedImage> read(const ImageReadOptions &options);
    const ClientError &lastError() const { return error; }

private:
    bool fail(ClientErrorKind kind, const QString &message, uint8_t result = 0);

    ClientSession &session;
    ClientError error;
    SegmentAssembly assembly;  // its buffers serve one read after another
};

#endif
