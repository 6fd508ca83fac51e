// The client's read-out pieces without a socket: reassembly by index,
// resend datagrams, the image reply's checks, and each pixel layout decoded
// and written as a PNG that reads back with the samples it was given.
#include "imagedecode.h"
#include "imagereader.h"
#include "pngwriter.h"
#include "segmentassembly.h"

#include "cameradevice.h"
#include "jpegcompress.h"
#include "testpattern.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray pattern(uint32_t w, uint32_t h, uint32_t bits, uint32_t frame)
{
    QByteArray out(int(imageBytesFor(w, h, bits)), 0);
    renderTestPattern(reinterpret_cast<uint8_t *>(out.data()), w, h, bits, frame);
    return out;
}

// The pattern's sample of channel c at (x, y), as the device delivers it.
uint32_t patternSample(uint32_t x, uint32_t y, uint32_t bits, uint32_t n, int c)
{
    if (bits <= 16)
        return (x + 2 * y + 3 * n) & ((1u << (bits <= 8 ? (bits ? bits : 8) : bits)) - 1);
    const uint32_t sums[3] = {x + n, y + n, x + y + n};
    return sums[c] & (bits <= 24 ? 0xFFu : 0xFFFFu);
}

// The sample a decoded or loaded image holds.
uint32_t imageSample(const QImage &image, int x, int y, int c)
{
    switch (image.format()) {
    case QImage::Format_Grayscale8:
        return image.constScanLine(y)[x];
    case QImage::Format_Grayscale16:
        return reinterpret_cast<const quint16 *>(image.constScanLine(y))[x];
    case QImage::Format_RGB888:
        return image.constScanLine(y)[3 * x + c];
    case QImage::Format_RGB32: {
        const QRgb p = image.pixel(x, y);
        return uint32_t(c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p));
    }
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64: {
        const QRgba64 p = reinterpret_cast<const QRgba64 *>(image.constScanLine(y))[x];
        return c == 0 ? p.red() : c == 1 ? p.green() : p.blue();
    }
    default:
        return 0xFFFFFFFF;
    }
}

QByteArray segmentDatagramBytes(uint32_t index, uint32_t length, uint32_t last, int payload,
                                char fill)
{
    QByteArray d(16 + payload, fill);
    SegmentHeader h;
    h.index = index;
    h.length = length;
    h.last = last;
    encodeSegmentHeader(reinterpret_cast<uint8_t *>(d.data()), h);
    return d;
}

SegmentAssembly::Outcome feed(SegmentAssembly &a, const QByteArray &datagram)
{
    SegmentHeader h;
    const auto *p = reinterpret_cast<const uint8_t *>(datagram.constData());
    if (!decodeSegmentHeader(p, size_t(datagram.size()), &h))
        return SegmentAssembly::Outcome::Rejected;
    return a.add(h, p + 16, size_t(datagram.size()) - 16);
}

CommandReply imageReply(QByteArray *storage, const QVector<uint32_t> &words)
{
    *storage = QByteArray(int(kCommandReplySize), 0);
    auto *p = reinterpret_cast<uint8_t *>(storage->data());
    initCommandReply(p, 1, CMD_READ_IMAGE, 20);
    for (int i = 0; i < words.size(); ++i)
        writeU32(p, 16 + 4 * size_t(i), words[i]);
    return decodeCommandReply(p, kCommandReplySize);
}

}  // namespace

class TestTransferClient : public QObject
{
    Q_OBJECT

private slots:
    void reassembly();
    void resendDatagrams_data();
    void resendDatagrams();
    void imageReplyChecks_data();
    void imageReplyChecks();
    void rawLayoutsToPng_data();
    void rawLayoutsToPng();
    void jpegPartsStackedTopToBottom();
    void brokenJpegRefused();
};

