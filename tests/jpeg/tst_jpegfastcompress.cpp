// Tests of the fast JPEG encoder: strip layout, part table, capacity, and
// callers on several threads sharing the worker pool.
#include "jpegcompress.h"
#include "jpegtestimages.h"
#include "jpegworkerpool.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr uint8_t kGuard = 0xA5;

struct FastResult {
    JpegStatus status = JpegStatus::EncoderFailed;
    JpegPartTable parts;
    std::vector<uint8_t> output;  // capacity bytes, then guard bytes
};

FastResult fastCompress(const TestImage &image, size_t capacity, uint32_t maxParts = kJpegMaxParts)
{
    FastResult result;
    result.parts.count = maxParts;
    result.output.assign(capacity + 64, kGuard);
    result.status = FastCompressJPEGData(image.pixels.data(), image.width, image.height,
                                         image.channels, image.bitsPerPixel, result.output.data(),
                                         capacity, &result.parts);
    return result;
}

// The server's compress buffer: six bytes per pixel and 16 KiB over.
size_t serverCapacity(const TestImage &image)
{
    return size_t(image.width) * size_t(image.height) * 6 + 16384;
}

bool guardIntact(const std::vector<uint8_t> &buffer, size_t from)
{
    for (size_t i = from; i < buffer.size(); ++i) {
        if (buffer[i] != kGuard)
            return false;
    }
    return true;
}

}  // namespace

class TestJpegFastCompress : public QObject
{
    Q_OBJECT

private slots:
    void parts_data();
    void parts();
    void onePartMatchesStandardEncoder();
    void capacity_data();
    void capacity();
    void refusesEmptyPartTable();
    void poolRunsEveryIndexOnce();
    void concurrentCallers();
};

void TestJpegFastCompress::parts_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<uint>("maxParts");
    QTest::addColumn<QVector<int>>("stripHeights");

    const QVector<int> eight128(8, 128);
    QTest::newRow("gray 8 1280x1024") << 1280 << 1024 << 1 << 8 << 8u << eight128;
    QTest::newRow("gray 12 1280x1024") << 1280 << 1024 << 1 << 12 << 8u << eight128;
    QTest::newRow("rgb 24 1280x1024") << 1280 << 1024 << 3 << 24 << 8u << eight128;
    QTest::newRow("rgb 48 1280x1024") << 1280 << 1024 << 3 << 48 << 8u << eight128;
    QTest::newRow("gray 1280x1000, short last strip")
        << 1280 << 1000 << 1 << 8 << 8u << QVector<int>{128, 128, 128, 128, 128, 128, 128, 104};
    QTest::newRow("rgb 37x130, strips of 32")
        << 37 << 130 << 3 << 24 << 8u << QVector<int>{32, 32, 32, 32, 2};
    QTest::newRow("gray 64x40") << 64 << 40 << 1 << 16 << 8u << QVector<int>{16, 16, 8};
    QTest::newRow("gray 16x8") << 16 << 8 << 1 << 8 << 8u << QVector<int>{8};
    QTest::newRow("rgb 1x1") << 1 << 1 << 3 << 24 << 8u << QVector<int>{1};
    QTest::newRow("caller takes 4") << 320 << 1024 << 1 << 8 << 4u << QVector<int>(4, 256);
    QTest::newRow("caller takes 1") << 320 << 240 << 3 << 24 << 1u << QVector<int>{240};
    QTest::newRow("table's 64 asked, 8 made") << 320 << 1024 << 1 << 8 << 64u << eight128;
}

void TestJpegFastCompress::parts()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);
    QFETCH(uint, maxParts);
    QFETCH(QVector<int>, stripHeights);

    const TestImage image = makeTestImage(width, height, channels, bitsPerPixel, 7);
    const FastResult result = fastCompress(image, serverCapacity(image), maxParts);
    QCOMPARE(result.status, JpegStatus::Ok);
    QCOMPARE(int(result.parts.count), stripHeights.size());
    for (size_t i = result.parts.count; i < kJpegPartTableSlots; ++i)
        QCOMPARE(result.parts.sizes[i], 0u);

    const size_t rowSamples = size_t(width) * size_t(channels);
    size_t offset = 0;
    int y = 0;
    for (int i = 0; i < stripHeights.size(); ++i) {
        const uint8_t *part = result.output.data() + offset;
        const size_t size = result.parts.sizes[i];
        QVERIFY2(hasJpegMarkers(part, size), qPrintable(QString("part %1").arg(i)));
        const DecodedJpeg decoded = decodeJpeg(part, size, channels);
        QVERIFY(decoded.ok);
        QCOMPARE(decoded.width, width);
        QCOMPARE(decoded.height, stripHeights[i]);
        const double error = meanAbsError(decoded.pixels.data(),
                                          image.reduced.data() + size_t(y) * rowSamples,
                                          decoded.pixels.size());
        QVERIFY2(error < 3.0, qPrintable(QString("part %1: mean error %2").arg(i).arg(error)));
        offset += size;
        y += stripHeights[i];
    }
    QCOMPARE(y, height);
    QCOMPARE(jpegPartsTotal(result.parts), offset);
    QVERIFY(guardIntact(result.output, offset));
}

void TestJpegFastCompress::onePartMatchesStandardEncoder()
{
    // Both encoders code with the same parameters, so a single strip must be
    // the standard encoder's JPEG byte for byte.
    const TestImage image = makeTestImage(200, 150, 3, 48, 3);
    const FastResult fast = fastCompress(image, serverCapacity(image), 1);
    QCOMPARE(fast.status, JpegStatus::Ok);
    QCOMPARE(fast.parts.count, 1u);

    std::vector<uint8_t> buffer(serverCapacity(image));
    uint8_t *output = buffer.data();
    size_t size = buffer.size();
    QCOMPARE(CompressJPEGData(image.pixels.data(), image.width, image.height, image.channels,
                              image.bitsPerPixel, &output, &size),
             JpegStatus::Ok);
    QCOMPARE(size_t(fast.parts.sizes[0]), size);
    QCOMPARE(std::memcmp(fast.output.data(), output, size), 0);
}

