#include "ArtCommon.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace Art {

QImage canvas(int width, int height, const QColor &fill)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

QFont font(int pixelSize, int weight, bool italic)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Weight(weight));
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

namespace {

QPainterPath wave(double baseline, double amplitude, double phase, double period)
{
    QPainterPath path;
    path.moveTo(0, kWindowHeight);
    for (int x = 0; x <= kWindowWidth; x += 4)
        path.lineTo(x, baseline + amplitude * std::sin((x + phase) * 2 * M_PI / period));
    path.lineTo(kWindowWidth, kWindowHeight);
    path.closeSubpath();
    return path;
}

void drawBetaRibbon(QPainter &p)
{
    p.save();
    p.translate(kWindowWidth - 30, kWindowHeight - 30);
    p.rotate(-45);
    const QRectF band(-60, -11, 120, 22);
    QLinearGradient g(band.topLeft(), band.bottomLeft());
    g.setColorAt(0, QColor(0xff, 0x9a, 0x3c));
    g.setColorAt(1, QColor(0xe0, 0x6a, 0x10));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRect(band);
    p.setPen(Qt::white);
    p.setFont(font(12, QFont::Bold));
    p.drawText(band, Qt::AlignCenter, QStringLiteral("BETA"));
    p.restore();
}

} // namespace

