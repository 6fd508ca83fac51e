// Calibration: the slot that starts it on the owner's thread and the driver's
// progress callback.
#include "qcameramonitor.h"

void QCameraMonitor::calibrateCamera(int calibrationMode)
{
    // Runs on the owner's thread while the worker may open or close devices.
    std::lock_guard<std::mutex> lock(deviceMutex);
    currentDevice()->calibrateDevice(uint32_t(calibrationMode),
                                     &QCameraMonitor::onCalibrationProgress, this);
}

void QCameraMonitor::onCalibrationProgress(void *context, uint32_t done, uint32_t total)
{
    auto *monitor = static_cast<QCameraMonitor *>(context);
    monitor->calibDone = done;
    monitor->calibTotal = total;
    monitor->calibComplete = (total != 0 && done >= total) ? 1u : 0u;
}
