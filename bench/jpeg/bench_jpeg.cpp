// Throughput of the standard and the fast JPEG encoder on 1280x1024 test
// patterns, 8-bit gray and 24-bit RGB. Usage: bench_jpeg [seconds per round]
#include "jpegcompress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kFrames = 8;  // distinct frames, so no run codes one image over and over
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> makeFrame(int channels, int n)
{
    std::vector<uint8_t> pixels(size_t(kWidth) * kHeight * channels);
    uint8_t *p = pixels.data();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (channels == 1) {
                *p++ = uint8_t(x + 2 * y + 3 * n);
            } else {
                *p++ = uint8_t(x + n);
                *p++ = uint8_t(y + n);
                *p++ = uint8_t(x + y + n);
            }
        }
    }
    return pixels;
}

struct Encoder {
    const char *name;
    bool fast;
};

// One frame through the encoder; returns the JPEG bytes or 0 on failure.
size_t encode(const Encoder &encoder, const std::vector<uint8_t> &frame, int channels,
              std::vector<uint8_t> &output)
{
    const int bits = channels == 1 ? 8 : 24;
    if (encoder.fast) {
        JpegPartTable parts;
        if (FastCompressJPEGData(frame.data(), kWidth, kHeight, channels, bits, output.data(),
                                 output.size(), &parts)
            != JpegStatus::Ok)
            return 0;
        return jpegPartsTotal(parts);
    }
    uint8_t *out = output.data();
    size_t size = output.size();
    if (CompressJPEGData(frame.data(), kWidth, kHeight, channels, bits, &out, &size)
        != JpegStatus::Ok)
        return 0;
    return size;
}

// Frames per second over one round of about `seconds`.
double round(const Encoder &encoder, const std::vector<std::vector<uint8_t>> &frames, int channels,
             std::vector<uint8_t> &output, double seconds, size_t *bytes)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    int done = 0;
    Clock::time_point now = start;
    do {
        *bytes = encode(encoder, frames[size_t(done % kFrames)], channels, output);
        if (*bytes == 0)
            return 0.0;
        ++done;
        now = Clock::now();
    } while (now < end);
    return done / std::chrono::duration<double>(now - start).count();
}

}  // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::max(0.05, std::atof(argv[1])) : 0.5;
    const Encoder encoders[2] = {{"standard (1 thread)", false}, {"fast (worker pool)", true}};
    std::vector<uint8_t> output(size_t(kWidth) * kHeight * 6 + 16384);
    const double megapixels = double(kWidth) * kHeight / 1e6;

    std::printf("JPEG encoders, %dx%d, quality 90, %u hardware threads, best of %d rounds of %.2f s\n",
                kWidth, kHeight, std::thread::hardware_concurrency(), kRounds, seconds);
    for (int channels : {1, 3}) {
        std::vector<std::vector<uint8_t>> frames;
        for (int n = 0; n < kFrames; ++n)
            frames.push_back(makeFrame(channels, n));

        double best[2] = {};
        size_t bytes[2] = {};
        for (const Encoder &encoder : encoders)
            round(encoder, frames, channels, output, 0.1, &bytes[0]);  // warm-up: pool, scratch
        // Rounds alternate between the encoders, so that load from elsewhere
        // on the machine weighs on both alike.
        for (int r = 0; r < kRounds; ++r) {
            for (int e = 0; e < 2; ++e)
                best[e] = std::max(best[e], round(encoders[e], frames, channels, output, seconds,
                                                  &bytes[e]));
        }
        if (best[0] == 0.0 || best[1] == 0.0) {
            std::fprintf(stderr, "encoding failed\n");
            return 1;
        }
        std::printf("%s\n", channels == 1 ? "8-bit gray" : "24-bit RGB");
        for (int e = 0; e < 2; ++e)
            std::printf("  %-20s %8.1f MP/s  %7.1f frames/s  %8zu bytes in the last JPEG\n",
                        encoders[e].name, best[e] * megapixels, best[e], bytes[e]);
        std::printf("  fast / standard      %8.2f x\n", best[1] / best[0]);
    }
    return 0;
}
