#include "VHPSFLanguageImage.h"

#include "VHByteReader.h"
#include "VHLanguageMap.h"

#include <algorithm>
#include <utility>

namespace VHPSFLanguageImage {

namespace {

constexpr qsizetype kCountOffset = 8;
constexpr qsizetype kCodesOffset = 9;
constexpr qsizetype kOffsetsOffset = 69;
constexpr qsizetype kSizesOffset = 149;

quint32 u32At(const QByteArray &bytes, qsizetype at)
{
    VHByteReader reader(bytes, at);
    return reader.u32();
}

// Bytes from the directory's start to the end of its furthest file, or -1
// when an entry leaves the area, reaches into the directory or overlaps
// another. Entries need not follow one another: only our own builder packs
// them in a row from the directory's end.
qsizetype directorySpan(const QByteArray &area, qsizetype position)
{
    if (position < 0 || position + kDirectorySize > area.size())
        return -1;
    const int count = quint8(area[position + kCountOffset]);
    if (count > kMaxLanguages)
        return -1;
    const qint64 room = area.size() - position;
    QList<std::pair<qint64, qint64>> entries; // [start, end) from the directory
    for (int i = 0; i < count; ++i) {
        const qint64 start = u32At(area, position + kOffsetsOffset + 4 * i);
        const qint64 end = start + u32At(area, position + kSizesOffset + 4 * i);
        if (start < kDirectorySize || end > room)
            return -1;
        entries.append({start, end});
    }
    std::sort(entries.begin(), entries.end());
    qint64 reached = kDirectorySize;
    for (const auto &[start, end] : entries) {
        if (start < reached && start != end)
            return -1;
        reached = std::max(reached, end);
    }
    return reached;
}

} // namespace

VHResult build(const QByteArray &base, const QList<QByteArray> &languages, QByteArray &area, qsizetype areaSize)
{
    QByteArray directory(kDirectorySize, char(0));
    QByteArray data;
    VHByteWriter(directory, 0).u32(kMagic);
    int count = 0;
    for (const QByteArray &file : languages) {
        if (count == kMaxLanguages || file.size() < kMinLanguageFile)
            continue;
        VHByteWriter(directory, 4).bytes(file.left(4));
        VHByteWriter(directory, kCodesOffset + 3 * count).bytes(file.mid(4, 3));
        VHByteWriter(directory, kOffsetsOffset + 4 * count).u32(quint32(kDirectorySize + data.size()));
        VHByteWriter(directory, kSizesOffset + 4 * count).u32(quint32(file.size()));
        data += file;
        ++count;
        if (kDirectorySize + data.size() > areaSize)
            break;
    }
    VHByteWriter(directory, kCountOffset).u8(quint8(count));
    const qsizetype padded = (base.size() + 15) / 16 * 16;
    if (padded + kDirectorySize + data.size() > areaSize)
        return VHResult::failure(1, QStringLiteral("language image of %1 bytes exceeds the area of %2")
                                        .arg(padded + kDirectorySize + data.size())
                                        .arg(areaSize));
    area = base;
    area.append(QByteArray(padded - base.size(), char(0)));
    area.append(directory);
    area.append(data);
    area.append(QByteArray(areaSize - area.size(), char(0)));
    return VHResult::success();
}

qsizetype findDirectory(const QByteArray &area)
{
    qsizetype found = 0;
    for (qsizetype at = 0; at + 4 <= area.size();) {
        const qsizetype span = u32At(area, at) == kMagic ? directorySpan(area, at) : -1;
        if (span < 0) {
            at += 4;
            continue;
        }
        found = at;
        at += (span + 3) / 4 * 4; // past its files: their bytes are no directory
    }
    return found;
}

bool isDirectoryAt(const QByteArray &area, qsizetype position)
{
    return position >= 0 && position + 4 <= area.size() && u32At(area, position) == kMagic
           && directorySpan(area, position) >= 0;
}

bool languageCodes(const QByteArray &area, qsizetype position, const VHLanguageMap &map, QStringList &codes,
                   qsizetype reach)
{
    if (position < 0 || position + reach >= area.size())
        return false;
    for (int i = 0; i < kMaxLanguages; ++i) {
        const QString code = QString::fromLatin1(area.mid(position + kCodesOffset + 3 * i, 3));
        if (!map.name(code).isEmpty())
            codes.append(code);
    }
    return true;
}

} // namespace VHPSFLanguageImage
