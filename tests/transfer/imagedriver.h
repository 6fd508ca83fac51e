// A driver for the transfer tests: one camera whose image shape, read
// results and grab answers a test sets, serving frames of the simulator's
// test pattern, with a log of the image calls and the last descriptor.
#ifndef ARVEX_TESTS_TRANSFER_IMAGEDRIVER_H
#define ARVEX_TESTS_TRANSFER_IMAGEDRIVER_H

#include "drivertable.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>

namespace imagefake {

constexpr uint32_t kCameraId = 0x100;

struct Config {
    uint32_t maxWidth = 128;  // parameters 14, 15: what the buffers are sized for
    uint32_t maxHeight = 96;
    uint32_t width = 100;     // settings 109, 110, 3: the current image
    uint32_t height = 100;
    uint32_t bitsPerPixel = 8;
    uint32_t readStatus = 0;  // non-zero: every image read fails with it
    uint32_t startGrabStatus = 0;
    uint32_t stopGrabFrames = 0;
    uint32_t trigger[4] = {0, 0, 0, 0};  // p, q, r, s
};

void reset(const Config &config = Config());
Config &config();  // change between requests only, never while the worker runs

// "live 5000", "memory 3", "index 0 0 3", "startgrab 10 4 3", "stopgrab",
// "trigger", "calibrate 2", in call order.
QStringList calls();
void clearCalls();
// The 40 bytes of the last descriptor handed to live or memory reads.
QByteArray lastDescriptor();
// Frame numbers served so far by live reads (counts from 0 per reset).
uint32_t liveFrames();
// The completion callback and context of the last started grab.
ArvexGrabFinishedCallback grabCallback();
void *grabContext();

const DriverTable &table();

}  // namespace imagefake

#endif
