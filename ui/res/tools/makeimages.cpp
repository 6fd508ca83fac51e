// Draws the program's images (splash, icons, check boxes, arrows) into a
// folder; run once by hand, the PNGs it writes are kept in ui/res.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kOrange(0xFF, 0xAA, 0x34);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kBackground(0x20, 0x1F, 0x1F);

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A camera seen from the front, drawn into a square of side s at the origin.
void drawCamera(QPainter &p, double s)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double u = s / 64.0;

    QLinearGradient body(0, 14 * u, 0, 58 * u);
    body.setColorAt(0, QColor(0x5a, 0x5a, 0x5c));
    body.setColorAt(1, QColor(0x26, 0x26, 0x28));
    p.setPen(QPen(kSilver, 1.5 * u));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(18 * u, 7 * u, 20 * u, 10 * u), 2 * u, 2 * u);
    p.drawRoundedRect(QRectF(3 * u, 14 * u, 58 * u, 43 * u), 6 * u, 6 * u);

    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRect(QRectF(3.8 * u, 22 * u, 56.4 * u, 3 * u));

    QRadialGradient ring(QPointF(32 * u, 36 * u), 19 * u);
    ring.setColorAt(0.0, QColor(0xff, 0xc8, 0x70));
    ring.setColorAt(1.0, QColor(0xc0, 0x72, 0x10));
    p.setPen(QPen(QColor(0x1a, 0x1a, 0x1a), 1.2 * u));
    p.setBrush(ring);
    p.drawEllipse(QPointF(32 * u, 36 * u), 17 * u, 17 * u);

    QRadialGradient glass(QPointF(28 * u, 32 * u), 13 * u);
    glass.setColorAt(0.0, QColor(0x4a, 0x5a, 0x70));
    glass.setColorAt(0.6, QColor(0x15, 0x1a, 0x24));
    glass.setColorAt(1.0, QColor(0x05, 0x05, 0x08));
    p.setBrush(glass);
    p.drawEllipse(QPointF(32 * u, 36 * u), 11.5 * u, 11.5 * u);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(27.5 * u, 31.5 * u), 3.2 * u, 3.2 * u);
    p.setBrush(QColor(0xe0, 0x30, 0x20));
    p.drawEllipse(QPointF(52 * u, 18.5 * u), 2.6 * u, 2.6 * u);
    p.restore();
}

QImage cameraIcon(int size)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    drawCamera(p, size);
    return image;
}

QImage trayIcon()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x30, 0x1c, 0x00), 1));
    p.setBrush(kOrange);
    p.drawRoundedRect(QRectF(0.5, 3.5, 15, 11), 2, 2);
    p.drawRect(QRectF(4.5, 1.5, 5, 2));
    p.setBrush(QColor(0x18, 0x18, 0x1c));
    p.setPen(QPen(QColor(0xf0, 0xf0, 0xf0), 1));
    p.drawEllipse(QPointF(8, 9), 3.6, 3.6);
    return image;
}

