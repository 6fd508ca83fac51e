// Raw pixel layouts and JPEG parts to QImage.
#include "imagedecode.h"

#include "protocol.h"

#include <QtEndian>

#include <turbojpeg.h>

#include <cstring>
#include <memory>

namespace {

struct TjDeleter {
    void operator()(void *handle) const
    {
        if (handle)
            tjDestroy(handle);
    }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

QImage fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return QImage();
}

uint64_t rawBytes(uint32_t width, uint32_t height, uint32_t bits)
{
    const uint64_t pixels = uint64_t(width) * height;
    if (bits < 9)
        return pixels;
    if (bits < 17)
        return 2 * pixels;
    if (bits < 25)
        return 3 * pixels;
    return 6 * pixels;
}

QImage decodeRaw(const ReceivedImage &image, QString *error)
{
    const ImageDescription &d = image.description;
    const uint64_t expected = rawBytes(d.width, d.height, d.bitsPerPixel);
    if (uint64_t(image.data.size()) != expected)
        return fail(error, QStringLiteral("%1 bytes of pixels for %2 x %3 at %4 bits, expected %5")
                               .arg(image.data.size())
                               .arg(d.width)
                               .arg(d.height)
                               .arg(d.bitsPerPixel)
                               .arg(expected));
    const int w = int(d.width);
    const int h = int(d.height);
    const auto *src = reinterpret_cast<const uint8_t *>(image.data.constData());
    QImage out;
    if (d.bitsPerPixel < 9) {
        out = QImage(w, h, QImage::Format_Grayscale8);
        for (int y = 0; y < h && !out.isNull(); ++y)
            memcpy(out.scanLine(y), src + size_t(y) * size_t(w), size_t(w));
    } else if (d.bitsPerPixel < 17) {
        out = QImage(w, h, QImage::Format_Grayscale16);
        for (int y = 0; y < h && !out.isNull(); ++y) {
            auto *line = reinterpret_cast<quint16 *>(out.scanLine(y));
            const uint8_t *row = src + size_t(y) * size_t(w) * 2;
            for (int x = 0; x < w; ++x)
                line[x] = qFromLittleEndian<quint16>(row + 2 * x);
        }
    } else if (d.bitsPerPixel < 25) {
        out = QImage(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h && !out.isNull(); ++y)
            memcpy(out.scanLine(y), src + size_t(y) * size_t(w) * 3, size_t(w) * 3);
    } else {
        out = QImage(w, h, QImage::Format_RGBX64);
        for (int y = 0; y < h && !out.isNull(); ++y) {
            auto *line = reinterpret_cast<QRgba64 *>(out.scanLine(y));
            const uint8_t *row = src + size_t(y) * size_t(w) * 6;
            for (int x = 0; x < w; ++x) {
                const uint8_t *p = row + 6 * x;
                line[x] = QRgba64::fromRgba64(qFromLittleEndian<quint16>(p),
                                              qFromLittleEndian<quint16>(p + 2),
                                              qFromLittleEndian<quint16>(p + 4), 0xFFFF);
            }
        }
    }
    if (out.isNull() && w > 0 && h > 0)
        return fail(error, QStringLiteral("no memory for a %1 x %2 image").arg(w).arg(h));
    return out;
}

QImage decodeJpeg(const ReceivedImage &image, QString *error)
{
    const ImageDescription &d = image.description;
    QVector<uint32_t> parts = d.partSizes;
    if (d.format == IMAGE_FORMAT_JPEG)
        parts = {uint32_t(image.data.size())};
    if (parts.isEmpty() || d.sendSize == 0)
        return fail(error, QStringLiteral("the server sent no JPEG data (its compression "
                                          "failed)"));
    const bool gray = d.bitsPerPixel <= 16;
    QImage out(int(d.width), int(d.height),
               gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (out.isNull())
        return fail(error, QStringLiteral("a %1 x %2 JPEG image cannot be held")
                               .arg(d.width)
                               .arg(d.height));
    TjHandle tj(tjInitDecompress());
    if (!tj)
        return fail(error, QStringLiteral("TurboJPEG: %1").arg(QString::fromLatin1(tjGetErrorStr2(nullptr))));
    const auto *data = reinterpret_cast<const unsigned char *>(image.data.constData());
    uint64_t offset = 0;
    int row = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const uint32_t size = parts[i];
        if (offset + size > uint64_t(image.data.size()))
            return fail(error, QStringLiteral("JPEG part %1 runs past the data").arg(i));
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(tj.get(), data + offset, size, &width, &height, &subsampling,
                                &colorspace) != 0)
            return fail(error, QStringLiteral("JPEG part %1: %2")
                                   .arg(i)
                                   .arg(QString::fromLatin1(tjGetErrorStr2(tj.get()))));
        if (width != int(d.width) || height <= 0 || row + height > int(d.height))
            return fail(error, QStringLiteral("JPEG part %1 is %2 x %3, which does not fit a "
                                              "%4 x %5 image at row %6")
                                   .arg(i)
                                   .arg(width)
                                   .arg(height)
                                   .arg(d.width)
                                   .arg(d.height)
                                   .arg(row));
        if (tjDecompress2(tj.get(), data + offset, size, out.scanLine(row), width,
                          int(out.bytesPerLine()), height, gray ? TJPF_GRAY : TJPF_RGB,
                          TJFLAG_ACCURATEDCT) != 0)
            return fail(error, QStringLiteral("JPEG part %1: %2")
                                   .arg(i)
                                   .arg(QString::fromLatin1(tjGetErrorStr2(tj.get()))));
        offset += size;
        row += height;
    }
    if (row != int(d.height))
        return fail(error, QStringLiteral("the JPEG parts hold %1 rows of %2").arg(row).arg(d.height));
    return out;
}

}  // namespace

QImage decodeTransferredImage(const ReceivedImage &image, QString *error)
{
    if (image.description.format == IMAGE_FORMAT_RAW)
        return decodeRaw(image, error);
    return decodeJpeg(image, error);
}