void TestTransferClient::reassembly()
{
    SegmentAssembly a;
    QVERIFY(!a.reset(100, 31));
    QVERIFY(!a.reset(65536u * 16 + 1, 32));  // 65537 segments
    QVERIFY(a.reset(10000, 1500));
    QCOMPARE(a.layout().count, 7u);
    using O = SegmentAssembly::Outcome;
    QCOMPARE(feed(a, segmentDatagramBytes(6, 1096, 1, 1484, 'z')), O::Added);
    QCOMPARE(feed(a, segmentDatagramBytes(6, 1096, 1, 1484, 'z')), O::Duplicate);
    QCOMPARE(feed(a, segmentDatagramBytes(7, 1484, 0, 1484, 'y')), O::Rejected);   // past N
    QCOMPARE(feed(a, segmentDatagramBytes(2, 1096, 0, 1484, 'y')), O::Rejected);   // wrong length
    QCOMPARE(feed(a, segmentDatagramBytes(6, 1484, 1, 1484, 'y')), O::Rejected);   // last is short
    QCOMPARE(feed(a, segmentDatagramBytes(1, 1484, 0, 1000, 'y')), O::Rejected);   // truncated
    QCOMPARE(a.missing(), (QVector<uint16_t>{0, 1, 2, 3, 4, 5}));
    for (uint32_t i = 0; i < 6; ++i)
        QCOMPARE(feed(a, segmentDatagramBytes(i, 1484, 0, 1484, char('a' + i))), O::Added);
    QVERIFY(a.complete());
    QCOMPARE(a.data().size(), 10000);
    QCOMPARE(a.data().at(0), 'a');
    QCOMPARE(a.data().at(5 * 1484 + 1483), 'f');
    QCOMPARE(a.data().at(9999), 'z');

    QVERIFY(a.reset(0, 1500));
    QVERIFY(a.complete());
    QVERIFY(a.missing().isEmpty());
}

void TestTransferClient::resendDatagrams_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("sizes");
    QTest::newRow("none") << 0 << QVector<int>{};
    QTest::newRow("one") << 1 << QVector<int>{1};
    QTest::newRow("exactly one datagram") << 4088 << QVector<int>{4088};
    QTest::newRow("one more") << 4089 << QVector<int>{4088, 1};
    QTest::newRow("a whole image") << 65536 << (QVector<int>(16, 4088) << 128);
}

void TestTransferClient::resendDatagrams()
{
    QFETCH(int, count);
    QFETCH(QVector<int>, sizes);
    QVector<uint16_t> indices;
    for (int i = 0; i < count; ++i)
        indices << uint16_t(65535 - i);
    const QVector<QByteArray> datagrams = buildResendDatagrams(indices, 500, 3);
    QCOMPARE(datagrams.size(), sizes.size());
    int next = 0;
    for (int d = 0; d < datagrams.size(); ++d) {
        const auto *p = reinterpret_cast<const uint8_t *>(datagrams[d].constData());
        const size_t length = size_t(datagrams[d].size());
        QVERIFY(length <= kReceiveBufferSize);
        QCOMPARE(length, size_t(16 + 2 * sizes[d]));
        const PacketHeader h = decodeHeader(p, length);
        QCOMPARE(h.type, PKT_RESEND);
        QCOMPARE(h.resultOrSelector, uint8_t(3));
        QCOMPARE(h.requestId, uint16_t(500 + d));
        QCOMPARE(readU32(p, length, 8), uint32_t(sizes[d]));
        QCOMPARE(readU32(p, length, 12), d + 1 == datagrams.size() ? 1u : 0u);
        for (int i = 0; i < sizes[d]; ++i)
            QCOMPARE(readU16(p, length, 16 + 2 * size_t(i)), indices[next++]);
    }
    QCOMPARE(next, count);
}

void TestTransferClient::imageReplyChecks_data()
{
    QTest::addColumn<QVector<uint>>("words");  // from offset 16
    QTest::addColumn<bool>("valid");
    QTest::newRow("raw") << QVector<uint>{0, 10000, 100, 100, 8} << true;
    QTest::newRow("parts add up") << QVector<uint>{1, 30, 100, 100, 8, 2, 10, 20} << true;
    QTest::newRow("parts do not add up") << QVector<uint>{1, 31, 100, 100, 8, 2, 10, 20}
                                         << false;
    QTest::newRow("more parts than a reply lists") << QVector<uint>{1, 0, 100, 100, 8, 35}
                                                   << false;
    QTest::newRow("unknown format") << QVector<uint>{3, 10, 100, 100, 8} << false;
}

void TestTransferClient::imageReplyChecks()
{
    QFETCH(QVector<uint>, words);
    QFETCH(bool, valid);
    QByteArray storage;
    QVector<uint32_t> w;
    for (uint v : words)
        w << v;
    QString why;
    const auto d = decodeImageReply(imageReply(&storage, w), &why);
    QCOMPARE(bool(d), valid);
    QCOMPARE(why.isEmpty(), valid);
}

