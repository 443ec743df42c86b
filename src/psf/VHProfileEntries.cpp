#include "VHProfileEntries.h"

#include "VHByteReader.h"
#include "VHLog.h"
#include "VHProfileData.h"
#include "VHProfileLayout.h"

#include <QHash>
#include <QList>

#include <bit>
#include <cmath>
#include <limits>

namespace VHProfileEntries {

namespace {

using namespace VHProfileLayout;

enum Type : quint8 { U8 = 1, I8 = 2, U16 = 3, I16 = 4, I32 = 5, U32 = 6, Float = 7, Double = 8, I8b = 9, Text = 11 };

constexpr quint8 kBirthdayItem = 4;

struct Table
{
    QHash<QString, Item> items;
    QHash<quint8, QString> keys;

    void add(quint8 number, quint8 type, const QString &key)
    {
        items.insert(key, {number, type});
        keys.insert(number, key);
    }
    // A value and its zones 1-7 low, then high.
    void addZones(quint8 first, const QString &base)
    {
        add(first, U16, base);
        for (int zone = 1; zone <= 7; ++zone) {
            add(quint8(first + zone), U16, QStringLiteral("%1.zone%2.low").arg(base).arg(zone));
            add(quint8(first + 7 + zone), U16, QStringLiteral("%1.zone%2.high").arg(base).arg(zone));
        }
    }

    Table()
    {
        add(kMagicItem, kMagicType, QStringLiteral("Magic Number"));
        add(kBirthdayItem, U8, QStringLiteral("User Birthday"));
        add(5, U8, QStringLiteral("User Sex"));
        add(6, U8, QStringLiteral("User Unit"));
        quint8 number = 7;
        for (const char *key :
             {"User Height.Metric", "User Height.Imperial", "User Weight.Metric", "User Weight.Imperial"})
            add(number++, Float, QString::fromLatin1(key));
        addZones(11, QStringLiteral("User MHR"));
        addZones(26, QStringLiteral("User LTHR"));
        addZones(41, QStringLiteral("User MAP"));
        addZones(56, QStringLiteral("User FTP"));
        add(71, U8, QStringLiteral("First Use Page"));
        number = 72;
        for (const char *key : {"Vehicle1 Tmileage.Metric", "Vehicle1 TMileage.Imperial", "Vehicle2 TMileage.Metric",
                                "Vehicle2 TMileage.Imperial", "Vehicle1 Wheel.Metric", "Vehicle1 Wheel.Imperial",
                                "Vehicle2 Weight.Metric", "Vehicle2 Weight.Imperial"})
            add(number++, Float, QString::fromLatin1(key));
        add(80, I32, QStringLiteral("Vehicle1 Ride.Time"));
        add(81, I32, QStringLiteral("Vehicle2 Ride.Time"));
        add(82, U8, QStringLiteral("User Lang"));
        add(83, Float, QStringLiteral("Time zone"));
        add(84, I8, QStringLiteral("Day night saving"));
        add(85, U8, QStringLiteral("Date format"));
        add(86, U8, QStringLiteral("Time format"));
        add(87, I32, QStringLiteral("Sunset"));
        add(88, I32, QStringLiteral("Sunrise"));
        add(89, Text, QStringLiteral("Language ISO3"));
    }
};

const Table &table()
{
    static const Table instance;
    return instance;
}

// A language code: one to four characters between '0' and 'z'.
bool isCode(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= 'z'; });
}

// The 32-bit value of a map text for an item; false when the text is none.
bool encode(const Item &item, const QString &text, quint32 &value)
{
    bool ok = false;
    if (item.number == kBirthdayItem) {
        const int age = VHProfileData::ageOf(text);
        value = quint32(age);
        return age >= 0;
    }
    switch (item.type) {
    case U8:
    case I32:
        value = text.toUInt(&ok);
        return ok;
    case I8:
        value = quint32(qint32(text.toShort(&ok)));
        return ok;
    case U16:
        value = text.toUShort(&ok);
        return ok;
    case Float: {
        const double number = text.toDouble(&ok);
        if (!ok || !std::isfinite(number) || std::fabs(number) > double(std::numeric_limits<float>::max()))
            return false;
        value = std::bit_cast<quint32>(float(number));
        return true;
    }
    case Text: {
        const QByteArray code = text.toLatin1();
        if (!isCode(code) || QString::fromLatin1(code) != text)
            return false;
        value = 0;
        for (qsizetype i = code.size() - 1; i >= 0; --i)
            value = (value << 8) | quint8(code[i]);
        return true;
    }
    default:
        return false;
    }
}

