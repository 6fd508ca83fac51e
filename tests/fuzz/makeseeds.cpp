// Writes the seed corpus of fuzz_monitor: valid requests of every packet type
// and sub-command, in sessions, with the hostile arguments of the bounds
// (packet sizes, resend lists, paths), built with the protocol's own
// builders. Usage: fuzz_seeds FOLDER
#include "fuzzinput.h"

#include "protocol.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QVector>

#include <cstdio>
#include <initializer_list>
#include <vector>

namespace {

constexpr uint8_t kCamera = 0x00;  // config byte 0: camera server, raw pixels
constexpr uint8_t kRawFiles = 0x01;
constexpr uint8_t kLog = 0x08;
constexpr uint8_t kRealGeometry = 0x70;
constexpr uint8_t kA = 0;   // 127.0.0.1:40000
constexpr uint8_t kB = 5;   // 127.0.0.2:40001
constexpr uint8_t kC = 10;  // 127.0.0.3:40002
constexpr quint16 kDataPort = 41000;
constexpr size_t kPathOffset = 80;
constexpr size_t kPathField = 512;

uint16_t nextId = 1;

QByteArray command(uint32_t subCommand, std::initializer_list<uint32_t> args = {},
                   uint8_t selector = 0)
{
    const std::vector<uint32_t> words(args);
    QByteArray out(int(16 + 4 * words.size()), 0);
    buildCommandRequest(reinterpret_cast<uint8_t *>(out.data()), nextId++, subCommand,
                        words.data(), words.size(), selector);
    return out;
}

QByteArray enumerate(uint8_t selector = 0)
{
    QByteArray out(int(kHeaderSize), 0);
    buildEnumerateRequest(reinterpret_cast<uint8_t *>(out.data()), nextId++, selector);
    return out;
}

QByteArray rawInfo(int32_t index)
{
    QByteArray out(12, 0);
    buildRawInfoRequest(reinterpret_cast<uint8_t *>(out.data()), nextId++, index);
    return out;
}

QByteArray resend(const QVector<uint16_t> &indices, bool last, uint32_t declared = 0)
{
    QByteArray out(int(kResendIndicesOffset + 2 * indices.size()), 0);
    buildResendRequest(reinterpret_cast<uint8_t *>(out.data()), nextId++, indices.constData(),
                       uint32_t(indices.size()), last);
    if (declared)
        writeU32(reinterpret_cast<uint8_t *>(out.data()), 8, declared);
    return out;
}

QByteArray readImage(uint32_t source, uint32_t index, uint32_t packetSize,
                     uint8_t selector = 0)
{
    return command(CMD_READ_IMAGE, {source, index, kDataPort, 0, packetSize}, selector);
}

// A request with a path field at 80: `words` from 16, the path, NUL padding.
QByteArray withPath(uint32_t subCommand, std::initializer_list<uint32_t> words,
                    const QByteArray &path, size_t fieldBytes = kPathField)
{
    QByteArray out = command(subCommand, words);
    out.resize(int(kPathOffset + fieldBytes));
    std::fill(out.begin() + 16 + int(4 * words.size()), out.end(), '\0');
    std::copy(path.begin(), path.begin() + std::min(path.size(), int(fieldBytes)),
              out.begin() + int(kPathOffset));
    return out;
}

QByteArray saveRaw(uint32_t a, uint32_t b, uint32_t c, uint32_t n, const QByteArray &path)
{
    return withPath(CMD_SAVE_RAW_FILE, {a, b, c, n}, path);
}

QByteArray w2dStart(uint32_t volumes, const QByteArray &letters, const QByteArray &folder,
                    uint32_t options = 3, uint32_t passThrough = 0)
{
    uint32_t choice = 0;
    for (int i = 0; i < letters.size() && i < 4; ++i)
        choice |= uint32_t(uint8_t(letters.at(i))) << (8 * i);
    return withPath(CMD_WRITE_TO_DISK, {1, volumes, choice, options, passThrough}, folder);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

struct Seed {
    QByteArray name;
    QByteArray input;
};

QVector<Seed> seeds;

void add(const char *name, const FuzzInputWriter &writer)
{
    seeds.append(Seed{name, writer.bytes()});
}

FuzzInputWriter opened(uint8_t config, uint8_t config1 = 0)
{
    FuzzInputWriter w(config, config1);
    w.datagram(kA, enumerate()).datagram(kA, command(CMD_OPEN, {64}));
    return w;
}

void sessionSeeds()
{
    add("session-camera", opened(kCamera | kLog)
                              .datagram(kA, command(CMD_NOP))
                              .datagram(kA, command(CMD_NOP_2))
                              .datagram(kA, command(CMD_NOP_3))
                              .datagram(kA, command(99))
                              .datagram(kA, command(CMD_CLOSE))
                              .datagram(kA, command(CMD_CLOSE)));
    add("session-no-camera", FuzzInputWriter(kCamera | kLog, 3)
                                 .datagram(kA, enumerate())
                                 .datagram(kA, command(CMD_OPEN, {64}))
                                 .datagram(kA, command(CMD_NOP)));
    add("session-two-clients", opened(kCamera)
                                   .datagram(kB, enumerate())
                                   .datagram(kB, command(CMD_OPEN, {16}))
                                   .datagram(kC, command(CMD_CLOSE))
                                   .datagram(kA, command(CMD_NOP)));
    add("framing", FuzzInputWriter(kCamera | kLog)
                       .datagram(kA, bytes({0, 0, 0, 1}))
                       .datagram(kA, bytes({0, 0, 0, 224, 8, 0, 1, 0}))
                       .datagram(kA, command(0xFFFFFFFFu))
                       .datagram(kA, bytes({0, 0, 0, 2, 8, 0, 3, 0}))
                       .datagram(kA, QByteArray())
                       .datagram(kA, QByteArray(8300, char(0xE0)))
                       .datagram(kA, bytes({0, 0, 0, 200}))
                       .datagram(kA, bytes({0, 0, 0, 225})));
}

void parameterSeeds()
{
    FuzzInputWriter w = opened(kCamera | kLog);
    for (uint32_t id : {14u, 15u, 19u, 35u, 1013u, 1016u, 500u})
        w.datagram(kA, command(CMD_GET_PARAMETER, {id}));
    w.datagram(kA, command(CMD_SET_PARAMETER, {500, 7}))
        .datagram(kA, command(CMD_SET_PARAMETER, {14, 7}))
        .datagram(kA, command(CMD_SET_DEVICE_VALUE, {1000, 5}))
        .datagram(kA, command(CMD_SET_DEVICE_VALUE, {0, 5}));
    for (uint32_t id : {0u, 1u, 2u, 3u, 4u, 25u, 30u, 47u, 0x100u, 0x108u, 1000u, 77u})
        w.datagram(kA, command(CMD_GET_DEVICE_VALUE, {id}));
    w.datagram(kA, command(CMD_VALUE_24, {9}))
        .datagram(kA, command(CMD_ACTION_20))
        .datagram(kA, command(CMD_ACTION_40))
        .datagram(kA, command(CMD_PIV, {0x3, 2, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}))
        .datagram(kA, command(CMD_GET_STATUS))
        .datagram(kA, command(CMD_GET_STREAMING_GEOMETRY))
        .datagram(kA, command(CMD_GET_W2D_PROGRESS))
        .datagram(kA, command(CMD_GET_CALIBRATION_PROGRESS))
        .datagram(kA, command(CMD_LIVE, {1}))
        .datagram(kA, command(CMD_LIVE, {0}))
        .datagram(kA, command(CMD_RESET))
        .datagram(kA, command(CMD_ZERO_VALUE_QUERY, {5}));
    add("parameters", w);
    // Every command before any device is open.
    FuzzInputWriter closed(kCamera | kLog);
    for (uint32_t sub : {3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 15u, 16u, 17u, 18u, 19u, 20u,
                         22u, 24u, 27u, 28u, 29u, 34u, 40u, 43u, 63u, 65u, 68u, 69u, 72u, 73u, 74u})
        closed.datagram(kA, command(sub, {1, 2, 3, 4, 1500}));
    add("commands-without-device", closed);
}

void settingsSeeds()
{
    FuzzInputWriter w = opened(kCamera);
    w.datagram(kA, command(CMD_READ_DEFAULT_SETTINGS))
        .datagram(kA, command(CMD_READ_CAMERA_SETTINGS));
    for (uint32_t id : {3u, 109u, 110u, 111u, 112u, 113u, 114u, 7u})
        w.datagram(kA, command(CMD_GET_SETTING, {id}));
    for (uint32_t selector : {0u, 1u, 2u, 3u, 4u, 5u, 0x100u, 0x105u, 0x106u})
        w.datagram(kA, command(CMD_QUERY_SETTING, {3, selector}));
    for (uint32_t bits : {8u, 10u, 12u, 16u, 24u, 48u, 7u})
        w.datagram(kA, command(CMD_SET_SETTING, {3, bits}));
    w.datagram(kA, command(CMD_SET_SETTING, {109, 1280}))
        .datagram(kA, command(CMD_SET_SETTING, {110, 0}))
        .datagram(kA, command(CMD_SET_SETTING, {111, 20000}))
        .datagram(kA, command(CMD_REFRESH_CAMERA_SETTINGS))
        .datagram(kA, command(CMD_VALIDATE_CAMERA_SETTINGS))
        .datagram(kA, command(CMD_WRITE_SETTINGS_TO_FLASH))
        .datagram(kA, command(CMD_READ_SETTINGS_FROM_FLASH))
        .datagram(kA, readImage(0, 0, 1500));
    add("settings", w);
}

void imageSeeds()
{
    static const uint8_t formats[] = {0x0, 0x2, 0x4, 0x6};  // 0, 1, 2, unknown
    for (uint8_t format : formats) {
        for (uint32_t bits : {8u, 10u, 12u, 16u, 24u, 48u}) {
            FuzzInputWriter w = opened(uint8_t(kCamera | format));
            w.datagram(kA, command(CMD_SET_SETTING, {3, bits}))
                .datagram(kA, readImage(0, 0, 1500))
                .datagram(kA, readImage(0, 0, 65507))
                .datagram(kA, command(CMD_MEMORY_START_GRAB, {4, 1}))
                .action(OwnerAction::LetDriverRun)
                .datagram(kA, command(CMD_MEMORY_STOP_GRAB))
                .datagram(kA, command(CMD_GET_TRIGGER_INDEX))
                .datagram(kA, readImage(1, 2, 1472))
                .datagram(kA, readImage(2, 3, 9000))
                .datagram(kA, readImage(2, 99, 9000))
                .datagram(kA, readImage(3, 0, 1500));
            seeds.append(Seed{"image-format" + QByteArray::number(format >> 1) + "-bits"
                                  + QByteArray::number(bits),
                              w.bytes()});
        }
    }
    FuzzInputWriter sizes = opened(kCamera);
    for (uint32_t size : {0u, 16u, 31u, 32u, 33u, 1500u, 65507u, 65508u, 0xFFFFFFFFu})
        sizes.datagram(kA, readImage(0, 0, size));
    add("packet-sizes", sizes);
    add("packet-sizes-full-geometry", opened(kCamera | kRealGeometry)
                                          .datagram(kA, readImage(0, 0, 32))
                                          .datagram(kA, readImage(0, 0, 36))
                                          .datagram(kA, command(CMD_SET_SETTING, {3, 48}))
                                          .datagram(kA, readImage(0, 0, 65507)));
    add("image-grown-past-buffer", opened(kCamera)
                                       .datagram(kA, command(CMD_SET_SETTING, {109, 1280}))
                                       .datagram(kA, command(CMD_SET_SETTING, {110, 1024}))
                                       .datagram(kA, readImage(0, 0, 1500)));
    add("image-after-close", opened(kCamera)
                                 .datagram(kA, readImage(0, 0, 1500))
                                 .datagram(kA, command(CMD_CLOSE))
                                 .datagram(kA, readImage(0, 0, 1500))
                                 .datagram(kA, resend({0}, true)));
}

void resendSeeds()
{
    add("resend-before-transfer",
        FuzzInputWriter(kCamera).datagram(kA, resend({0, 1}, true)).datagram(kA, enumerate()));
    add("resend", opened(kCamera | kLog)
                      .datagram(kA, readImage(0, 0, 100))
                      .datagram(kA, resend({0, 1, 20}, true))
                      .datagram(kA, resend({2}, false))
                      .datagram(kA, resend({3}, false))
                      .datagram(kA, resend({4, 0}, true)));
    add("resend-bounds", opened(kCamera | kLog)
                             .datagram(kA, readImage(0, 0, 100))
                             .datagram(kA, resend({0xFFFF, 24, 23}, true))
                             .datagram(kA, resend({1, 2}, true, 5000))
                             .datagram(kA, resend({}, true, 0xFFFFFFFFu))
                             .datagram(kA, resend(QVector<uint16_t>(4100, 1), true)));
    add("resend-other-client", opened(kCamera | kLog)
                                   .datagram(kA, readImage(0, 0, 1500))
                                   .datagram(kB, resend({0}, true))
                                   .datagram(kA | 4, resend({0}, true))
                                   .datagram(kA, resend({0}, true)));
    add("image-for-other-client", opened(kCamera)
                                      .datagram(kB, readImage(0, 0, 1500))
                                      .datagram(kB, resend({0}, true))
                                      .datagram(kA, resend({0}, true)));
}

void recordingSeeds()
{
    add("calibrate", opened(kCamera | kLog)
                         .datagram(kA, command(CMD_CALIBRATE, {1}))
                         .action(OwnerAction::DeliverQueued)
                         .action(OwnerAction::LetDriverRun)
                         .datagram(kA, command(CMD_GET_CALIBRATION_PROGRESS))
                         .action(OwnerAction::Calibrate)
                         .datagram(kA, command(CMD_GET_PARAMETER, {19})));
    add("grab-save", opened(kCamera | kLog)
                         .datagram(kA, command(CMD_MEMORY_START_GRAB, {0, 3}))
                         .action(OwnerAction::LetDriverRun)
                         .datagram(kA, command(CMD_MEMORY_STOP_GRAB))
                         .datagram(kA, saveRaw(0, 0, 0, 6, "D:\\rec1\\take.raw"))
                         .datagram(kA, saveRaw(1, 0, 2, 0, "take2.raw"))
                         .datagram(kA, saveRaw(0, 1, 0, 0, "D:\\rec1\\b.raw"))
                         .datagram(kA, saveRaw(0, 0, 0, 0, "E:/e/folder/"))
                         .datagram(kA, saveRaw(0, 0, 0, 0, "D:\\")));
    add("w2d", opened(kCamera | kLog)
                   .datagram(kA, w2dStart(1, "D", "Rec\\Take1"))
                   .action(OwnerAction::LetDriverRun)
                   .action(OwnerAction::LetDriverRun)
                   .datagram(kA, command(CMD_GET_W2D_PROGRESS))
                   .datagram(kA, command(CMD_WRITE_TO_DISK, {0}))
                   .datagram(kA, command(CMD_WRITE_TO_DISK, {0})));
    add("w2d-volumes", opened(kCamera | kLog)
                           .datagram(kA, w2dStart(2, "DE", "two/take"))
                           .action(OwnerAction::LetDriverRun)
                           .datagram(kA, w2dStart(4, "DEDE", "four"))
                           .datagram(kA, w2dStart(1, "Z", "unknown"))
                           .datagram(kA, w2dStart(0, "", "none"))
                           .datagram(kA, w2dStart(5, "DEDE", "five"))
                           .datagram(kA, w2dStart(1, "d", "D:\\lower"))
                           .datagram(kA, command(CMD_WRITE_TO_DISK, {0})));
}

void hostilePathSeeds()
{
    const QByteArray longPath511 = "D:\\" + QByteArray(508, 'a');
    const QByteArray longPath512 = "D:\\" + QByteArray(509, 'a');
    const QByteArray longPath600 = "D:\\" + QByteArray(597, 'a');
    const QByteArray deep = QByteArray("D:\\") + QByteArray("d/").repeated(250);
    const QVector<QByteArray> paths = {"..\\..\\etc\\x", "/etc/x", "C:\\Windows\\x", "D:..\\x",
                                       "D:\\out\\x", "D:\\up\\raw\\x", "D:\\rec.00.raw",
                                       QByteArray("D:\\a\0b", 6), "", "D:", "D:\\self\\..",
                                       "E:\\self\\self\\x.raw", "\\\\server\\share\\x",
                                       "D:\\.\\x.raw", longPath511, longPath512, longPath600,
                                       deep, "&:\\lower", "1:\\x", "\xE9:\\x", "D:/x.raw",
                                       ":\\res\\take"};
    // In parts, so that no seed is longer than the documented -max_len.
    const int kPerSeed = 7;
    for (int first = 0; first < paths.size(); first += kPerSeed) {
        const QByteArray part = QByteArray::number(first / kPerSeed + 1);
        FuzzInputWriter save = opened(kCamera | kLog);
        save.datagram(kA, command(CMD_MEMORY_START_GRAB, {2, 0})).action(OwnerAction::LetDriverRun);
        FuzzInputWriter w2d = opened(kCamera | kLog);
        for (const QByteArray &path : paths.mid(first, kPerSeed)) {
            save.datagram(kA, saveRaw(0, 0, 0, uint32_t(path.size()), path));
            w2d.datagram(kA, w2dStart(1, "D", path));
        }
        w2d.datagram(kA, command(CMD_WRITE_TO_DISK, {0}));
        seeds.append(Seed{"save-hostile-paths-" + part, save.bytes()});
        seeds.append(Seed{"w2d-hostile-paths-" + part, w2d.bytes()});
    }
    add("save-short-field", opened(kCamera).datagram(
                                kA, withPath(CMD_SAVE_RAW_FILE, {0, 0, 0, 0}, "D:\\short.raw", 20)));
    add("w2d-links", opened(kCamera | kLog)
                         .datagram(kA, w2dStart(1, "D", "rec"))
                         .datagram(kA, w2dStart(1, "D", "out\\take"))
                         .datagram(kA, w2dStart(2, "DE", "up/raw/x"))
                         .datagram(kA, withPath(CMD_WRITE_TO_DISK, {1, 1, 'D', 0, 0}, "short", 10))
                         .datagram(kA, command(CMD_WRITE_TO_DISK, {0})));
}

void ownerSeeds()
{
    add("owner-calls", opened(kCamera | kLog)
                           .action(OwnerAction::EnumerateCameras)
                           .action(OwnerAction::ReadTables)
                           .datagram(kA, readImage(0, 0, 1500))
                           .action(OwnerAction::TransferOptions)
                           .datagram(kA, readImage(0, 0, 1500))
                           .action(OwnerAction::ToggleLog)
                           .action(OwnerAction::Restart)
                           .datagram(kA, resend({0}, true))
                           .datagram(kA, command(CMD_NOP))
                           .datagram(kA, enumerate())
                           .datagram(kA, command(CMD_OPEN, {0})));
}

void rawFileSeeds()
{
    FuzzInputWriter w(kRawFiles | kLog);
    w.datagram(kA, enumerate());
    for (int32_t index : {0, 1, 2, 3, 4, -1, 128, 0x7FFFFFFF})
        w.datagram(kA, rawInfo(index));
    w.datagram(kA, command(CMD_OPEN, {0, 0}))
        .datagram(kA, command(CMD_OPEN, {0, 1}))
        .datagram(kA, command(CMD_OPEN, {0, 1}))
        .datagram(kA, command(CMD_OPEN, {0, 2}))
        .datagram(kA, command(CMD_OPEN, {0, 70000}))
        .datagram(kA, command(CMD_OPEN, {0, 0xFFFFFFFFu}))
        .datagram(kA, readImage(2, 1, 1500, 0))
        .datagram(kA, readImage(2, 1, 1500, 1))
        .datagram(kA, readImage(0, 0, 100, 2))
        .datagram(kA, readImage(1, 9, 100, 1))
        .datagram(kA, resend({0, 1}, true))
        .datagram(kA, command(CMD_GET_PARAMETER, {35}, 1))
        .datagram(kA, command(CMD_SET_SETTING, {109, 5}, 1))
        .datagram(kA, command(CMD_CALIBRATE, {0}, 1))
        .action(OwnerAction::DeliverQueued)
        .datagram(kA, command(CMD_MEMORY_START_GRAB, {0, 0}, 1))
        .datagram(kA, w2dStart(1, "D", "fromraw"))
        .datagram(kA, saveRaw(0, 0, 0, 3, "D:\\x.raw"))
        .datagram(kA, command(CMD_GET_STATUS, {}, 7))
        .datagram(kA, command(CMD_CLOSE, {}, 1))
        .datagram(kA, command(CMD_CLOSE, {}, 0))
        .datagram(kA, command(CMD_CLOSE, {}, 2))
        .datagram(kA, command(CMD_CLOSE, {}, 2))
        .action(OwnerAction::EnumerateRawFiles)
        .action(OwnerAction::Restart)
        .datagram(kA, enumerate(3));
    add("raw-files", w);
    add("raw-files-image-formats", FuzzInputWriter(kRawFiles | 0x02)
                                       .datagram(kA, enumerate())
                                       .datagram(kA, command(CMD_OPEN, {0, 1}))
                                       .datagram(kA, readImage(2, 0, 1500))
                                       .action(OwnerAction::TransferOptions)
                                       .datagram(kA, readImage(2, 1, 1500))
                                       .action(OwnerAction::TransferOptions)
                                       .datagram(kA, readImage(0, 0, 32)));
    add("raw-files-recorded", opened(kCamera)
                                  .datagram(kA, w2dStart(1, "E", "made"))
                                  .action(OwnerAction::LetDriverRun)
                                  .action(OwnerAction::LetDriverRun)
                                  .datagram(kA, command(CMD_WRITE_TO_DISK, {0}))
                                  .action(OwnerAction::EnumerateRawFiles));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const QString folder = QFile::decodeName(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "fuzz_seeds: cannot create %s\n", argv[1]);
        return 1;
    }
    sessionSeeds();
    parameterSeeds();
    settingsSeeds();
    imageSeeds();
    resendSeeds();
    recordingSeeds();
    hostilePathSeeds();
    ownerSeeds();
    rawFileSeeds();
    for (const Seed &seed : qAsConst(seeds)) {
        QFile file(folder + QLatin1Char('/') + QLatin1String(seed.name));
        if (!file.open(QIODevice::WriteOnly) || file.write(seed.input) != seed.input.size()) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", seed.name.constData());
            return 1;
        }
    }
    std::printf("fuzz_seeds: %d seeds in %s\n", int(seeds.size()), argv[1]);
    return 0;
}
