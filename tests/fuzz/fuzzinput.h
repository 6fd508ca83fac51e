// The layout of one fuzz input: two configuration bytes, then records, each
// either a datagram from one of 32 loopback senders or an action of the
// monitor's owner (the window thread's calls). Read by the fuzz target,
// written by the seed generator.
#ifndef ARVEX_TESTS_FUZZ_FUZZINPUT_H
#define ARVEX_TESTS_FUZZ_FUZZINPUT_H

#include <QByteArray>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>

// Byte 0: bit 0 mode (raw-file server when set), bits 1-2 image format
// (0, 1, 2 or the unknown 5), bit 3 log on, bits 4-6 device geometry.
// Byte 1: bits 0-1 number of simulated cameras (1, 2, 4 or 0).
struct FuzzConfig {
    bool rawFileMode = false;
    int imageFormat = 0;
    bool log = false;
    // Largest image the device reports; 0 x 0: the simulator's own 1280 x 1024.
    uint32_t maxWidth = 64;
    uint32_t maxHeight = 32;
    uint32_t cameras = 1;
};

enum class OwnerAction : uint8_t {
    EnumerateCameras = 0,
    EnumerateRawFiles = 1,
    DeliverQueued = 2,     // queued signals: the calibration slot runs
    Restart = 3,           // stopServer, then startOffline again
    TransferOptions = 4,   // setTransferOptions with the next format
    ReadTables = 5,        // cameraTable, openRawFileCount, currentStatus
    ToggleLog = 6,
    LetDriverRun = 7,      // 0.2 ms for the driver's threads
    Calibrate = 8,         // the calibration slot called directly
    Count = 9
};

// A record's first byte: bit 7 set, an owner action (low 4 bits, actions
// past Count ignored); else a datagram from sender (low 5 bits), followed
// by its length (u16 little-endian, cut to the bytes left) and its bytes.
struct FuzzRecord {
    bool isAction = false;
    OwnerAction action = OwnerAction::EnumerateCameras;
    uint8_t sender = 0;
    const uint8_t *data = nullptr;
    size_t length = 0;
};

constexpr uint8_t kFuzzSenderCount = 32;

// 127.0.0.1 .. 127.0.0.4, ports 40000 .. 40007.
QHostAddress fuzzSenderAddress(uint8_t sender);
quint16 fuzzSenderPort(uint8_t sender);

FuzzConfig decodeFuzzConfig(const uint8_t *data, size_t size);

class FuzzInputReader
{
public:
    FuzzInputReader(const uint8_t *data, size_t size);
    // False at the end of the input.
    bool next(FuzzRecord *record);

private:
    const uint8_t *bytes;
    size_t size;
    size_t position;
};

// Builds inputs for the seed corpus.
class FuzzInputWriter
{
public:
    explicit FuzzInputWriter(uint8_t config0, uint8_t config1 = 0);
    FuzzInputWriter &datagram(uint8_t sender, const QByteArray &bytes);
    FuzzInputWriter &action(OwnerAction action);
    const QByteArray &bytes() const { return out; }

private:
    QByteArray out;
};

#endif
