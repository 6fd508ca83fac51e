// The raw-file format: header codec, validation of files, growing writes.
#include "rawfile.h"
#include "testpattern.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

RawFileHeader sampleHeader()
{
    RawFileHeader h = makeRawFileHeader(6, 4, 12);
    h.sourceModel = 52;
    h.sourceSerial = 2501000001u;
    h.sourceDeviceId = 0x100;
    h.firstFrame = 1;
    h.frameStride = 2;
    h.createdMs = 0x0123456789ABull;
    return h;
}

QByteArray encoded(const RawFileHeader &h)
{
    QByteArray bytes(int(kRawFileHeaderSize), '\0');
    encodeRawFileHeader(h, reinterpret_cast<uint8_t *>(bytes.data()));
    return bytes;
}

void setU32(QByteArray &bytes, int offset, uint32_t value)
{
    qToLittleEndian<uint32_t>(value, reinterpret_cast<uint8_t *>(bytes.data()) + offset);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray frameOf(const RawFileHeader &h, uint32_t n)
{
    QByteArray frame(int(h.frameBytes), '\0');
    renderTestPattern(reinterpret_cast<uint8_t *>(frame.data()), h.width, h.height, h.bitsPerPixel, n);
    return frame;
}

}  // namespace

class TestRawFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void headerRoundTrip()
    {
        const RawFileHeader h = sampleHeader();
        const QByteArray bytes = encoded(h);
        // A few bytes at their documented places.
        QCOMPARE(bytes.left(8), QByteArray("ARVEXRAW"));
        QCOMPARE(qFromLittleEndian<uint32_t>(bytes.constData() + 12), kRawFileHeaderSize);
        QCOMPARE(qFromLittleEndian<uint32_t>(bytes.constData() + 32), 48u);  // 6 x 4 x 2
        QCOMPARE(qFromLittleEndian<uint64_t>(bytes.constData() + 56), h.createdMs);
        QString reason;
        const auto back = decodeRawFileHeader(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                              size_t(bytes.size()), &reason);
        QVERIFY2(back, qPrintable(reason));
        QCOMPARE(back->width, 6u);
        QCOMPARE(back->height, 4u);
        QCOMPARE(back->bitsPerPixel, 12u);
        QCOMPARE(back->frameBytes, 48u);
        QCOMPARE(back->sourceModel, 52u);
        QCOMPARE(back->sourceSerial, 2501000001u);
        QCOMPARE(back->sourceDeviceId, 0x100u);
        QCOMPARE(back->firstFrame, 1u);
        QCOMPARE(back->frameStride, 2u);
        QCOMPARE(back->createdMs, h.createdMs);
    }

    void headerRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QByteArray good = encoded(sampleHeader());
        QByteArray b;
        QTest::newRow("empty") << QByteArray() << "truncated";
        QTest::newRow("foreign") << QByteArray("\x89PNG\r\n\x1a\n").append(good.mid(8)) << "foreign";
        b = good; setU32(b, 8, 2);
        QTest::newRow("version 2") << b << "unknown version 2";
        QTest::newRow("cut header") << good.left(100) << "truncated";
        b = good; setU32(b, 12, 64);
        QTest::newRow("header size 64") << b << "header size";
        b = good; setU32(b, 16, 0);
        QTest::newRow("width 0") << b << "geometry";
        b = good; setU32(b, 20, 20000);
        QTest::newRow("height 20000") << b << "geometry";
        b = good; setU32(b, 24, 32);
        QTest::newRow("32 bits") << b << "depth";
        b = good; setU32(b, 32, 47);
        QTest::newRow("frame size") << b << "frame size";
    }

    void headerRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QString why;
        QVERIFY(!decodeRawFileHeader(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                     size_t(bytes.size()), &why));
        QVERIFY2(why.contains(reason), qPrintable(why));
    }

    void fileChecks_data()
    {
        QTest::addColumn<int>("statedFrames");
        QTest::addColumn<int>("extraBytes");  // after two complete frames
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exact") << 2 << 0 << true;
        QTest::newRow("partial frame after") << 2 << 20 << true;
        QTest::newRow("fewer than stated") << 3 << 47 << false;
        QTest::newRow("no frames stated") << 0 << 0 << true;
    }

    void fileChecks()
    {
        QFETCH(int, statedFrames);
        QFETCH(int, extraBytes);
        QFETCH(bool, accepted);
        RawFileHeader h = sampleHeader();
        h.frameCount = uint32_t(statedFrames);
        const QString path = dir.filePath(QStringLiteral("check.raw"));
        QVERIFY(writeFile(path, encoded(h) + frameOf(h, 1) + frameOf(h, 3)
                                    + QByteArray(extraBytes, 'x')));
        QString reason;
        const auto header = inspectRawFile(path, &reason);
        QCOMPARE(bool(header), accepted);
        if (!accepted)
            QVERIFY2(reason.contains(QLatin1String("holds 2 complete frames, header states 3")),
                     qPrintable(reason));
    }

    void readerReadsFramesAndRefusesPastTheEnd()
    {
        RawFileHeader h = sampleHeader();
        h.frameCount = 2;
        const QString path = dir.filePath(QStringLiteral("read.raw"));
        QVERIFY(writeFile(path, encoded(h) + frameOf(h, 1) + frameOf(h, 3)));
        RawFileReader reader;
        QString reason;
        QVERIFY2(reader.open(path, &reason), qPrintable(reason));
        QByteArray frame(int(h.frameBytes), '\0');
        auto *out = reinterpret_cast<uint8_t *>(frame.data());
        QVERIFY(reader.readFrame(1, out));
        QCOMPARE(frame, frameOf(h, 3));
        QVERIFY(!reader.readFrame(2, out, &reason));
        QVERIFY(reason.contains(QLatin1String("past")));
    }

    void writerKeepsFileWholeWhileGrowing()
    {
        const QString path = dir.filePath(QStringLiteral("grow.raw"));
        RawFileHeader h = makeRawFileHeader(5, 3, 48);
        h.firstFrame = 0;
        RawFileWriter writer;
        QString error;
        QVERIFY2(writer.create(path, h, &error), qPrintable(error));
        RawFileReader follower;  // opened on the empty recording
        QVERIFY2(follower.open(path, &error), qPrintable(error));
        QCOMPARE(follower.header().frameCount, 0u);
        for (uint32_t k = 0; k < 3; ++k) {
            const QByteArray frame = frameOf(h, k);
            QVERIFY(writer.appendFrame(reinterpret_cast<const uint8_t *>(frame.constData()), &error));
            const auto now = inspectRawFile(path, &error);
            QVERIFY2(now, qPrintable(error));
            QCOMPARE(now->frameCount, k + 1);
            QByteArray back(int(h.frameBytes), '\0');
            QVERIFY(follower.readFrame(k, reinterpret_cast<uint8_t *>(back.data()), &error));
            QCOMPARE(back, frame);
        }
        QCOMPARE(writer.frameCount(), 3u);
        QCOMPARE(QFileInfo(path).size(), qint64(kRawFileHeaderSize + 3 * h.frameBytes));
    }

    void writerReportsCreateFailure()
    {
        RawFileWriter writer;
        QString error;
        QVERIFY(!writer.create(dir.filePath(QStringLiteral("missing/folder/x.raw")),
                               makeRawFileHeader(2, 2, 8), &error));
        QVERIFY(error.contains(QLatin1String("missing/folder/x.raw")));
        QVERIFY(!writer.appendFrame(reinterpret_cast<const uint8_t *>("1234")));
    }
};

QTEST_GUILESS_MAIN(TestRawFile)
#include "tst_rawfile.moc"
