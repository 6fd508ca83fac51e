// The test pattern against its formula at every depth and several frames.
#include "cameradevice.h"
#include "testpattern.h"

#include <QtTest>

#include <vector>

namespace {

// The formula, one sample at a time, written independently of the renderer.
std::vector<uint8_t> expectedPattern(uint32_t w, uint32_t h, uint32_t b, uint32_t n)
{
    std::vector<uint8_t> out;
    auto put16 = [&](uint32_t v) {
        out.push_back(uint8_t(v & 0xFF));
        out.push_back(uint8_t((v >> 8) & 0xFF));
    };
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            if (b <= 16) {
                const uint64_t v = (uint64_t(x) + 2ull * y + 3ull * n) % (1ull << b);
                if (b <= 8)
                    out.push_back(uint8_t(v));
                else
                    put16(uint32_t(v));
            } else if (b <= 24) {
                out.push_back(uint8_t((x + n) % 256));
                out.push_back(uint8_t((y + n) % 256));
                out.push_back(uint8_t((x + y + n) % 256));
            } else {
                put16((x + n) % 65536);
                put16((y + n) % 65536);
                put16((x + y + n) % 65536);
            }
        }
    }
    return out;
}

}  // namespace

class TestTestPattern : public QObject
{
    Q_OBJECT

private slots:
    void matchesFormula_data()
    {
        QTest::addColumn<uint32_t>("width");
        QTest::addColumn<uint32_t>("height");
        QTest::addColumn<uint32_t>("bits");
        QTest::addColumn<uint32_t>("frame");
        const uint32_t depths[] = {8, 10, 12, 16, 24, 48};
        // 0, wrap points of 8 and 16 bits, and a frame number near 2^32
        const uint32_t frames[] = {0, 1, 85, 21845, 4000000000u};
        for (uint32_t b : depths) {
            for (uint32_t n : frames)
                QTest::addRow("%u bits, frame %u", b, n) << 300u << 7u << b << n;
        }
        QTest::newRow("1 bit") << 5u << 3u << 1u << 2u;
        QTest::newRow("odd width, 12 bits") << 1u << 40000u << 12u << 9u;
        // taller than the 256 rows after which RGB 24 rows repeat
        QTest::newRow("24 bits, 600 rows") << 3u << 600u << 24u << 250u;
        QTest::newRow("48 bits, 600 rows") << 3u << 600u << 48u << 65530u;
    }

    void matchesFormula()
    {
        QFETCH(uint32_t, width);
        QFETCH(uint32_t, height);
        QFETCH(uint32_t, bits);
        QFETCH(uint32_t, frame);
        const std::vector<uint8_t> expected = expectedPattern(width, height, bits, frame);
        QCOMPARE(size_t(imageBytesFor(width, height, bits)), expected.size());
        // One guard byte past the frame: the renderer must not touch it.
        std::vector<uint8_t> out(expected.size() + 1, 0xEE);
        QCOMPARE(renderTestPattern(out.data(), width, height, bits, frame), expected.size());
        QCOMPARE(out.back(), uint8_t(0xEE));
        out.pop_back();
        QVERIFY(out == expected);
        QCOMPARE(findTestPatternMismatch(out.data(), out.size(), width, height, bits, frame),
                 int64_t(-1));
    }

    void mismatchNamesTheByte()
    {
        std::vector<uint8_t> image(imageBytesFor(16, 4, 16));
        renderTestPattern(image.data(), 16, 4, 16, 3);
        image[37] ^= 1;
        QCOMPARE(findTestPatternMismatch(image.data(), image.size(), 16, 4, 16, 3), int64_t(37));
        QCOMPARE(findTestPatternMismatch(image.data(), 10, 16, 4, 16, 3), int64_t(10));
        QCOMPARE(findTestPatternMismatch(image.data(), image.size(), 16, 4, 16, 4), int64_t(0));
    }
};

QTEST_GUILESS_MAIN(TestTestPattern)
#include "tst_testpattern.moc"
