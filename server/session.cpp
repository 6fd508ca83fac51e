// Session commands: CMD_OPEN, CMD_CLOSE and CMD_NOP; the device a request acts
// on; the image buffers sized at open; closing devices when the server stops.
#include "qcameramonitor.h"

#include "deviceinfo.h"
#include "transfersegment.h"

#include <cstdlib>

namespace {

constexpr uint32_t kParameterMaxWidth = 14;
constexpr uint32_t kParameterMaxHeight = 15;
constexpr uint32_t kParameterCalibration = 19;
// The largest pixel of any format: 48-bit RGB.
constexpr uint64_t kMaxBytesPerPixel = 6;
// Room behind the image, so that a full-length read of the last segment
// stays inside the buffer.
constexpr uint64_t kImageBufferSlack = 16384;
// A device claiming more than this per image is not believed.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 30;

}  // namespace

CameraDevice *QCameraMonitor::currentDevice()
{
    if (mode == CameraMode || rawDevices.empty())
        return &defaultDevice;
    if (rawDevices.size() == 1)
        return rawDevices.front().get();
    const uint32_t selector = uint32_t(rawSelector.load());
    for (const auto &device : rawDevices) {
        if ((device->deviceId & 0xFFFFu) == selector)
            return device.get();
    }
    return &defaultDevice;
}

int QCameraMonitor::openRawFileCount() const { return rawDeviceCount; }

CommandOutcome QCameraMonitor::handleNop(const MonitorRequest &)
{
    return CommandOutcome::AckOk;
}

CommandOutcome QCameraMonitor::handleOpen(const MonitorRequest &request)
{
    int cameras = 0;
    int rawFiles = 0;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        cameras = cameraCount;
        rawFiles = rawCount;
    }
    if (mode == CameraMode && cameras > 0)
        openCamera(request);
    else if (mode == RawFileMode && rawFiles > 0)
        openRawFile(request);
    else
        writeLog(QStringLiteral("Wrong open parameters. Open error."));
    // A refused open stays unanswered: the client's time-out tells it.
    return CommandOutcome::Handled;
}

void QCameraMonitor::openCamera(const MonitorRequest &request)
{
    const uint32_t megabytes = request.arg(0);
    if (driver.setDriverOption)
        driver.setDriverOption(nullptr, ARVEX_OPTION_MEMORY_MB, megabytes, 0);
    writeLog(QStringLiteral("Received Open Camera cmd from port %1 (Alloc %2 MB)")
                 .arg(request.senderPort)
                 .arg(megabytes));
    uint32_t deviceId = 0;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        deviceId = deviceInfoU32(cameraInfo.data(), DeviceInfoOffset::DeviceId);
    }
    uint32_t result = 0;
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (defaultDevice.isOpen)
            defaultDevice.close();
        result = defaultDevice.open(deviceId);
    }
    if (result != 0) {
        writeLog(QStringLiteral("Open camera error."));
        return;
    }
    writeLog(QStringLiteral("Open camera OK."));
    setRunningStatus(StatusConnected);
    sendAck(request, RESULT_OK);
    sizeBuffers(defaultDevice, false);
    uint32_t calibration = 0;
    uint32_t unused = 0;
    defaultDevice.getParameter(kParameterCalibration, &calibration, &unused);
    writeLog(calibration != 0 ? QStringLiteral("Calibration File is detected.")
                              : QStringLiteral("Calibration File not detected."));
}

void QCameraMonitor::openRawFile(const MonitorRequest &request)
{
    const int32_t number = int32_t(request.arg(1));
    bool found = false;
    uint32_t deviceId = 0;
    if (number >= 0 && number <= 0xFFFF) {
        std::lock_guard<std::mutex> lock(tableMutex);
        for (int i = 0; i < rawCount && !found; ++i) {
            const uint32_t id = deviceInfoU32(rawInfo.data() + size_t(i) * kDeviceInfoSize,
                                              DeviceInfoOffset::DeviceId);
            if ((id & 0xFFFFu) == uint32_t(number)) {
                found = true;
                deviceId = id;
            }
        }
    }
    if (!found) {
        writeLog(QStringLiteral("Open raw file error."));
        return;
    }
    for (const auto &device : rawDevices) {
        if (device->deviceId == deviceId) {
            writeLog(QStringLiteral("Received Open Raw File %1 cmd (already open)").arg(number));
            return;
        }
    }
    writeLog(QStringLiteral("Received Open Raw File %1 cmd from port %2")
                 .arg(number)
                 .arg(request.senderPort));
    auto device = std::make_unique<CameraDevice>(driver);
    const uint32_t result = device->open(deviceId);
    if (result != 0) {
        writeLog(QStringLiteral("Open raw file %1 failed: driver status %2.")
                     .arg(number)
                     .arg(result));
        return;
    }
    writeLog(QStringLiteral("Open Raw File OK."));
    setRunningStatus(StatusConnected);
    CameraDevice &opened = *device;
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        rawDevices.push_back(std::move(device));
        rawDeviceCount = int(rawDevices.size());
    }
    sendAck(request, RESULT_OK);
    sizeBuffers(opened, true);
}

