// Benchmark: JPEG transfers on this machine's cores. Side by side in one
// run, on 1280 x 1024 frames of the simulator (8-bit gray and 24-bit RGB):
//   - encoder megapixels per second: the fast encoder (format 1, strips on
//     the worker pool) and the standard one (format 2, one thread), on the
//     same frames, rounds alternating;
//   - whole transfers from an in-process server at delay 0 in 8988-byte
//     datagrams, request to last byte, formats 0, 1 and 2 alternating image
//     by image; the client's decode of the JPEG data timed apart.
// Not a test.
//
//   bench_jpeg_transfer [IMAGES] [SECONDS]   (defaults 60 images a format, 0.4 s a round)
#include "benchrig.h"
#include "imagedecode.h"
#include "jpegcompress.h"
#include "testpattern.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Ports of this benchmark: the server 36300 and up.
constexpr quint16 kServerPort = 36300;
constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr uint32_t kPacket = 8988;
constexpr int kFrames = 8;
constexpr int kRounds = 5;
constexpr double kEncoderTarget = 1.8;

using Clock = std::chrono::steady_clock;

// Frames per second of one encoder over about `seconds`.
double encoderRate(bool fast, const std::vector<std::vector<uint8_t>> &frames, uint32_t bits,
                   std::vector<uint8_t> &output, double seconds)
{
    const int channels = bits > 16 ? 3 : 1;
    const Clock::time_point start = Clock::now();
    int done = 0;
    Clock::time_point now = start;
    do {
        const std::vector<uint8_t> &frame = frames[size_t(done % kFrames)];
        JpegStatus status = JpegStatus::Ok;
        if (fast) {
            JpegPartTable parts;
            status = FastCompressJPEGData(frame.data(), int(kWidth), int(kHeight), channels,
                                          int(bits), output.data(), output.size(), &parts);
        } else {
            uint8_t *out = output.data();
            size_t size = output.size();
            status = CompressJPEGData(frame.data(), int(kWidth), int(kHeight), channels, int(bits),
                                      &out, &size);
        }
        if (status != JpegStatus::Ok)
            return 0;
        ++done;
        now = Clock::now();
    } while (std::chrono::duration<double>(now - start).count() < seconds);
    return done / std::chrono::duration<double>(now - start).count();
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int images = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const double seconds = argc > 2 ? std::max(0.05, std::atof(argv[2])) : 0.4;

    ServerRig rig;
    if (!rig.start(kServerPort, 0, 0)) {
        std::fprintf(stderr, "server did not start: %s\n", qPrintable(rig.lastError().message));
        return 1;
    }
    std::printf("bench_jpeg_transfer: %ux%u, %u hardware threads, %s\n", kWidth, kHeight,
                std::thread::hardware_concurrency(), loadText().c_str());
    const double megapixels = double(kWidth) * kHeight / 1e6;
    bool allMet = true;
    for (uint32_t bits : {8u, 24u}) {
        // Encoders alone, on the frames the simulator serves.
        std::vector<std::vector<uint8_t>> frames;
        for (int n = 0; n < kFrames; ++n) {
            frames.emplace_back(imageBytesFor(kWidth, kHeight, bits));
            renderTestPattern(frames.back().data(), kWidth, kHeight, bits, uint32_t(n));
        }
        std::vector<uint8_t> output(size_t(kWidth) * kHeight * 6 + 16384);
        encoderRate(true, frames, bits, output, 0.1);  // warm-up: pool, scratch
        encoderRate(false, frames, bits, output, 0.1);
        std::vector<double> fastRates, standardRates;
        for (int r = 0; r < kRounds; ++r) {
            fastRates.push_back(encoderRate(true, frames, bits, output, seconds) * megapixels);
            standardRates.push_back(encoderRate(false, frames, bits, output, seconds) * megapixels);
        }
        const Summary fast = summarizeHigh(fastRates);
        const Summary standard = summarizeHigh(standardRates);
        const double encoderRatio = standard.median > 0 ? fast.median / standard.median : 0;

        // Whole transfers, the formats taking turns image by image.
        if (!rig.setFormat(kWidth, kHeight, bits)) {
            std::fprintf(stderr, "format refused: %s\n", qPrintable(rig.lastError().message));
            return 1;
        }
        std::vector<double> whole[3], decode[3], serverCpu[3];
        uint64_t bytes[3] = {};
        int failed = 0;
        for (int i = 0; i < images; ++i) {
            for (int format = 0; format < 3; ++format) {
                rig.setTransferOptions(0, format);
                const auto read = rig.read(kPacket, false);
                if (!read || read->image.description.format != uint32_t(format)) {
                    ++failed;
                    continue;
                }
                whole[format].push_back(read->wholeSeconds * 1e3);
                serverCpu[format].push_back(read->serverCpuSeconds * 1e3);
                bytes[format] = read->image.description.sendSize;
                const Clock::time_point start = Clock::now();
                QString why;
                const bool decoded = !decodeTransferredImage(read->image, &why).isNull();
                decode[format].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start)
                                             .count());
                failed += decoded ? 0 : 1;
            }
        }
        rig.setTransferOptions(0, 0);
        const Summary t[3] = {summarizeLow(whole[0]), summarizeLow(whole[1]), summarizeLow(whole[2])};
        const Summary d[3] = {summarizeLow(decode[0]), summarizeLow(decode[1]),
                              summarizeLow(decode[2])};
        const bool encoderMet = encoderRatio >= kEncoderTarget;
        const bool transferMet = t[1].median < t[2].median && failed == 0;
        allMet = allMet && encoderMet && transferMet;

        std::printf("\n%s\n", bits == 8 ? "8-bit gray" : "24-bit RGB");
        std::printf("  encoder fast (format 1)      best %7.1f  median %7.1f MP/s\n", fast.best,
                    fast.median);
        std::printf("  encoder standard (format 2)  best %7.1f  median %7.1f MP/s\n", standard.best,
                    standard.median);
        std::printf("  fast / standard: median %.2f x  -> target %.1f x %s\n", encoderRatio,
                    kEncoderTarget, encoderMet ? "met" : "NOT met");
        const char *names[3] = {"format 0 (raw)      ", "format 1 (fast JPEG)", "format 2 (JPEG)     "};
        for (int format = 0; format < 3; ++format)
            std::printf("  transfer %s  best %6.2f  median %6.2f ms, %8llu bytes; server thread "
                        "CPU %5.2f ms; client decode median %5.2f ms\n",
                        names[format], t[format].best, t[format].median,
                        static_cast<unsigned long long>(bytes[format]),
                        summarizeLow(serverCpu[format]).median, d[format].median);
        std::printf("  format 1 / format 2 transfer time: median %.2f  -> target < 1 %s (failed "
                    "reads %d)\n",
                    t[2].median > 0 ? t[1].median / t[2].median : 0, transferMet ? "met" : "NOT met",
                    failed);
    }
    std::printf("\n%s\n", allMet ? "JPEG targets met" : "some JPEG targets not met");
    return 0;
}
