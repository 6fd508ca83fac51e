// Simulated driver: image read-out (live, memory, raw-file frames) and
// saving camera memory as a raw file. Pixels are rendered, read and written
// without the driver lock.
#include "simstate.h"

#include "testpattern.h"

#include <QtDebug>
#include <QtEndian>

#include <vector>

namespace sim {

namespace {

struct Descriptor {
    uint8_t *buffer = nullptr;
    uint32_t size = 0;
};

// ImageBufferDescriptor: u64 buffer address at 0, u32 buffer size at 8.
Descriptor decodeDescriptor(const uint8_t *record)
{
    Descriptor descriptor;
    descriptor.buffer = reinterpret_cast<uint8_t *>(
        uintptr_t(qFromLittleEndian<uint64_t>(record)));
    descriptor.size = qFromLittleEndian<uint32_t>(record + 8);
    return descriptor;
}

// Frame k of a raw file, checked against the format the device was opened with.
uint32_t readFileFrame(const QString &path, const Format &format, uint32_t k, uint8_t *out)
{
    RawFileReader reader;
    QString reason;
    if (!reader.open(path, &reason)) {
        qWarning().noquote() << QStringLiteral("Raw file unreadable: %1: %2").arg(path, reason);
        return IoError;
    }
    const RawFileHeader &header = reader.header();
    if (Format{header.width, header.height, header.bitsPerPixel} != format)
        return IoError;
    if (k >= header.frameCount)
        return OutOfRange;
    return reader.readFrame(k, out, &reason) ? Ok : IoError;
}

}  // namespace

RawFileHeader recordingHeader(const Device &camera, const Format &format)
{
    RawFileHeader header = makeRawFileHeader(format.width, format.height, format.bitsPerPixel);
    header.sourceModel = cameraModelCode(camera.cameraIndex);
    header.sourceSerial = cameraSerial(camera.cameraIndex);
    header.sourceDeviceId = camera.deviceId;
    return header;
}

uint32_t Driver::captureLiveImage(ArvexHandle handle, uint8_t *record)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!record)
        return BadArgument;
    const Descriptor descriptor = decodeDescriptor(record);
    const Format format = device->active.format;
    if (!descriptor.buffer || descriptor.size < format.bytes())
        return OutOfRange;
    const uint32_t n = device->liveCounter++;
    lock.unlock();
    if (device->isCamera) {
        renderTestPattern(descriptor.buffer, format.width, format.height, format.bitsPerPixel, n);
        return Ok;
    }
    // A raw file plays its frames in a loop.
    const uint32_t frames = device->rawHeader.frameCount;
    if (frames == 0)
        return OutOfRange;
    return readFileFrame(device->rawPath, format, n % frames, descriptor.buffer);
}

uint32_t Driver::readMemoryImage(ArvexHandle handle, uint8_t *record, const uint32_t *index)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!record || !index)
        return BadArgument;
    const Descriptor descriptor = decodeDescriptor(record);
    const Format format = device->active.format;
    if (!descriptor.buffer || descriptor.size < format.bytes())
        return OutOfRange;
    const uint32_t k = *index;
    if (!device->isCamera) {
        lock.unlock();
        return readFileFrame(device->rawPath, format, k, descriptor.buffer);
    }
    if (k >= device->memory.recorded)
        return OutOfRange;
    lock.unlock();
    renderTestPattern(descriptor.buffer, format.width, format.height, format.bitsPerPixel, k);
    return Ok;
}

uint32_t Driver::readImageByIndex(ArvexHandle handle, uint32_t index, uint8_t *buffer)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!buffer)
        return BadArgument;
    const Format format = device->active.format;
    if (!device->isCamera) {
        lock.unlock();
        return readFileFrame(device->rawPath, format, index, buffer);
    }
    if (index >= device->memory.recorded)
        return OutOfRange;
    lock.unlock();
    renderTestPattern(buffer, format.width, format.height, format.bitsPerPixel, index);
    return Ok;
}

uint32_t Driver::saveToFile(ArvexHandle handle, const char *path, uint32_t a, uint32_t b,
                            uint32_t c)
{
    Lock lock(mutex);
    const auto device = find(handle);
    if (!device)
        return BadHandle;
    if (!device->isCamera)
        return NotSupported;
    if (!path || !*path || b != 0)
        return BadArgument;
    const uint32_t recorded = device->memory.recorded;
    if (a >= recorded)
        return OutOfRange;
    const uint32_t count = c == 0 ? recorded - a : c;
    if (uint64_t(a) + count > recorded)
        return OutOfRange;
    const Format format = device->memory.format;
    RawFileHeader header = recordingHeader(*device, format);
    header.firstFrame = a;
    lock.unlock();

    const QString file = QString::fromLatin1(path);
    RawFileWriter writer;
    QString error;
    if (!writer.create(file, header, &error)) {
        qWarning().noquote() << QStringLiteral("Save to file failed: %1").arg(error);
        return IoError;
    }
    std::vector<uint8_t> frame(format.bytes());
    for (uint32_t k = 0; k < count; ++k) {
        renderTestPattern(frame.data(), format.width, format.height, format.bitsPerPixel, a + k);
        if (!writer.appendFrame(frame.data(), &error)) {
            qWarning().noquote() << QStringLiteral("Save to file failed: %1").arg(error);
            return IoError;
        }
    }
    return Ok;
}

}  // namespace sim