void TestTransferClient::rawLayoutsToPng_data()
{
    QTest::addColumn<uint>("bits");
    QTest::addColumn<int>("channels");
    for (uint bits : {8u, 10u, 12u, 16u})
        QTest::newRow(qPrintable(QStringLiteral("%1 bits").arg(bits))) << bits << 1;
    QTest::newRow("RGB 24") << 24u << 3;
    QTest::newRow("RGB 48") << 48u << 3;
}

void TestTransferClient::rawLayoutsToPng()
{
    QFETCH(uint, bits);
    QFETCH(int, channels);
    const uint32_t w = 300, h = 70, n = 9;  // wide enough for every sum to wrap at 8 bits
    ReceivedImage image;
    image.description = ImageDescription{IMAGE_FORMAT_RAW, 0, w, h, bits, {}};
    image.data = pattern(w, h, bits, n);
    image.description.sendSize = uint32_t(image.data.size());
    QString why;
    const QImage decoded = decodeTransferredImage(image, &why);
    QVERIFY2(!decoded.isNull(), qPrintable(why));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.png"));
    QVERIFY2(writePng(decoded, path, &why), qPrintable(why));
    const QImage loaded(path);
    QCOMPARE(loaded.size(), QSize(int(w), int(h)));
    for (const QImage *img : {&decoded, &loaded}) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                for (int c = 0; c < channels; ++c) {
                    if (imageSample(*img, int(x), int(y), c) != patternSample(x, y, bits, n, c))
                        QFAIL(qPrintable(QStringLiteral("%1 (%2, %3) channel %4: %5, not %6")
                                             .arg(img == &decoded ? "decoded" : "PNG")
                                             .arg(x).arg(y).arg(c)
                                             .arg(imageSample(*img, int(x), int(y), c))
                                             .arg(patternSample(x, y, bits, n, c))));
                }
            }
        }
    }

    // A size that does not match the description is refused, not read past.
    image.data.chop(1);
    QVERIFY(decodeTransferredImage(image, &why).isNull());
    QVERIFY(!why.isEmpty());
}

void TestTransferClient::jpegPartsStackedTopToBottom()
{
    // Rows that differ strongly from strip to strip: a misplaced strip shows.
    const uint32_t w = 64, h = 100;
    QByteArray gray(int(w * h), 0);
    for (uint32_t y = 0; y < h; ++y)
        memset(gray.data() + y * w, int(y * 2), w);
    QByteArray out(1 << 20, 0);
    JpegPartTable parts;
    QCOMPARE(FastCompressJPEGData(reinterpret_cast<const uint8_t *>(gray.constData()), int(w),
                                  int(h), 1, 8, reinterpret_cast<uint8_t *>(out.data()),
                                  size_t(out.size()), &parts),
             JpegStatus::Ok);
    QVERIFY(parts.count > 1);
    ReceivedImage image;
    image.description = ImageDescription{IMAGE_FORMAT_FAST_JPEG, 0, w, h, 8, {}};
    for (uint32_t i = 0; i < parts.count; ++i)
        image.description.partSizes << parts.sizes[i];
    image.description.sendSize = uint32_t(jpegPartsTotal(parts));
    image.data = out.left(int(image.description.sendSize));
    QString why;
    const QImage decoded = decodeTransferredImage(image, &why);
    QVERIFY2(!decoded.isNull(), qPrintable(why));
    QCOMPARE(decoded.format(), QImage::Format_Grayscale8);
    for (uint32_t y = 0; y < h; ++y)
        QVERIFY2(qAbs(int(decoded.constScanLine(int(y))[w / 2]) - int(y * 2)) <= 3,
                 qPrintable(QString::number(y)));
}

void TestTransferClient::brokenJpegRefused()
{
    ReceivedImage image;
    image.description = ImageDescription{IMAGE_FORMAT_JPEG, 64, 16, 16, 8, {}};
    image.data = QByteArray(64, 'x');
    QString why;
    QVERIFY(decodeTransferredImage(image, &why).isNull());
    QVERIFY(why.startsWith(QLatin1String("JPEG part 0")));
    image.description.sendSize = 0;
    image.data.clear();
    QVERIFY(decodeTransferredImage(image, &why).isNull());
}

QTEST_GUILESS_MAIN(TestTransferClient)
#include "tst_transfer_client.moc"
