#include "DeviceArt.h"

#include "ArtCommon.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <cmath>

namespace DeviceArt {

using Art::font;

QList<Model> models()
{
    const auto model = [](const char *name, const char *family, const char *suffix, Shape shape, QRgb body,
                          QRgb accent) {
        return Model{QLatin1String(name), QLatin1String(family), QLatin1String(suffix), shape,
                     QColor(body),        QColor(accent)};
    };
    // Every model the updater can meet, each in its own colours: the
    // built-in table, the models the drive scan registers (watches of the
    // FIT kind, the Pacer50 family's cycling computers) and those of the
    // product range the updater's settings name.
    return {
        model("Pacer20", "PACER", "20", Shape::RoundWatch, 0x2b2f36, 0xe53935),
        model("Pacer20plus", "PACER", "20 plus", Shape::BikeComputer, 0x353a42, 0xff8f00),
        model("Pacer21", "PACER", "21", Shape::BikeComputer, 0x1f3b2f, 0x43c56b),
        model("Pacer30", "PACER", "30", Shape::SquareWatch, 0x3b3f45, 0xf2c230),
        model("Pacer35", "PACER", "35", Shape::SquareWatch, 0x1c2e4a, 0x299df0),
        model("Pacer40", "PACER", "40", Shape::SquareWatch, 0x33244a, 0xa86bf5),
        model("Pacer50", "PACER", "50", Shape::MapComputer, 0x22272e, 0xef5350),
        model("Pacer50CR", "PACER", "50 CR", Shape::MapComputer, 0xe6e9ed, 0x00897b),
        model("Pacer60", "PACER", "60", Shape::MapComputer, 0x18181b, 0xd4a53a),
        model("Pacer60F", "PACER", "60 F", Shape::RoundWatch, 0x12363a, 0x1ec8c0),
        model("Pacer70", "PACER", "70", Shape::RoundWatch, 0x4a1c2a, 0xff5c8a),
        model("Pulsar30", "PULSAR", "30", Shape::BikeComputer, 0x263a55, 0x3d8bfd),
        model("Pulsar35", "PULSAR", "35", Shape::BikeComputer, 0x3a2c24, 0xff7a2e),
        model("Pulsar40", "PULSAR", "40", Shape::BikeComputer, 0x2e4a3c, 0x7be0b0),
        model("Pulsar60", "PULSAR", "60", Shape::BikeComputer, 0x1b1e22, 0xb6e32a),
    };
}

namespace {

constexpr int kWidth = 136;
constexpr int kHeight = 202;
const QPointF kCentre(68, 101);

QColor shade(const QColor &c, int factor) { return factor > 100 ? c.lighter(factor) : c.darker(200 - factor); }

void drawStrap(QPainter &p, const QColor &body, double halfWidth)
{
    QLinearGradient g(kCentre.x() - halfWidth, 0, kCentre.x() + halfWidth, 0);
    g.setColorAt(0, shade(body, 80));
    g.setColorAt(0.5, shade(body, 125));
    g.setColorAt(1, shade(body, 80));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(kCentre.x() - halfWidth, 0, 2 * halfWidth, kHeight), 10, 10);
    p.setBrush(shade(body, 60));
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(kCentre.x(), 164 + i * 10), 2.2, 2.2);
}

void drawSideButtons(QPainter &p, const QRectF &caseRect, const QColor &accent)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9a, 0xa3, 0xad));
    p.drawRoundedRect(QRectF(caseRect.right() - 2, kCentre.y() - 26, 7, 14), 2, 2);
    p.drawRoundedRect(QRectF(caseRect.right() - 2, kCentre.y() + 12, 7, 14), 2, 2);
    p.setBrush(accent);
    p.drawRoundedRect(QRectF(caseRect.left() - 5, kCentre.y() - 7, 7, 14), 2, 2);
}