CommandOutcome QCameraMonitor::handleClose(const MonitorRequest &request)
{
    if (mode == CameraMode)
        closeCamera(request);
    else
        closeRawFile(request);
    return CommandOutcome::Handled;
}

void QCameraMonitor::closeCamera(const MonitorRequest &request)
{
    writeLog(QStringLiteral("Received Close Camera command."));
    {
        // The device's own flag, not the status: another client's discovery
        // moves the status to 3 while the camera is still open.
        std::lock_guard<std::mutex> lock(deviceMutex);
        if (defaultDevice.isOpen)
            defaultDevice.close();
    }
    sendAck(request, RESULT_OK);
    setRunningStatus(StatusAwaitingConnection);
    freeBuffers();
}

void QCameraMonitor::closeRawFile(const MonitorRequest &request)
{
    writeLog(QStringLiteral("Received Close Raw file command."));
    CameraDevice *device = currentDevice();
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        device->close();
    }
    sendAck(request, RESULT_OK);
    setRunningStatus(StatusAwaitingConnection);
    bool none = false;
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        for (auto it = rawDevices.begin(); it != rawDevices.end(); ++it) {
            if (it->get() == device) {
                (*it)->closeDevice();
                rawDevices.erase(it);
                break;
            }
        }
        rawDeviceCount = int(rawDevices.size());
        none = rawDevices.empty();
    }
    if (none)
        freeBuffers();
}

void QCameraMonitor::sizeBuffers(CameraDevice &device, bool growOnly)
{
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t unused = 0;
    device.getParameter(kParameterMaxWidth, &width, &unused);
    unused = 0;
    device.getParameter(kParameterMaxHeight, &height, &unused);
    const uint64_t size = uint64_t(width) * height * kMaxBytesPerPixel;
    if (growOnly && imageBuffer && size <= bufferCapacity)
        return;
    if (!growOnly && imageBuffer && size == bufferCapacity)
        return;
    freeBuffers();
    if (size > kMaxImageBytes) {
        writeLog(QStringLiteral("Image buffers not allocated: %1 x %2 pixels is too large.")
                     .arg(width)
                     .arg(height));
        return;
    }
    // Zeroed once here, so that nothing stale can ever leave in a segment.
    // calloc takes fresh pages from the kernel as they are, already zero:
    // an open costs nothing for the parts of a large buffer never used.
    imageBuffer.reset(static_cast<uint8_t *>(std::calloc(size + kImageBufferSlack, 1)));
    compressBuffer.reset(static_cast<uint8_t *>(std::calloc(size + kSegmentStreamOverhead, 1)));
    if (!imageBuffer || !compressBuffer) {
        writeLog(QStringLiteral("Image buffers of %1 bytes could not be allocated.").arg(size));
        freeBuffers();
        return;
    }
    bufferCapacity = quint32(size);
}

void QCameraMonitor::freeBuffers()
{
    // The last transfer's data goes with the buffer: no resend may read it.
    endTransfer();
    imageBuffer.reset();
    compressBuffer.reset();
    bufferCapacity = 0;
}

void QCameraMonitor::closeDevicesAfterStop()
{
    if (mode == CameraMode) {
        if (defaultDevice.isOpen) {
            if (defaultDevice.isGrabbing) {
                uint32_t frames = 0;
                defaultDevice.stopMemoryGrab(&frames);
            } else if (defaultDevice.isLive) {
                defaultDevice.setLive(0);
            }
            std::lock_guard<std::mutex> lock(deviceMutex);
            defaultDevice.close();
        }
        return;
    }
    // Closed raw files are discarded, not kept: a kept one would refuse the
    // next open of the same file as "already open" for good.
    {
        std::lock_guard<std::mutex> lock(deviceMutex);
        for (auto &device : rawDevices) {
            if (device->isOpen)
                device->close();
        }
        rawDevices.clear();
        rawDeviceCount = 0;
    }
    freeBuffers();
}