void TestJpegFastCompress::capacity_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<int>("slack");  // capacity minus the parts' total
    QTest::addColumn<bool>("fits");

    QTest::newRow("gray exact size") << 1 << 10 << 0 << true;
    QTest::newRow("gray one byte short") << 1 << 10 << -1 << false;
    QTest::newRow("rgb exact size") << 3 << 24 << 0 << true;
    QTest::newRow("rgb one byte short") << 3 << 24 << -1 << false;
    QTest::newRow("rgb no room") << 3 << 24 << INT_MIN << false;
}

void TestJpegFastCompress::capacity()
{
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);
    QFETCH(int, slack);
    QFETCH(bool, fits);

    const TestImage image = makeTestImage(640, 480, channels, bitsPerPixel);
    const FastResult reference = fastCompress(image, serverCapacity(image));
    QCOMPARE(reference.status, JpegStatus::Ok);
    const size_t total = jpegPartsTotal(reference.parts);
    const size_t capacity = slack == INT_MIN ? 0 : size_t(int(total) + slack);

    const FastResult result = fastCompress(image, capacity);
    QVERIFY(guardIntact(result.output, capacity));
    if (fits) {
        QCOMPARE(result.status, JpegStatus::Ok);
        QCOMPARE(result.parts.count, reference.parts.count);
        QCOMPARE(std::memcmp(result.output.data(), reference.output.data(), total), 0);
    } else {
        QCOMPARE(result.status, JpegStatus::OutputTooSmall);
        QCOMPARE(result.parts.count, 0u);
        QCOMPARE(jpegPartsTotal(result.parts), size_t(0));
        QVERIFY(guardIntact(result.output, 0));
    }
}

void TestJpegFastCompress::refusesEmptyPartTable()
{
    const TestImage image = makeTestImage(64, 64, 1, 8);
    const FastResult result = fastCompress(image, serverCapacity(image), 0);
    QCOMPARE(result.status, JpegStatus::BadArgument);
    QCOMPARE(result.parts.count, 0u);
    QVERIFY(guardIntact(result.output, 0));

    QCOMPARE(FastCompressJPEGData(image.pixels.data(), 64, 64, 1, 8, nullptr, 65536, nullptr),
             JpegStatus::BadArgument);
}

void TestJpegFastCompress::poolRunsEveryIndexOnce()
{
    // Several callers on a small pool: every index of every call runs exactly
    // once, and no call returns before its own indices have finished.
    JpegWorkerPool pool(2);
    struct Call {
        std::atomic<int> runs[kJpegMaxParts];
    };
    auto task = [](void *context, int index) {
        static_cast<Call *>(context)->runs[index].fetch_add(1);
    };
    std::atomic<int> faults{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&pool, &faults, task, t] {
            for (int round = 0; round < 300; ++round) {
                Call call;
                for (std::atomic<int> &runs : call.runs)
                    runs = 0;
                const int count = 1 + (round + t) % int(kJpegMaxParts);
                pool.run(count, task, &call);
                for (int i = 0; i < int(kJpegMaxParts); ++i) {
                    if (call.runs[i].load() != (i < count ? 1 : 0))
                        faults.fetch_add(1);
                }
            }
        });
    }
    for (std::thread &caller : callers)
        caller.join();
    QCOMPARE(faults.load(), 0);
}

void TestJpegFastCompress::concurrentCallers()
{
    // Two monitors compressing at once: each thread's results must equal the
    // ones made alone, byte for byte (the codec is deterministic).
    const TestImage gray = makeTestImage(1280, 1024, 1, 12, 1);
    const TestImage rgb = makeTestImage(1280, 1024, 3, 24, 2);
    const FastResult grayReference = fastCompress(gray, serverCapacity(gray));
    const FastResult rgbReference = fastCompress(rgb, serverCapacity(rgb));
    QCOMPARE(grayReference.status, JpegStatus::Ok);
    QCOMPARE(rgbReference.status, JpegStatus::Ok);

    std::atomic<int> faults{0};
    auto caller = [&faults](const TestImage *image, const FastResult *reference) {
        std::vector<uint8_t> standard(serverCapacity(*image));
        for (int round = 0; round < 12; ++round) {
            const FastResult result = fastCompress(*image, serverCapacity(*image));
            const size_t total = jpegPartsTotal(result.parts);
            if (result.status != JpegStatus::Ok || result.parts.count != reference->parts.count
                || total != jpegPartsTotal(reference->parts)
                || std::memcmp(result.output.data(), reference->output.data(), total) != 0)
                faults.fetch_add(1);
            // The standard encoder runs on the same thread between fast calls,
            // sharing that thread's codec and scratch memory.
            uint8_t *output = standard.data();
            size_t size = standard.size();
            if (CompressJPEGData(image->pixels.data(), image->width, image->height,
                                 image->channels, image->bitsPerPixel, &output, &size)
                    != JpegStatus::Ok
                || size == 0)
                faults.fetch_add(1);
        }
    };
    std::thread first(caller, &gray, &grayReference);
    std::thread second(caller, &rgb, &rgbReference);
    first.join();
    second.join();
    QCOMPARE(faults.load(), 0);
}

QTEST_APPLESS_MAIN(TestJpegFastCompress)
#include "tst_jpegfastcompress.moc"
