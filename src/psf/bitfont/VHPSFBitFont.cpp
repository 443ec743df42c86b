#include "VHPSFBitFont.h"

#include "VHLog.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThread>

namespace {

constexpr int kCanvasWidth = 128;
constexpr int kCanvasHeight = 2048;
constexpr int kMaxPaintHeight = 2000;
constexpr int kMinNameLength = 6;
constexpr int kNameWidth = 128;
constexpr int kNameHeight = 16;
constexpr int kNameBytes = 256;
constexpr int kDescBytes = 0x8000;
constexpr int kLineFlags = Qt::AlignLeft | Qt::AlignVCenter;
constexpr int kWrapFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;

bool canRender()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        vhCritical() << "bit font: no GUI application to render with";
        return false;
    }
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        vhCritical() << "bit font: rendering asked outside the GUI thread";
        return false;
    }
    return true;
}

// The first count characters of text without splitting a surrogate pair.
QString prefix(const QString &text, int count)
{
    if (count > 0 && count < text.size() && text.at(count).isLowSurrogate())
        --count;
    return text.left(count);
}

bool fits(QPainter &painter, const QRect &rect, const QString &text)
{
    const QRect bounds = painter.boundingRect(rect, kLineFlags, text);
    return bounds.width() <= rect.width() && bounds.height() <= rect.height();
}

// Cuts text at its end until it fits, never below the minimum length. A
// search finds the cut first, so a very long text costs few measurements.
void cutToFit(QPainter &painter, const QRect &rect, QString &text)
{
    if (text.size() <= kMinNameLength || fits(painter, rect, text))
        return;
    int good = kMinNameLength;
    int bad = int(text.size());
    while (bad - good > 1) {
        const int middle = good + (bad - good) / 2;
        (fits(painter, rect, prefix(text, middle)) ? good : bad) = middle;
    }
    text = prefix(text, good);
    while (text.size() > kMinNameLength && !fits(painter, rect, text))
        text = prefix(text, int(text.size()) - 1);
}

QByteArray monoBytes(const QImage &image)
{
    QImage mono(image.size(), QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.fill(0);
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qGray(line[x]) < 128)
                mono.setPixel(x, y, 1);
    }
    return QByteArray(reinterpret_cast<const char *>(mono.constBits()), mono.sizeInBytes());
}

} // namespace

QFont VHPSFBitFont::font()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char *name : {"Microsoft Sans Serif", "DejaVu Sans", "Liberation Sans"})
            if (installed.contains(QLatin1String(name)))
                return QString::fromLatin1(name);
        return QStringLiteral("Sans Serif");
    }();
    QFont font(family);
    font.setPixelSize(12);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QRect VHPSFBitFont::calcPaintSize(QPainter &painter, QString &text, int width, int height)
{
    if (width > 0 || height > 0) {
        const QRect rect(0, 0, width, height);
        cutToFit(painter, rect, text);
        return rect;
    }
    const QRect canvas(0, 0, kCanvasWidth, kCanvasHeight);
    const QRect bounds = painter.boundingRect(canvas, kWrapFlags, text);
    qint64 textHeight = bounds.height();
    if (bounds.width() > kCanvasWidth) {
        vhCritical() << QStringLiteral("calcPaintSize: word is too long toPaint width=%1, canPaint width=%2")
                            .arg(bounds.width())
                            .arg(kCanvasWidth);
        textHeight = textHeight * bounds.width() / kCanvasWidth;
    }
    return QRect(0, 0, kCanvasWidth, int(qMin<qint64>(textHeight + 16, kMaxPaintHeight)));
}

bool VHPSFBitFont::convertToBitfont(const QString &text, int &width, int &height, QByteArray &buffer, int &size)
{
    if (!canRender())
        return false;
    const bool free = width == 0 && height == 0;
    QImage canvas(free ? kCanvasWidth : qMax(width, 1), free ? kCanvasHeight : qMax(height, 1), QImage::Format_RGB32);
    QPainter measure(&canvas);
    const QFont bitFont = font();
    measure.setFont(bitFont);
    vhDebug() << "bit font" << QFontInfo(bitFont).family();
    QString toPaint = text;
    const QRect rect = calcPaintSize(measure, toPaint, free ? 0 : width, free ? 0 : height);
    measure.end();

    QImage image(rect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(bitFont);
    painter.setPen(Qt::black);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.drawText(rect, kWrapFlags, toPaint);
    painter.end();

    const QByteArray bytes = monoBytes(image);
    width = image.width();
    height = image.height();
    if (size <= 0 || size > bytes.size())
        size = int(bytes.size());
    buffer = bytes.left(size);
    return true;
}

std::optional<VHPSFMultiLangString_1_5> VHPSFBitFont::createBitfont(const QString &text, bool isDesc)
{
    int width = isDesc ? 0 : kNameWidth;
    int height = isDesc ? 0 : kNameHeight;
    int size = isDesc ? kDescBytes : kNameBytes;
    QByteArray buffer;
    if (!convertToBitfont(text, width, height, buffer, size))
        return std::nullopt;
    if (isDesc)
        vhDebug() << QStringLiteral("w=%1,h=%2, size=%3").arg(width).arg(height).arg(size);
    return VHPSFMultiLangString_1_5::create(QByteArray(), width, height, buffer);
}
