// What the transfer benchmarks share: an Arvex camera server on the
// simulated camera inside this process, on 127.0.0.1, with a client session
// that has the camera open; timed image reads; best and median of a series.
#ifndef ARVEX_BENCH_TRANSFER_BENCHRIG_H
#define ARVEX_BENCH_TRANSFER_BENCHRIG_H

#include "imagereader.h"
#include "qcameramonitor.h"

#include <memory>
#include <optional>
#include <vector>

struct TimedRead {
    ReceivedImage image;
    double wholeSeconds = 0;     // request sent to image complete
    double deliverySeconds = 0;  // description arrived to image complete
    double clientCpuSeconds = 0; // the reading thread's CPU time for the read
    double serverCpuSeconds = 0; // the server's worker thread's CPU time meanwhile
    bool correct = false;        // bit for bit the simulator's frame
};

class ServerRig
{
public:
    ServerRig();
    ~ServerRig();

    // Starts the server from `firstPort` (the first free even base) with
    // the delay and image format, starts the client and opens the camera.
    bool start(quint16 firstPort, int delayUs, int format);
    bool setFormat(uint32_t width, uint32_t height, uint32_t bitsPerPixel);
    void setTransferOptions(int delayUs, int format) { server->setTransferOptions(delayUs, format); }

    // One live image; with `verify` the raw pixels are compared with the
    // simulator's pattern for the frame's number (outside the timed part).
    std::optional<TimedRead> read(uint32_t packetSize, bool verify);

    QCameraMonitor &monitor() { return *server; }
    long serverThreadId() const { return serverThread; }
    ClientSession &session() { return *client; }
    quint16 portBase() const { return base; }
    const ClientError &lastError() const { return error; }

private:
    std::unique_ptr<QCameraMonitor> server;
    std::unique_ptr<ClientSession> client;
    std::unique_ptr<ImageReader> reader;
    quint16 base = 0;
    long serverThread = 0;   // the worker's thread id, for its CPU clock
    uint32_t nextFrame = 0;  // live counter of the simulator since the open
    uint32_t width = 0, height = 0, bits = 0;
    ClientError error;
};

struct Summary {
    double best = 0;
    double median = 0;
};

// Highest and median value (for rates).
Summary summarizeHigh(std::vector<double> values);
// Lowest and median value (for times).
Summary summarizeLow(std::vector<double> values);
double percentile(std::vector<double> values, double p);
double mean(const std::vector<double> &values);

// A line of the machine's load averages, to print beside the figures.
std::string loadText();

#endif