void drawScreen(QPainter &p, const QRectF &screen, const QColor &accent, bool round, const QString &big,
                const QString &top, const QString &bottom)
{
    QLinearGradient glass(screen.topLeft(), screen.bottomRight());
    glass.setColorAt(0, QColor(0x1a, 0x26, 0x33));
    glass.setColorAt(1, QColor(0x07, 0x0c, 0x12));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    if (round)
        p.drawEllipse(screen);
    else
        p.drawRoundedRect(screen, 14, 14);
    // An activity ring along the edge of the display.
    p.setPen(QPen(QColor(255, 255, 255, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
    const QRectF ring = screen.adjusted(5, 5, -5, -5);
    if (round) {
        p.drawArc(ring, 0, 360 * 16);
        p.setPen(QPen(accent, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, 90 * 16, -250 * 16);
    } else {
        p.drawLine(QPointF(ring.left() + 8, ring.bottom()), QPointF(ring.right() - 8, ring.bottom()));
        p.setPen(QPen(accent, 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(ring.left() + 8, ring.bottom()), QPointF(ring.left() + ring.width() * 0.65, ring.bottom()));
    }
    p.setPen(Qt::white);
    p.setFont(font(int(screen.width() / 3.6), QFont::Bold));
    p.drawText(screen.adjusted(0, -2, 0, 0), Qt::AlignCenter, big);
    p.setPen(accent);
    p.setFont(font(int(screen.width() / 9), QFont::Bold));
    p.drawText(QRectF(screen.left(), screen.top() + screen.height() * 0.16, screen.width(), screen.height() * 0.2),
               Qt::AlignCenter, top);
    p.setPen(QColor(0xc8, 0xd3, 0xde));
    p.setFont(font(int(screen.width() / 10)));
    p.drawText(QRectF(screen.left(), screen.top() + screen.height() * 0.64, screen.width(), screen.height() * 0.2),
               Qt::AlignCenter, bottom);
}

void drawMetalCase(QPainter &p, const QRectF &caseRect, bool round, const QColor &accent)
{
    QLinearGradient metal(caseRect.topLeft(), caseRect.bottomRight());
    metal.setColorAt(0, QColor(0xe9, 0xed, 0xf1));
    metal.setColorAt(0.45, QColor(0x8d, 0x97, 0xa2));
    metal.setColorAt(1, QColor(0x4b, 0x53, 0x5c));
    p.setPen(QPen(QColor(0x33, 0x39, 0x40), 1.2));
    p.setBrush(metal);
    if (round)
        p.drawEllipse(caseRect);
    else
        p.drawRoundedRect(caseRect, 24, 24);
    const QRectF bezel = caseRect.adjusted(5, 5, -5, -5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1c, 0x21, 0x27));
    if (round) {
        p.drawEllipse(bezel);
        p.setPen(QPen(QColor(0xd8, 0xde, 0xe4), 1.2));
        for (int i = 0; i < 12; ++i) {
            const double a = i * M_PI / 6;
            const double r1 = bezel.width() / 2 - 1.5, r2 = r1 - (i % 3 == 0 ? 5 : 3);
            p.drawLine(kCentre + QPointF(std::cos(a) * r1, std::sin(a) * r1),
                       kCentre + QPointF(std::cos(a) * r2, std::sin(a) * r2));
        }
        p.setPen(QPen(accent, 2));
        p.drawArc(bezel.adjusted(1, 1, -1, -1), 80 * 16, 20 * 16);
    } else {
        p.drawRoundedRect(bezel, 20, 20);
    }
}

void drawWatch(QPainter &p, const Model &model)
{
    const bool round = model.shape == Shape::RoundWatch;
    drawStrap(p, model.body, round ? 30 : 34);
    const QRectF caseRect = round ? QRectF(kCentre.x() - 56, kCentre.y() - 56, 112, 112)
                                  : QRectF(kCentre.x() - 52, kCentre.y() - 58, 104, 116);
    drawSideButtons(p, caseRect, model.accent);
    drawMetalCase(p, caseRect, round, model.accent);
    const QRectF screen = round ? caseRect.adjusted(14, 14, -14, -14) : caseRect.adjusted(12, 13, -12, -13);
    // The release-cable animation's unnamed watch keeps its heart rate.
    const QString top = model.family.isEmpty() ? QStringLiteral("\u2665 128") : model.label();
    drawScreen(p, screen, model.accent, round, QStringLiteral("10:08"), top, QStringLiteral("5.24 km"));
}

void drawBikeComputer(QPainter &p, const Model &model)
{
    // The handlebar mount behind the unit.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5b, 0x64, 0x6e));
    p.drawRoundedRect(QRectF(kCentre.x() - 14, 4, 28, 194), 8, 8);
    const QRectF body(kCentre.x() - 56, 18, 112, 166);
    QLinearGradient shell(body.topLeft(), body.bottomRight());
    shell.setColorAt(0, shade(model.body, 150));
    shell.setColorAt(1, shade(model.body, 80));
    p.setPen(QPen(QColor(0x10, 0x12, 0x15), 1.5));
    p.setBrush(shell);
    p.drawRoundedRect(body, 20, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(model.accent);
    p.drawRoundedRect(QRectF(body.left() + 10, body.top() + 4, body.width() - 20, 5), 2, 2);
    const QRectF screen(body.left() + 10, body.top() + 16, body.width() - 20, 104);
    p.setBrush(QColor(0xcf, 0xd8, 0xc4));
    p.drawRoundedRect(screen, 8, 8);
    p.setPen(QColor(0x1b, 0x22, 0x18));
    p.setFont(font(30, QFont::Bold));
    p.drawText(screen.adjusted(0, 14, 0, -30), Qt::AlignCenter, QStringLiteral("32.4"));
    p.setFont(font(9, QFont::Bold));
    p.drawText(QRectF(screen.left(), screen.top() + 57, screen.width() - 6, 12), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("km/h"));
    p.setFont(font(7, QFont::Bold));
    p.drawText(QRectF(screen.left() + 5, screen.top() + 4, screen.width() - 10, 14), Qt::AlignLeft | Qt::AlignVCenter,
               model.family.isEmpty() ? QString() : model.label());
    p.setPen(QPen(QColor(0x1b, 0x22, 0x18), 1));
    p.drawLine(QPointF(screen.left() + 6, screen.top() + 70), QPointF(screen.right() - 6, screen.top() + 70));
    p.setFont(font(11, QFont::Bold));
    p.drawText(QRectF(screen.left(), screen.top() + 72, screen.width() / 2, 28), Qt::AlignCenter,
               QStringLiteral("1:12"));
    p.drawText(QRectF(screen.center().x(), screen.top() + 72, screen.width() / 2, 28), Qt::AlignCenter,
               QStringLiteral("41.7"));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xdd, 0xe2, 0xe7));
    p.drawRoundedRect(QRectF(body.left() + 14, body.bottom() - 36, 36, 20), 9, 9);
    p.drawRoundedRect(QRectF(body.right() - 50, body.bottom() - 36, 36, 20), 9, 9);
    p.setBrush(model.accent);
    p.drawEllipse(QPointF(kCentre.x(), body.bottom() - 26), 6, 6);
}

void drawMapScreen(QPainter &p, const QRectF &screen, const Model &model)
{
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(screen, 6, 6);
    p.setClipPath(clip);
    p.fillRect(screen, QColor(0xee, 0xea, 0xdc));
    // A park, a river and the streets around the planned route.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc5, 0xe1, 0xa5));
    p.drawEllipse(QPointF(screen.left() + 18, screen.top() + 92), 26, 20);
    QPainterPath river;
    river.moveTo(screen.right(), screen.top() + 20);
    river.cubicTo(screen.right() - 30, screen.top() + 40, screen.right() - 10, screen.top() + 80, screen.right() - 40,
                  screen.bottom());
    p.setPen(QPen(QColor(0x90, 0xca, 0xf9), 7));
    p.setBrush(Qt::NoBrush);
    p.drawPath(river);
    p.setPen(QPen(Qt::white, 4));
    for (int i = 1; i < 4; ++i)
        p.drawLine(QPointF(screen.left(), screen.top() + i * 30), QPointF(screen.right(), screen.top() + i * 30 - 12));
    p.drawLine(QPointF(screen.left() + 30, screen.top()), QPointF(screen.left() + 44, screen.bottom()));
    QPainterPath route;
    route.moveTo(screen.left() + 38, screen.bottom());
    route.lineTo(screen.left() + 34, screen.top() + 78);
    route.lineTo(screen.left() + 70, screen.top() + 66);
    route.lineTo(screen.left() + 64, screen.top() + 22);
    p.setPen(QPen(model.accent, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(route);
    // Where the rider is.
    QPainterPath arrow;
    const QPointF at(screen.left() + 35, screen.top() + 96);
    arrow.moveTo(at + QPointF(0, -8));
    arrow.lineTo(at + QPointF(6, 7));
    arrow.lineTo(at + QPointF(0, 3));
    arrow.lineTo(at + QPointF(-6, 7));
    arrow.closeSubpath();
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(0x1e, 0x63, 0xd6));
    p.drawPath(arrow);
    // The status bar with the model's name and a data field below the map.
    const QRectF bar(screen.left(), screen.top(), screen.width(), 14);
    p.fillRect(bar, QColor(0x20, 0x24, 0x2a, 215));
    p.setPen(Qt::white);
    p.setFont(font(8, QFont::Bold));
    p.drawText(bar.adjusted(5, 0, -5, 0), Qt::AlignLeft | Qt::AlignVCenter, model.label());
    p.drawText(bar.adjusted(5, 0, -5, 0), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("10:08"));
    const QRectF field(screen.left(), screen.bottom() - 26, screen.width(), 26);
    p.fillRect(field, QColor(0x20, 0x24, 0x2a, 230));
    p.setFont(font(15, QFont::Bold));
    p.drawText(field, Qt::AlignCenter, QStringLiteral("42.3 km"));
    p.restore();
}

void drawMapComputer(QPainter &p, const Model &model)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5b, 0x64, 0x6e));
    p.drawRoundedRect(QRectF(kCentre.x() - 16, 2, 32, 198), 8, 8);
    const QRectF body(kCentre.x() - 60, 8, 120, 186);
    QLinearGradient shell(body.topLeft(), body.bottomRight());
    shell.setColorAt(0, shade(model.body, 140));
    shell.setColorAt(1, shade(model.body, 85));
    p.setPen(QPen(QColor(0x10, 0x12, 0x15), 1.5));
    p.setBrush(shell);
    p.drawRoundedRect(body, 16, 16);
    // Buttons on the edges: two on the left, lap and start at the bottom.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9a, 0xa3, 0xad));
    p.drawRoundedRect(QRectF(body.left() - 3, body.top() + 30, 5, 18), 2, 2);
    p.drawRoundedRect(QRectF(body.left() - 3, body.top() + 54, 5, 18), 2, 2);
    p.setBrush(model.accent);
    p.drawRoundedRect(QRectF(body.left() + 22, body.bottom() - 2, 22, 5), 2, 2);
    p.drawRoundedRect(QRectF(body.right() - 44, body.bottom() - 2, 22, 5), 2, 2);
    const QRectF bezel(body.left() + 7, body.top() + 9, body.width() - 14, 150);
    p.setBrush(QColor(0x0c, 0x0f, 0x13));
    p.drawRoundedRect(bezel, 8, 8);
    drawMapScreen(p, bezel.adjusted(4, 4, -4, -4), model);
    p.setBrush(model.accent);
    p.drawRoundedRect(QRectF(kCentre.x() - 16, body.bottom() - 20, 32, 5), 2, 2);
}

} // namespace