// The map text of an entry's value; false for a type that is not read.
bool decode(quint8 number, quint8 type, quint32 value, QString &text)
{
    switch (type) {
    case U8:
        text = number == kBirthdayItem ? VHProfileData::birthdayText(quint8(value)) : QString::number(quint8(value));
        return true;
    case I8:
    case I8b:
        text = QString::number(qint8(value));
        return true;
    case U16:
        text = QString::number(quint16(value));
        return true;
    case I16:
        text = QString::number(qint16(value));
        return true;
    case I32:
        text = QString::number(qint32(value));
        return true;
    case U32:
        text = QString::number(value);
        return true;
    case Float: {
        const float number = std::bit_cast<float>(value);
        text = std::isfinite(number) ? QString::number(double(number), 'g', 6) : QString();
        return true;
    }
    case Text: {
        QByteArray code;
        for (int i = 0; i < 4 && (value & 0xFF); ++i, value >>= 8)
            code.append(char(value & 0xFF));
        text = isCode(code) ? QString::fromLatin1(code) : QString();
        return true;
    }
    default: // a 64-bit float does not fit the 4-byte value; other types are unknown
        return false;
    }
}

void appendEntry(QByteArray &entries, quint8 number, quint8 type, quint32 value)
{
    const qsizetype at = entries.size();
    entries.resize(at + kEntrySize);
    VHByteWriter(entries, at).u8(0).u8(0).u8(number).u8(type).u32(value);
}

} // namespace

std::optional<Item> itemFor(const QString &key)
{
    const auto it = table().items.constFind(key);
    return it == table().items.cend() ? std::nullopt : std::optional<Item>(*it);
}

QString keyFor(quint8 number) { return table().keys.value(number); }

bool write(QByteArray &block, const VHProfileMap &map)
{
    if (block.size() < kBlockSize) {
        vhWarning() << "profile block too short:" << block.size();
        return false;
    }
    QByteArray entries;
    quint16 count = 0;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const std::optional<Item> item = itemFor(it.key());
        quint32 value = 0;
        // The magic entry is the list's end mark, written once, last.
        if (!item || item->number == kMagicItem || !encode(*item, it.value(), value))
            continue;
        appendEntry(entries, item->number, item->type, value);
        ++count;
    }
    appendEntry(entries, kMagicItem, kMagicType, kMagicValue);
    static_assert(kEntryDataOffset + 90 * kEntrySize <= kBlockSize, "every item fits the record");
    VHByteWriter writer(block, kEntryDataOffset);
    writer.bytes(entries);
    VHByteWriter(block, kEntryCountOffset).u16(count);
    VHByteWriter(block, kEntryStateOffset).u16(kEntriesWritten);
    return writer.ok();
}

bool read(const QByteArray &block, VHProfileMap &map)
{
    if (block.size() < kBlockSize) {
        vhWarning() << "profile block too short:" << block.size();
        return false;
    }
    const int count = VHByteReader(block, kEntryCountOffset).u16();
    if (count > kEntryCapacity) {
        vhWarning() << "profile entry count out of range:" << count;
        return false;
    }
    VHByteReader reader(block, kEntryDataOffset);
    for (int i = 0; i < count; ++i) {
        reader.skip(2);
        const quint8 number = reader.u8();
        const quint8 type = reader.u8();
        const quint32 value = reader.u32();
        const QString key = keyFor(number);
        QString text;
        if (!key.isEmpty() && decode(number, type, value, text))
            map.insert(key, text);
    }
    return reader.ok();
}

} // namespace VHProfileEntries
