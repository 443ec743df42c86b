#include "GifWriter.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

namespace {

constexpr int kTransparent = 255;
constexpr int kMinCodeSize = 8;

int bucketOf(QRgb c) { return ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3); }

QRgb bucketColour(int bucket)
{
    const int r = (bucket >> 10) & 31, g = (bucket >> 5) & 31, b = bucket & 31;
    return qRgb(r * 255 / 31, g * 255 / 31, b * 255 / 31);
}

int distance(QRgb a, QRgb b)
{
    const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return dr * dr * 3 + dg * dg * 4 + db * db * 2;
}

// The 255 most used colour buckets of all frames; the rest map to the nearest.
class Palette
{
public:
    explicit Palette(const std::vector<QImage> &frames)
    {
        std::vector<int> counts(32768, 0);
        for (const QImage &frame : frames)
            for (int y = 0; y < frame.height(); ++y) {
                const QRgb *line = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
                for (int x = 0; x < frame.width(); ++x)
                    if (qAlpha(line[x]) >= 128)
                        ++counts[bucketOf(line[x])];
            }
        std::vector<int> order;
        for (int i = 0; i < 32768; ++i)
            if (counts[i] > 0)
                order.push_back(i);
        std::sort(order.begin(), order.end(), [&](int a, int b) { return counts[a] > counts[b]; });
        order.resize(std::min<size_t>(order.size(), kTransparent));
        for (int bucket : order)
            m_colours.push_back(bucketColour(bucket));
        while (m_colours.size() < 256)
            m_colours.push_back(qRgb(0, 0, 0));
        m_lookup.assign(32768, -1);
    }

    int indexOf(QRgb c)
    {
        if (qAlpha(c) < 128)
            return kTransparent;
        const int bucket = bucketOf(c);
        if (m_lookup[bucket] < 0) {
            int best = 0, bestDistance = INT_MAX;
            for (int i = 0; i < kTransparent; ++i) {
                const int d = distance(bucketColour(bucket), m_colours[i]);
                if (d < bestDistance) {
                    best = i;
                    bestDistance = d;
                }
            }
            m_lookup[bucket] = best;
        }
        return m_lookup[bucket];
    }

    QRgb colour(int i) const { return m_colours[i]; }

private:
    std::vector<QRgb> m_colours;
    std::vector<int> m_lookup;
};

// Packs variable-width codes least significant bit first into 255-byte blocks.
class BitPacker
{
public:
    explicit BitPacker(QByteArray &out) : m_out(out) {}
    void put(int code, int width)
    {
        m_bits |= quint32(code) << m_count;
        m_count += width;
        while (m_count >= 8) {
            pushByte(char(m_bits & 0xFF));
            m_bits >>= 8;
            m_count -= 8;
        }
    }
    void finish()
    {
        if (m_count > 0)
            pushByte(char(m_bits & 0xFF));
        flushBlock();
        m_out.append(char(0));
    }

private:
    void pushByte(char byte)
    {
        m_block.append(byte);
        if (m_block.size() == 255)
            flushBlock();
    }
    void flushBlock()
    {
        if (m_block.isEmpty())
            return;
        m_out.append(char(m_block.size()));
        m_out.append(m_block);
        m_block.clear();
    }

    QByteArray &m_out;
    QByteArray m_block;
    quint32 m_bits = 0;
    int m_count = 0;
};

void lzwEncode(const std::vector<quint8> &pixels, QByteArray &out)
{
    const int clearCode = 1 << kMinCodeSize;
    out.append(char(kMinCodeSize));
    BitPacker packer(out);
    QHash<quint32, int> table;
    int codeSize = kMinCodeSize + 1;
    int maxCode = clearCode + 1;
    packer.put(clearCode, codeSize);
    int current = -1;
    for (quint8 pixel : pixels) {
        if (current < 0) {
            current = pixel;
            continue;
        }
        const quint32 key = (quint32(current) << 8) | pixel;
        const auto found = table.constFind(key);
        if (found != table.constEnd()) {
            current = found.value();
            continue;
        }
        packer.put(current, codeSize);
        table.insert(key, ++maxCode);
        if (maxCode >= (1 << codeSize))
            ++codeSize;
        if (maxCode == 4095) {
            packer.put(clearCode, codeSize);
            table.clear();
            codeSize = kMinCodeSize + 1;
            maxCode = clearCode + 1;
        }
        current = pixel;
    }
    if (current >= 0)
        packer.put(current, codeSize);
    packer.put(clearCode, codeSize);
    packer.put(clearCode + 1, kMinCodeSize + 1);
    packer.finish();
}

void putWord(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

} // namespace

void GifWriter::addFrame(const QImage &frame, int delayMs)
{
    m_frames.append({frame.convertToFormat(QImage::Format_ARGB32).scaled(m_width, m_height), delayMs});
}

QByteArray GifWriter::encode() const
{
    std::vector<QImage> images;
    for (const Frame &frame : m_frames)
        images.push_back(frame.image);
    Palette palette(images);

    QByteArray out("GIF89a");
    putWord(out, m_width);
    putWord(out, m_height);
    out.append(char(0xF7)); // global table of 256 colours, 8-bit resolution
    out.append(char(kTransparent));
    out.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb c = palette.colour(i);
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    out.append(QByteArray::fromHex("21FF0B"));
    out.append("NETSCAPE2.0");
    out.append(QByteArray::fromHex("0301000000")); // loop for ever, then the block end

    for (const Frame &frame : m_frames) {
        // Graphic control: restore to background before the next frame, transparent index set.
        out.append(QByteArray::fromHex("21F904"));
        out.append(char((2 << 2) | 1));
        putWord(out, std::max(1, frame.delayMs / 10));
        out.append(char(kTransparent));
        out.append(char(0));
        out.append(char(0x2C));
        putWord(out, 0);
        putWord(out, 0);
        putWord(out, m_width);
        putWord(out, m_height);
        out.append(char(0));
        std::vector<quint8> pixels;
        pixels.reserve(size_t(m_width) * m_height);
        for (int y = 0; y < m_height; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(frame.image.constScanLine(y));
            for (int x = 0; x < m_width; ++x)
                pixels.push_back(quint8(palette.indexOf(line[x])));
        }
        lzwEncode(pixels, out);
    }
    out.append(char(0x3B));
    return out;
}

bool GifWriter::write(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = encode();
    return file.write(bytes) == bytes.size();
}