QImage devicePicture(const Model &model)
{
    QImage image = Art::canvas(kWidth, kHeight);
    QPainter p(&image);
    Art::prepare(p);
    switch (model.shape) {
    case Shape::BikeComputer:
        drawBikeComputer(p, model);
        break;
    case Shape::MapComputer:
        drawMapComputer(p, model);
        break;
    case Shape::RoundWatch:
    case Shape::SquareWatch:
        drawWatch(p, model);
        break;
    }
    return image;
}

QImage titlePicture(const Model &model)
{
    QImage image = Art::canvas(164, 67);
    QPainter p(&image);
    Art::prepare(p);
    QFont family = font(13, QFont::Bold);
    family.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    p.setFont(family);
    p.setPen(QColor(0x55, 0x62, 0x70));
    p.drawText(QRect(2, 2, 160, 20), Qt::AlignLeft | Qt::AlignVCenter, model.family);
    p.setFont(font(32, QFont::Black, true));
    p.setPen(model.accent.darker(115));
    p.drawText(QRect(0, 20, 164, 44), Qt::AlignLeft | Qt::AlignVCenter, model.suffix);
    p.fillRect(QRect(2, 63, 48, 3), model.accent);
    return image;
}

QImage genericDevice()
{
    const Model generic{QStringLiteral("Velora"), QString(), QString(), Shape::RoundWatch, QColor(0x40, 0x46, 0x4e),
                        QColor(0x7f, 0xb3, 0xd5)};
    QImage image = Art::canvas(kWidth, kHeight);
    QPainter p(&image);
    Art::prepare(p);
    drawStrap(p, generic.body, 30);
    const QRectF caseRect(kCentre.x() - 56, kCentre.y() - 56, 112, 112);
    drawSideButtons(p, caseRect, generic.accent);
    drawMetalCase(p, caseRect, true, generic.accent);
    drawScreen(p, caseRect.adjusted(14, 14, -14, -14), generic.accent, true, QStringLiteral("V"),
               QStringLiteral("VELORA"), QStringLiteral("ready"));
    return image;
}