QImage splash()
{
    QImage image(840, 420, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient bg(0, 0, 840, 420);
    bg.setColorAt(0, QColor(0x2e, 0x2d, 0x2d));
    bg.setColorAt(1, kBackground);
    p.fillRect(image.rect(), bg);

    // Speed streaks behind the camera.
    for (int i = 0; i < 9; ++i) {
        QColor c = kOrange;
        c.setAlpha(22 + i * 9);
        p.setPen(QPen(c, 2 + i % 3));
        const double y = 120 + i * 22;
        p.drawLine(QPointF(0, y), QPointF(120 + i * 14, y));
    }

    p.save();
    p.translate(70, 90);
    drawCamera(p, 240);
    p.restore();

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    p.setPen(kSilver);
    p.drawText(QRectF(350, 120, 470, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Arvex"));
    p.setPen(kOrange);
    p.drawText(QRectF(350, 172, 470, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Remote Control"));

    QFont line(QStringLiteral("DejaVu Sans"));
    line.setPixelSize(17);
    p.setFont(line);
    p.setPen(QColor(0xd8, 0xd8, 0xd8));
    p.drawText(QRectF(352, 240, 470, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("High-speed cameras over the network"));
    p.setPen(QColor(0x90, 0x90, 0x90));
    p.drawText(QRectF(352, 268, 470, 26), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version 1.00.06"));

    p.fillRect(QRectF(0, 404, 840, 4), kOrange);
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(13);
    p.setFont(small);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawText(QRectF(20, 372, 800, 24), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Korvane"));
    return image;
}

enum class Mark { Info, Warning, Question, Error };

QImage messageIcon(Mark mark)
{
    QImage image = blank(80, 80);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QColor top, bottom, glyph = Qt::white;
    QString text;
    switch (mark) {
    case Mark::Info: top = QColor(0x5a, 0xa8, 0xe8); bottom = QColor(0x1d, 0x5f, 0xa8); text = "i"; break;
    case Mark::Warning: top = QColor(0xff, 0xc4, 0x6a); bottom = QColor(0xe0, 0x86, 0x10); text = "!";
        glyph = QColor(0x20, 0x1f, 0x1f); break;
    case Mark::Question: top = QColor(0x6c, 0xc0, 0x7a); bottom = QColor(0x2a, 0x80, 0x3a); text = "?"; break;
    case Mark::Error: top = QColor(0xf0, 0x6a, 0x5c); bottom = QColor(0xb0, 0x24, 0x1c); text = QString(QChar(0x00D7)); break;
    }
    QLinearGradient fill(0, 4, 0, 76);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setBrush(fill);
    p.setPen(QPen(QColor(0, 0, 0, 90), 2));
    if (mark == Mark::Warning) {
        QPainterPath triangle;
        triangle.moveTo(40, 6);
        triangle.lineTo(76, 72);
        triangle.lineTo(4, 72);
        triangle.closeSubpath();
        p.drawPath(triangle);
    } else {
        p.drawEllipse(QPointF(40, 40), 35, 35);
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(mark == Mark::Error ? 58 : 46);
    p.setFont(font);
    p.setPen(glyph);
    const QRectF box = mark == Mark::Warning ? QRectF(0, 22, 80, 52) : QRectF(0, 0, 80, 80);
    p.drawText(box, Qt::AlignCenter, text);
    return image;
}

QImage checkBox(bool checked, bool enabled)
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(enabled ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x50, 0x50, 0x50), 1));
    p.setBrush(enabled ? QColor(0x2b, 0x2a, 0x2a) : QColor(0x26, 0x25, 0x25));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2, 2);
    if (checked) {
        QPainterPath tick;
        tick.moveTo(4, 8.2);
        tick.lineTo(7, 11.2);
        tick.lineTo(12.2, 4.6);
        p.setPen(QPen(enabled ? kOrange : QColor(0x70, 0x70, 0x70), 2.2, Qt::SolidLine,
                      Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return image;
}

enum class Direction { Up, Down, Left, Right };

QImage arrow(Direction direction, bool enabled)
{
    QImage image = blank(10, 10);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(enabled ? kSilver : QColor(0x5a, 0x5a, 0x5a));
    QPolygonF shape;
    switch (direction) {
    case Direction::Up: shape << QPointF(1, 7.5) << QPointF(9, 7.5) << QPointF(5, 2.5); break;
    case Direction::Down: shape << QPointF(1, 2.5) << QPointF(9, 2.5) << QPointF(5, 7.5); break;
    case Direction::Left: shape << QPointF(7.5, 1) << QPointF(7.5, 9) << QPointF(2.5, 5); break;
    case Direction::Right: shape << QPointF(2.5, 1) << QPointF(2.5, 9) << QPointF(7.5, 5); break;
    }
    p.drawPolygon(shape);
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name, const char *format = "png")
{
    QImageWriter writer(dir.filePath(name), format);
    if (!writer.write(image)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name), qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    bool ok = save(splash(), dir, "splash.png");
    ok &= save(cameraIcon(64), dir, "camera.png");
    ok &= save(trayIcon(), dir, "trayicon.png");
    ok &= save(cameraIcon(32), dir, "cam.ico", "ico");
    ok &= save(messageIcon(Mark::Info), dir, "ico-inf.png");
    ok &= save(messageIcon(Mark::Warning), dir, "ico-wrn.png");
    ok &= save(messageIcon(Mark::Question), dir, "ico-qstn.png");
    ok &= save(messageIcon(Mark::Error), dir, "ico-err.png");
    for (int c = 0; c < 2; ++c) {
        for (int e = 0; e < 2; ++e) {
            const QString name = QStringLiteral("checkbox-%1%2.png")
                                     .arg(c ? "checked" : "unchecked", e ? "" : "-disabled");
            ok &= save(checkBox(c, e), dir, name);
        }
    }
    const char *names[] = {"up", "down", "left", "right"};
    for (int d = 0; d < 4; ++d) {
        ok &= save(arrow(Direction(d), true), dir, QStringLiteral("arrow-%1.png").arg(names[d]));
        ok &= save(arrow(Direction(d), false), dir,
                   QStringLiteral("arrow-%1-disabled.png").arg(names[d]));
    }
    return ok ? 0 : 1;
}
