// Tests of the standard JPEG encoder and of the input layouts both encoders take.
#include "jpegcompress.h"
#include "jpegpixels.h"
#include "jpegtestimages.h"

#include <QtTest>

#include <turbojpeg.h>

#include <cstring>
#include <memory>

class TestJpegCompress : public QObject
{
    Q_OBJECT

private slots:
    void reducesDeepSamples_data();
    void reducesDeepSamples();
    void inputBytes_data();
    void inputBytes();
    void roundTrip_data();
    void roundTrip();
    void capacity_data();
    void capacity();
    void refusesBadArguments_data();
    void refusesBadArguments();
};

void TestJpegCompress::reducesDeepSamples_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("expected");

    QTest::newRow("9-bit max") << 9 << 0x1FF << 0xFF;
    QTest::newRow("10-bit max") << 10 << 0x3FF << 0xFF;
    QTest::newRow("10-bit half") << 10 << 0x200 << 0x80;
    QTest::newRow("10-bit low bits dropped") << 10 << 0x003 << 0x00;
    QTest::newRow("12-bit") << 12 << 0xABC << 0xAB;
    QTest::newRow("16-bit high byte") << 16 << 0x1234 << 0x12;
    QTest::newRow("16-bit max") << 16 << 0xFFFF << 0xFF;
    QTest::newRow("10-bit stray high bit ignored") << 10 << 0x8001 << 0x00;
    QTest::newRow("12-bit stray high bits ignored") << 12 << 0xF7FF << 0x7F;
}

void TestJpegCompress::reducesDeepSamples()
{
    QFETCH(int, bits);
    QFETCH(int, sample);
    QFETCH(int, expected);

    // Little-endian: low byte first. A neighbour on each side checks that
    // samples stay in their own slot.
    const uint8_t source[6] = {0xFF, 0xFF, uint8_t(sample), uint8_t(sample >> 8), 0, 0};
    uint8_t target[3] = {0x55, 0x55, 0x55};
    reduceSamplesTo8(source, 3, bits, target);
    QCOMPARE(int(target[1]), expected);
    QCOMPARE(int(target[0]), 0xFF);
    QCOMPARE(int(target[2]), 0);
}

void TestJpegCompress::inputBytes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<qulonglong>("expected");

    QTest::newRow("gray 8") << 1280 << 1024 << 1 << 8 << qulonglong(1280 * 1024);
    QTest::newRow("gray 1") << 10 << 10 << 1 << 1 << qulonglong(100);
    QTest::newRow("gray 10") << 1280 << 1024 << 1 << 10 << qulonglong(1280 * 1024 * 2);
    QTest::newRow("gray 16") << 3 << 5 << 1 << 16 << qulonglong(30);
    QTest::newRow("rgb 24") << 1280 << 1024 << 3 << 24 << qulonglong(1280 * 1024 * 3);
    QTest::newRow("rgb 48") << 1280 << 1024 << 3 << 48 << qulonglong(1280 * 1024 * 6);
    QTest::newRow("largest frame") << 65500 << 65500 << 3 << 48 << qulonglong(65500) * 65500 * 6;
    QTest::newRow("gray 0 bits") << 8 << 8 << 1 << 0 << qulonglong(0);
    QTest::newRow("gray 17 bits") << 8 << 8 << 1 << 17 << qulonglong(0);
    QTest::newRow("rgb 16 bits") << 8 << 8 << 3 << 16 << qulonglong(0);
    QTest::newRow("rgb 32 bits") << 8 << 8 << 3 << 32 << qulonglong(0);
    QTest::newRow("two channels") << 8 << 8 << 2 << 16 << qulonglong(0);
    QTest::newRow("width 0") << 0 << 8 << 1 << 8 << qulonglong(0);
    QTest::newRow("height negative") << 8 << -1 << 1 << 8 << qulonglong(0);
    QTest::newRow("too wide for JPEG") << 65501 << 8 << 1 << 8 << qulonglong(0);
}

void TestJpegCompress::inputBytes()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);
    QFETCH(qulonglong, expected);

    QCOMPARE(qulonglong(jpegInputBytes(width, height, channels, bitsPerPixel)), expected);
}

void TestJpegCompress::roundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");

    for (int bits : {8, 10, 12, 16})
        QTest::addRow("gray %d 1280x1024", bits) << 1280 << 1024 << 1 << bits;
    QTest::newRow("rgb 24 1280x1024") << 1280 << 1024 << 3 << 24;
    QTest::newRow("rgb 48 1280x1024") << 1280 << 1024 << 3 << 48;
    // Sizes that are no multiple of the MCU.
    QTest::newRow("gray 12 37x23") << 37 << 23 << 1 << 12;
    QTest::newRow("rgb 24 37x23") << 37 << 23 << 3 << 24;
    QTest::newRow("rgb 48 1x1") << 1 << 1 << 3 << 48;
}