QImage deviceNotFound()
{
    QImage image = Art::canvas(kWidth, kHeight);
    QPainter p(&image);
    Art::prepare(p);
    const QColor grey(0x9d, 0xab, 0xb8);
    QPen dashed(grey, 2.5, Qt::DashLine, Qt::RoundCap);
    p.setPen(dashed);
    p.setBrush(QColor(255, 255, 255, 160));
    p.drawRoundedRect(QRectF(kCentre.x() - 28, 4, 56, 40), 10, 10);
    p.drawRoundedRect(QRectF(kCentre.x() - 28, 158, 56, 40), 10, 10);
    p.drawEllipse(kCentre, 54, 54);
    p.setPen(Qt::NoPen);
    p.setBrush(grey);
    // A USB plug waiting in the middle of the empty face.
    p.drawRoundedRect(QRectF(kCentre.x() - 9, kCentre.y() - 30, 18, 24), 3, 3);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(kCentre.x() - 5, kCentre.y() - 26, 3, 6));
    p.drawRect(QRectF(kCentre.x() + 2, kCentre.y() - 26, 3, 6));
    p.setBrush(grey);
    p.drawRoundedRect(QRectF(kCentre.x() - 13, kCentre.y() - 7, 26, 22), 5, 5);
    p.setPen(QPen(grey, 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(kCentre.x(), kCentre.y() + 15);
    cable.cubicTo(kCentre.x(), kCentre.y() + 34, kCentre.x() + 26, kCentre.y() + 26, kCentre.x() + 22,
                  kCentre.y() + 46);
    p.drawPath(cable);
    return image;
}

QImage sadDevice()
{
    QImage image = Art::canvas(150, 136);
    QPainter p(&image);
    Art::prepare(p);
    const QPointF c(75, 68);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4a, 0x52, 0x5c));
    p.drawRoundedRect(QRectF(c.x() - 24, 0, 48, 136), 10, 10);
    QLinearGradient metal(c.x() - 56, c.y() - 56, c.x() + 56, c.y() + 56);
    metal.setColorAt(0, QColor(0xe9, 0xed, 0xf1));
    metal.setColorAt(1, QColor(0x5a, 0x63, 0x6d));
    p.setBrush(metal);
    p.drawEllipse(c, 58, 58);
    p.setBrush(QColor(0x1f, 0x2a, 0x36));
    p.drawEllipse(c, 49, 49);
    p.setPen(QPen(QColor(0xf4, 0xf6, 0xf8), 4, Qt::SolidLine, Qt::RoundCap));
    // Brows raised in the middle: sad, not angry.
    p.drawLine(c + QPointF(-25, -9), c + QPointF(-11, -17));
    p.drawLine(c + QPointF(25, -9), c + QPointF(11, -17));
    p.drawPoint(c + QPointF(-16, 0));
    p.drawPoint(c + QPointF(16, 0));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - 17, c.y() + 14, 34, 24), 20 * 16, 140 * 16);
    QPainterPath tear;
    tear.moveTo(c + QPointF(-18, 6));
    tear.cubicTo(c + QPointF(-12, 16), c + QPointF(-12, 24), c + QPointF(-18, 24));
    tear.cubicTo(c + QPointF(-24, 24), c + QPointF(-24, 16), c + QPointF(-18, 6));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5a, 0xb4, 0xff));
    p.drawPath(tear);
    return image;
}

