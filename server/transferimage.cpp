// CMD_READ_IMAGE: one image read out of the current device into imageBuffer,
// JPEG-compressed when the image format asks for it, described to the client
// in a CommandReply and then sent as segments.
#include "qcameramonitor.h"

#include "jpegcompress.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kSourceLive = 0;
constexpr uint32_t kSourceMemory = 1;
constexpr uint32_t kSourceIndex = 2;
constexpr uint32_t kLiveTimeoutMs = 5000;
constexpr uint32_t kReadImageInfoLength = 20;
constexpr uint32_t kFastJpegInfoLength = 24;

// The ImageBufferDescriptor the driver fills: buffer address, bytes of one
// image, 1, then zeros.
void buildImageDescriptor(uint8_t *out, const uint8_t *buffer, uint32_t imageBytes)
{
    std::memset(out, 0, ARVEX_IMAGE_DESCRIPTOR_SIZE);
    qToLittleEndian<uint64_t>(uint64_t(reinterpret_cast<uintptr_t>(buffer)), out);
    writeU32(out, 8, imageBytes);
    writeU32(out, 12, 1);
}

struct ImageShape {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t channels = 1;
    uint32_t bytes = 0;
};

// What went out after compression.
struct CompressedImage {
    uint32_t format = IMAGE_FORMAT_RAW;
    uint32_t sendSize = 0;
    JpegPartTable parts;  // format 1
};

}  // namespace