void TestJpegCompress::roundTrip()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);

    const TestImage image = makeTestImage(width, height, channels, bitsPerPixel, 5);
    // The server's compress buffer: six bytes per pixel.
    std::vector<uint8_t> buffer(size_t(width) * size_t(height) * 6 + 16384);
    uint8_t *output = buffer.data();
    size_t size = buffer.size();
    QCOMPARE(CompressJPEGData(image.pixels.data(), width, height, channels, bitsPerPixel, &output,
                              &size),
             JpegStatus::Ok);
    QCOMPARE(output, buffer.data());
    QVERIFY(hasJpegMarkers(output, size));

    const DecodedJpeg decoded = decodeJpeg(output, size, channels);
    QVERIFY(decoded.ok);
    QCOMPARE(decoded.width, width);
    QCOMPARE(decoded.height, height);
    QCOMPARE(decoded.subsampling, channels == 1 ? int(TJSAMP_GRAY) : int(TJSAMP_420));
    const double error = meanAbsError(decoded.pixels.data(), image.reduced.data(),
                                      image.reduced.size());
    QVERIFY2(error < 3.0, qPrintable(QString("mean error %1").arg(error)));
}

void TestJpegCompress::capacity_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");
    QTest::addColumn<int>("slack");  // capacity minus the JPEG's size
    QTest::addColumn<bool>("fits");

    for (int channels : {1, 3}) {
        const int bits = channels == 1 ? 8 : 48;
        const char *name = channels == 1 ? "gray" : "rgb";
        QTest::addRow("%s exact size", name) << channels << bits << 0 << true;
        QTest::addRow("%s one byte short", name) << channels << bits << -1 << false;
        QTest::addRow("%s no room", name) << channels << bits << INT_MIN << false;
    }
}

void TestJpegCompress::capacity()
{
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);
    QFETCH(int, slack);
    QFETCH(bool, fits);

    const int width = 320;
    const int height = 240;
    const TestImage image = makeTestImage(width, height, channels, bitsPerPixel);
    std::vector<uint8_t> reference(size_t(width) * size_t(height) * 6 + 16384);
    uint8_t *output = reference.data();
    size_t referenceSize = reference.size();
    QCOMPARE(CompressJPEGData(image.pixels.data(), width, height, channels, bitsPerPixel, &output,
                              &referenceSize),
             JpegStatus::Ok);

    // A buffer smaller than the worst case: the JPEG must arrive through
    // scratch memory, and nothing may land past the capacity. The heap block
    // ends at the capacity so that AddressSanitizer sees any stray write.
    const size_t capacity = slack == INT_MIN ? 0 : size_t(int(referenceSize) + slack);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[capacity]);
    std::vector<uint8_t> guarded(capacity + 64, 0xA5);
    for (uint8_t *buffer : {exact.get(), guarded.data()}) {
        output = buffer;
        size_t size = capacity;
        const JpegStatus status = CompressJPEGData(image.pixels.data(), width, height, channels,
                                                   bitsPerPixel, &output, &size);
        if (fits) {
            QCOMPARE(status, JpegStatus::Ok);
            QCOMPARE(output, buffer);
            QCOMPARE(size, referenceSize);
            QCOMPARE(std::memcmp(output, reference.data(), size), 0);
        } else {
            QCOMPARE(status, JpegStatus::OutputTooSmall);
            QCOMPARE(size, size_t(0));
        }
    }
    for (size_t i = capacity; i < guarded.size(); ++i)
        QCOMPARE(int(guarded[i]), 0xA5);
}

void TestJpegCompress::refusesBadArguments_data()
{
    QTest::addColumn<bool>("nullPixels");
    QTest::addColumn<bool>("nullOutput");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bitsPerPixel");

    QTest::newRow("no pixels") << true << false << 16 << 16 << 1 << 8;
    QTest::newRow("no output buffer") << false << true << 16 << 16 << 1 << 8;
    QTest::newRow("width 0") << false << false << 0 << 16 << 1 << 8;
    QTest::newRow("height negative") << false << false << 16 << -16 << 1 << 8;
    QTest::newRow("two channels") << false << false << 16 << 16 << 2 << 16;
    QTest::newRow("gray 24 bits") << false << false << 16 << 16 << 1 << 24;
    QTest::newRow("rgb 8 bits") << false << false << 16 << 16 << 3 << 8;
}

void TestJpegCompress::refusesBadArguments()
{
    QFETCH(bool, nullPixels);
    QFETCH(bool, nullOutput);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, channels);
    QFETCH(int, bitsPerPixel);

    std::vector<uint8_t> pixels(16 * 16 * 6, 0x40);
    std::vector<uint8_t> buffer(65536);
    uint8_t *output = nullOutput ? nullptr : buffer.data();
    size_t size = buffer.size();
    QCOMPARE(CompressJPEGData(nullPixels ? nullptr : pixels.data(), width, height, channels,
                              bitsPerPixel, &output, &size),
             JpegStatus::BadArgument);
    QCOMPARE(size, size_t(0));

    JpegPartTable parts;
    QCOMPARE(FastCompressJPEGData(nullPixels ? nullptr : pixels.data(), width, height, channels,
                                  bitsPerPixel, output, buffer.size(), &parts),
             JpegStatus::BadArgument);
    QCOMPARE(parts.count, 0u);
}

QTEST_APPLESS_MAIN(TestJpegCompress)
#include "tst_jpegcompress.moc"