QImage releaseCableFrame(const QImage &backdrop, bool bikeComputer, int step, int steps)
{
    QImage image = backdrop.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    Art::prepare(p);
    // The device lies on the left, its port facing right.
    const Model device{QString(),
                       QString(),
                       QString(),
                       bikeComputer ? Shape::BikeComputer : Shape::RoundWatch,
                       QColor(0x33, 0x3a, 0x44),
                       QColor(0x1e, 0xa8, 0xc0)};
    p.save();
    p.translate(6, 14);
    p.scale(0.64, 0.64);
    p.drawImage(0, 0, devicePicture(device));
    p.restore();
    const double portX = 94, portY = 79;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x22, 0x26, 0x2b));
    p.drawRoundedRect(QRectF(portX - 4, portY - 8, 8, 16), 2, 2);

    // The plug moves out during the first two thirds, then waits.
    const double travel = std::min(1.0, double(step) / (steps * 2 / 3));
    const double eased = 1 - (1 - travel) * (1 - travel);
    const double plugX = portX + 2 + eased * 64;
    p.setPen(QPen(QColor(0x2d, 0x33, 0x3a), 7, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(plugX + 30, portY);
    cable.cubicTo(plugX + 70, portY, 200, portY + 40, 246, portY + 46);
    p.drawPath(cable);
    QLinearGradient plug(0, portY - 10, 0, portY + 10);
    plug.setColorAt(0, QColor(0x6c, 0x76, 0x80));
    plug.setColorAt(1, QColor(0x2f, 0x35, 0x3c));
    p.setPen(Qt::NoPen);
    p.setBrush(plug);
    p.drawRoundedRect(QRectF(plugX + 8, portY - 10, 24, 20), 4, 4);
    p.setBrush(QColor(0xc5, 0xcc, 0xd3));
    p.drawRect(QRectF(plugX, portY - 6, 9, 12));

    // An arrow that says which way to pull.
    const QColor arrowColour(0x1a, 0x9a, 0x4b, step < steps * 2 / 3 || (step / 2) % 2 ? 255 : 120);
    p.setBrush(arrowColour);
    QPainterPath arrow;
    const double ax = 150, ay = 28;
    arrow.moveTo(ax, ay - 5);
    arrow.lineTo(ax + 44, ay - 5);
    arrow.lineTo(ax + 44, ay - 14);
    arrow.lineTo(ax + 66, ay);
    arrow.lineTo(ax + 44, ay + 14);
    arrow.lineTo(ax + 44, ay + 5);
    arrow.lineTo(ax, ay + 5);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return image;
}

} // namespace DeviceArt