CommandOutcome QCameraMonitor::handleReadImage(const MonitorRequest &request)
{
    const uint32_t source = request.arg(0);
    uint32_t index = request.arg(1);
    const quint16 requestedPort = quint16(request.arg(2) & 0xFFFFu);
    const uint32_t requestedPacketSize = request.arg(4);

    // Bounds first, before anything is read: a refused request leaves the
    // previous transfer as it was.
    if (!packetSizeAllowed(requestedPacketSize)) {
        writeLog(QStringLiteral("Read image refused: packet size %1 is outside %2..%3.")
                     .arg(requestedPacketSize)
                     .arg(kMinPacketSize)
                     .arg(kMaxPacketSize));
        sendAck(request, RESULT_REFUSED);
        return CommandOutcome::Handled;
    }
    CameraDevice &device = *currentDevice();
    if (!imageBuffer || !compressBuffer) {
        writeLog(QStringLiteral("Read image failed: no device is open."));
        sendAck(request, RESULT_READ_FAILED);
        return CommandOutcome::Handled;
    }
    ImageShape shape;
    shape.width = device.imageWidth();
    shape.height = device.imageHeight();
    shape.bitsPerPixel = device.bitsPerPixel();
    shape.channels = channelCountFor(shape.bitsPerPixel);
    const uint64_t bytes = uint64_t(shape.width) * shape.height *
                           (imageBytesFor(1, 1, shape.bitsPerPixel));
    if (bytes > bufferCapacity) {
        writeLog(QStringLiteral("Read image failed: the device reports %1 x %2 at %3 bits, %4 "
                                "bytes, more than the image buffer's %5.")
                     .arg(shape.width)
                     .arg(shape.height)
                     .arg(shape.bitsPerPixel)
                     .arg(bytes)
                     .arg(bufferCapacity.load()));
        sendAck(request, RESULT_READ_FAILED);
        return CommandOutcome::Handled;
    }
    shape.bytes = uint32_t(bytes);
    const SegmentLayout rawLayout = segmentLayout(shape.bytes, requestedPacketSize);
    if (rawLayout.count > kMaxSegments) {
        writeLog(QStringLiteral("Read image refused: %1 bytes at packet size %2 need %3 "
                                "segments, more than %4.")
                     .arg(shape.bytes)
                     .arg(requestedPacketSize)
                     .arg(rawLayout.count)
                     .arg(kMaxSegments));
        sendAck(request, RESULT_REFUSED);
        return CommandOutcome::Handled;
    }

    uint8_t descriptor[ARVEX_IMAGE_DESCRIPTOR_SIZE];
    buildImageDescriptor(descriptor, imageBuffer.get(), shape.bytes);
    uint32_t result = 0;
    switch (source) {
    case kSourceLive:
        result = device.captureLiveImage(descriptor, kLiveTimeoutMs);
        break;
    case kSourceMemory:
        result = device.readMemoryImage(descriptor, &index);
        break;
    case kSourceIndex:
        result = device.readImageByIndex(0, 0, index, imageBuffer.get());
        break;
    default:
        result = 2;
        break;
    }
    if (result != 0) {
        sendAck(request, RESULT_READ_FAILED);
        return CommandOutcome::Handled;
    }

    CompressedImage image;
    image.sendSize = shape.bytes;
    const int format = imageFormat;
    if (format == int(IMAGE_FORMAT_FAST_JPEG) || format == int(IMAGE_FORMAT_JPEG)) {
        image.format = uint32_t(format);
        // The compressed data must fit the compression buffer and, like a
        // raw image, 65536 segments.
        const size_t capacity =
            size_t(std::min<uint64_t>(bufferCapacity, uint64_t(kMaxSegments) * rawLayout.payload));
        JpegStatus status = JpegStatus::Ok;
        size_t compressed = 0;
        if (image.format == IMAGE_FORMAT_FAST_JPEG) {
            status = FastCompressJPEGData(imageBuffer.get(), int(shape.width), int(shape.height),
                                          int(shape.channels), int(shape.bitsPerPixel),
                                          compressBuffer.get(), capacity, &image.parts);
            // The reply describes at most kMaxJpegPartsInReply parts.
            if (status == JpegStatus::Ok && image.parts.count > kMaxJpegPartsInReply)
                status = JpegStatus::EncoderFailed;
            if (status == JpegStatus::Ok)
                compressed = jpegPartsTotal(image.parts);
            else
                image.parts = JpegPartTable{0, {}};
        } else {
            uint8_t *output = compressBuffer.get();
            compressed = capacity;
            status = CompressJPEGData(imageBuffer.get(), int(shape.width), int(shape.height),
                                      int(shape.channels), int(shape.bitsPerPixel), &output,
                                      &compressed);
            if (status != JpegStatus::Ok || output != compressBuffer.get())
                compressed = 0;
        }
        if (status != JpegStatus::Ok || compressed > capacity) {
            writeLog(QStringLiteral("JPEG compression of %1 x %2 at %3 bits failed (%4): no "
                                    "image data is sent.")
                         .arg(shape.width)
                         .arg(shape.height)
                         .arg(shape.bitsPerPixel)
                         .arg(int(status)));
            compressed = 0;
        }
        // Sends and resends always cut from imageBuffer, whatever the format.
        if (compressed)
            std::memcpy(imageBuffer.get(), compressBuffer.get(), compressed);
        image.sendSize = uint32_t(compressed);
    }

    uint8_t reply[kCommandReplySize];
    const uint32_t infoLength = image.format == IMAGE_FORMAT_FAST_JPEG
                                    ? kFastJpegInfoLength + 4 * image.parts.count
                                    : kReadImageInfoLength;
    initCommandReply(reply, request.id, request.subCommand, infoLength);
    // The format the data is really in: an unknown setting sends raw pixels.
    writeU32(reply, 16, image.format);
    writeU32(reply, 20, image.sendSize);
    writeU32(reply, 24, shape.width);
    writeU32(reply, 28, shape.height);
    writeU32(reply, 32, shape.bitsPerPixel);
    if (image.format == IMAGE_FORMAT_FAST_JPEG) {
        writeU32(reply, 36, image.parts.count);
        for (uint32_t i = 0; i < image.parts.count; ++i)
            writeU32(reply, 40 + 4 * i, image.parts.sizes[i]);
    }
    transferValid = true;
    sendSize = image.sendSize;
    packetSize = requestedPacketSize;
    dataPort = requestedPort;
    transferClient = request.sender;
    transferClientPort = request.senderPort;
    resendList.clear();
    // Laid out before the image is described, so that once the client has
    // the description the datagrams leave back to back.
    prepareSegmentStream();
    sendReply(request, reply, kCommandReplySize);
    sendImageSegments();
    return CommandOutcome::Handled;
}
