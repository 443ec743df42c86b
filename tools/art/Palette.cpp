#include "Palette.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <array>
#include <cmath>

namespace Palette {

namespace {

// One distinct colour (straight alpha) and how many pixels have it.
struct Entry
{
    std::array<int, 4> channels; // a, r, g, b
    qint64 count;
};

using Box = QList<Entry>;

QRgb straight(QRgb colour)
{
    // Every fully transparent pixel is the same colour, whatever lies under it.
    return qAlpha(colour) == 0 ? 0 : colour;
}

int widestChannel(const Box &box, int *range)
{
    int best = 0;
    *range = -1;
    for (int c = 0; c < 4; ++c) {
        const auto [lo, hi] = std::minmax_element(
            box.cbegin(), box.cend(), [c](const Entry &x, const Entry &y) { return x.channels[c] < y.channels[c]; });
        if (hi->channels[c] - lo->channels[c] > *range) {
            *range = hi->channels[c] - lo->channels[c];
            best = c;
        }
    }
    return best;
}

// Splits the box at the weighted median of its widest channel.
std::pair<Box, Box> split(Box box)
{
    int range = 0;
    const int c = widestChannel(box, &range);
    std::sort(box.begin(), box.end(), [c](const Entry &x, const Entry &y) { return x.channels[c] < y.channels[c]; });
    qint64 total = 0;
    for (const Entry &e : box)
        total += e.count;
    qint64 seen = 0;
    qsizetype cut = 1;
    for (; cut < box.size() - 1; ++cut) {
        seen += box[cut - 1].count;
        if (2 * seen >= total)
            break;
    }
    return {box.mid(0, cut), box.mid(cut)};
}

// How much splitting this box would gain: population times spread.
double weight(const Box &box)
{
    if (box.size() < 2)
        return -1;
    int range = 0;
    widestChannel(box, &range);
    qint64 total = 0;
    for (const Entry &e : box)
        total += e.count;
    return double(total) * range;
}

QRgb average(const Box &box)
{
    std::array<double, 4> sum{};
    qint64 total = 0;
    for (const Entry &e : box) {
        for (int c = 0; c < 4; ++c)
            sum[c] += double(e.channels[c]) * e.count;
        total += e.count;
    }
    const auto mean = [&](int c) { return int(std::lround(sum[c] / total)); };
    return qRgba(mean(1), mean(2), mean(3), mean(0));
}

int distance(QRgb a, QRgb b)
{
    const int da = qAlpha(a) - qAlpha(b), dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return da * da + dr * dr + dg * dg + db * db;
}

int nearest(const QList<QRgb> &palette, QRgb colour)
{
    int best = 0;
    for (int i = 1; i < palette.size(); ++i)
        if (distance(palette[i], colour) < distance(palette[best], colour))
            best = i;
    return best;
}

QList<QRgb> medianCut(const QHash<QRgb, qint64> &histogram)
{
    QList<Box> boxes{Box()};
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        boxes[0].append({{qAlpha(it.key()), qRed(it.key()), qGreen(it.key()), qBlue(it.key())}, it.value()});
    while (boxes.size() < 256) {
        const auto widest = std::max_element(boxes.cbegin(), boxes.cend(),
                                             [](const Box &x, const Box &y) { return weight(x) < weight(y); });
        if (weight(*widest) < 0)
            break;
        auto [low, high] = split(*widest);
        boxes.erase(widest);
        boxes << low << high;
    }
    QList<QRgb> palette;
    for (const Box &box : std::as_const(boxes))
        palette << average(box);
    return palette;
}

} // namespace

QImage reduce(const QImage &image, double maxRms)
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QHash<QRgb, qint64> histogram;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            ++histogram[straight(source.pixel(x, y))];
    const QList<QRgb> palette = medianCut(histogram);
    QHash<QRgb, int> index;
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        index.insert(it.key(), nearest(palette, it.key()));

    QImage out(source.size(), QImage::Format_Indexed8);
    out.setColorTable(palette);
    double squares = 0;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const QRgb colour = straight(source.pixel(x, y));
            const int i = index.value(colour);
            out.setPixel(x, y, uint(i));
            squares += distance(colour, palette[i]);
        }
    }
    const double rms = std::sqrt(squares / (4.0 * source.width() * source.height()));
    return rms <= maxRms ? out : QImage();
}

} // namespace Palette