QImage background(bool beta)
{
    QImage image = canvas(kWindowWidth, kWindowHeight);
    QPainter p(&image);
    prepare(p);
    QLinearGradient sky(0, 0, 0, kWindowHeight);
    sky.setColorAt(0, QColor(0xfd, 0xfe, 0xff));
    sky.setColorAt(1, QColor(0xe3, 0xec, 0xf4));
    p.fillRect(image.rect(), sky);

    // A soft halo behind the device picture.
    QRadialGradient halo(QPointF(93, 118), 110);
    halo.setColorAt(0, QColor(0xd6, 0xe8, 0xf7, 230));
    halo.setColorAt(0.7, QColor(0xe8, 0xf1, 0xfa, 120));
    halo.setColorAt(1, QColor(0xff, 0xff, 0xff, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(QPointF(93, 118), 110, 110);

    p.setBrush(QColor(0xc9, 0xdc, 0xec, 150));
    p.drawPath(wave(470, 9, 40, 300));
    p.setBrush(QColor(0xb5, 0xcf, 0xe5, 150));
    p.drawPath(wave(492, 7, 160, 240));

    QLinearGradient bar(0, 0, kWindowWidth, 0);
    bar.setColorAt(0, kBrandTeal);
    bar.setColorAt(1, kBrandBlue);
    p.fillRect(QRect(0, 0, kWindowWidth, 5), bar);
    if (beta)
        drawBetaRibbon(p);
    return image;
}

QImage button(int width, int height, ButtonState state)
{
    QImage image = canvas(width, height);
    QPainter p(&image);
    prepare(p);
    const QRectF body = QRectF(image.rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const double radius = height / 5.0;
    QColor top, bottom, border;
    double borderWidth = 1.5;
    switch (state) {
    case ButtonState::Highlight:
        top = QColor(0xf4, 0xf9, 0xff);
        bottom = QColor(0xc8, 0xdf, 0xf8);
        border = QColor(0x4a, 0x8f, 0xd8);
        break;
    case ButtonState::MouseOver:
        top = QColor(0xff, 0xff, 0xff);
        bottom = QColor(0xa6, 0xcf, 0xfb);
        border = QColor(0x1a, 0x6c, 0xd0);
        borderWidth = 2.5;
        break;
    case ButtonState::Click:
        top = QColor(0x8f, 0xb9, 0xe8);
        bottom = QColor(0xc4, 0xdb, 0xf4);
        border = QColor(0x17, 0x57, 0xa3);
        borderWidth = 2.0;
        break;
    case ButtonState::Disable:
        top = QColor(0xf0, 0xf0, 0xf0);
        bottom = QColor(0xd9, 0xdb, 0xde);
        border = QColor(0xb4, 0xb8, 0xbd);
        break;
    }
    QLinearGradient fill(0, 0, 0, height);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(border, borderWidth));
    p.setBrush(fill);
    p.drawRoundedRect(body, radius, radius);
    if (state == ButtonState::Click) {
        // Pressed in: a shadow along the top edge.
        QLinearGradient shade(0, 0, 0, height * 0.4);
        shade.setColorAt(0, QColor(0, 0, 0, 60));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(shade);
        p.drawRoundedRect(body.adjusted(1, 1, -1, -1), radius, radius);
    } else if (state != ButtonState::Disable) {
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(body.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);
    }
    return image;
}

QImage roundGlyph(int size, const QString &glyph, bool hovered)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    prepare(p);
    const QRectF circle = QRectF(image.rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    p.setPen(QPen(kBrandBlue, 1.5));
    p.setBrush(hovered ? QBrush(kBrandBlue) : QBrush(Qt::white));
    p.drawEllipse(circle);
    p.setPen(hovered ? Qt::white : kBrandBlue);
    p.setFont(font(size * 2 / 3, QFont::Bold));
    p.drawText(image.rect(), Qt::AlignCenter, glyph);
    return image;
}

QImage updateBadge()
{
    QImage image = canvas(48, 48);
    QPainter p(&image);
    prepare(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawEllipse(QPointF(24, 25.5), 16, 16);
    QRadialGradient red(QPointF(20, 18), 20);
    red.setColorAt(0, QColor(0xff, 0x6b, 0x5b));
    red.setColorAt(1, QColor(0xd7, 0x26, 0x1e));
    p.setPen(QPen(Qt::white, 2.5));
    p.setBrush(red);
    p.drawEllipse(QPointF(24, 24), 15, 15);
    return image;
}

QImage warningSign()
{
    QImage image = canvas(48, 48);
    QPainter p(&image);
    prepare(p);
    QPainterPath triangle;
    triangle.moveTo(24, 4);
    triangle.lineTo(45, 42);
    triangle.lineTo(3, 42);
    triangle.closeSubpath();
    QLinearGradient amber(0, 4, 0, 42);
    amber.setColorAt(0, QColor(0xff, 0xd2, 0x4a));
    amber.setColorAt(1, QColor(0xf2, 0xa3, 0x0f));
    p.setPen(QPen(QColor(0xb8, 0x74, 0x00), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(amber);
    p.drawPath(triangle);
    p.setPen(QColor(0x3a, 0x2a, 0x00));
    p.setFont(font(26, QFont::Black));
    p.drawText(QRect(0, 12, 48, 30), Qt::AlignCenter, QStringLiteral("!"));
    return image;
}

QImage appIcon(int size, bool opaque)
{
    QImage image = canvas(size, size, opaque ? QColor(Qt::white) : QColor(Qt::transparent));
    QPainter p(&image);
    prepare(p);
    p.scale(size / 128.0, size / 128.0);
    QLinearGradient g(0, 0, 128, 128);
    g.setColorAt(0, kBrandTeal);
    g.setColorAt(1, kBrandBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    if (opaque)
        p.drawRect(0, 0, 128, 128);
    else
        p.drawRoundedRect(QRectF(4, 4, 120, 120), 26, 26);
    // A watch face with a circular "renew" arrow.
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(QRectF(50, 10, 28, 108), 10, 10);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(64, 64), 36, 36);
    p.setBrush(QColor(0x10, 0x2a, 0x43));
    p.drawEllipse(QPointF(64, 64), 29, 29);
    QPen arrow(QColor(0x5c, 0xe1, 0xd3), 6, Qt::SolidLine, Qt::RoundCap);
    p.setPen(arrow);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(46, 46, 36, 36), 60 * 16, 270 * 16);
    QPainterPath head;
    head.moveTo(75, 37);
    head.lineTo(87, 50);
    head.lineTo(70, 53);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5c, 0xe1, 0xd3));
    p.drawPath(head);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    if (path.endsWith(QLatin1String(".jpg")))
        return image.convertToFormat(QImage::Format_RGB32).save(path, "JPG", 92);
    return image.save(path, "PNG");
}

} // namespace Art
