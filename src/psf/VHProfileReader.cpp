#include "VHProfileReader.h"

#include "VHLog.h"
#include "VHProfileData.h"
#include "VHProfileLayout.h"
#include "VHProfilePack.h"
#include "VHSafeFolder.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <limits>

namespace {

using namespace VHProfileLayout;

static_assert(VHProfilePack::size(kUserFormat) == kUserSize);
static_assert(VHProfilePack::size(kSettingsFormat) == 12);
static_assert(VHProfilePack::size(kFirstUseFormat) == kFirstUseFlag - kFirstUseOffset + 1);
static_assert(kFirstUseFlag - kFirstUseOffset < kExtraBlockSize);

const QString kSettings = QStringLiteral("settings");
const QString kProperty = QStringLiteral("property");
const QString kName = QStringLiteral("name");
const QString kValue = QStringLiteral("value");

bool blockUsable(const QByteArray &block)
{
    if (block.size() >= kBlockSize)
        return true;
    vhWarning() << "profile block too short:" << block.size();
    return false;
}

// Characters a language text may hold; anything else is not a language.
bool isLanguageText(const QString &text)
{
    if (text.size() > 4)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('z'))
            return false;
    return true;
}

QString textOf(quint32 value)
{
    QString text;
    for (int i = 0; i < 4 && (value & 0xFF); ++i, value >>= 8)
        text.append(QLatin1Char(char(value & 0xFF)));
    return isLanguageText(text) ? text : QString();
}

double maxOf(char letter)
{
    switch (letter) {
    case 'B':
        return 0xFF;
    case 'H':
        return 0xFFFF;
    default:
        return 0xFFFFFFFFu;
    }
}

} // namespace

// ---- XML -------------------------------------------------------------------

bool VHProfileReaderXML::read(const QByteArray &source, VHProfileMap &map)
{
    QByteArray document;
    const QString path = QString::fromUtf8(source);
    if (path.isEmpty() || !VHSafeFolder::readFileBelow(QString(), path, kMaxFileSize, document)) {
        vhWarning() << "can not read the profile file" << path;
        return false;
    }
    if (!parse(document, map)) {
        vhWarning() << "not a settings file:" << path;
        return false;
    }
    return true;
}

bool VHProfileReaderXML::parse(const QByteArray &document, VHProfileMap &map)
{
    QXmlStreamReader xml(document);
    if (!xml.readNextStartElement() || xml.name() != kSettings)
        return false;
    VHProfileMap found;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != kProperty)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (attributes.hasAttribute(kName))
            found.insert(attributes.value(kName).toString(), attributes.value(kValue).toString());
    }
    if (xml.hasError())
        return false;
    map.insert(found);
    return true;
}

QByteArray VHProfileReaderXML::document(const VHProfileMap &map)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(kSettings);
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        xml.writeEmptyElement(kProperty);
        xml.writeAttribute(kName, it.key());
        xml.writeAttribute(kValue, it.value());
    }
    xml.writeEndDocument();
    return bytes;
}

bool VHProfileReaderXML::write(QByteArray &source, const VHProfileMap &map)
{
    const QString path = QString::fromUtf8(source);
    QString error;
    if (path.isEmpty() || !VHSafeFolder::replaceFile(path, document(map), &error)) {
        vhWarning() << "can not write the profile file" << path << error;
        return false;
    }
    return true;
}

// ---- the Pacer30 family's blocks --------------------------------------------

VHProfileReaderPSF::VHProfileReaderPSF(qsizetype userOffset, QObject *parent)
    : VHProfileReader(parent), m_userOffset(userOffset)
{}

namespace {

using Field = VHProfileReaderPSF::Field;

constexpr Field kUserFields[] = {
    {"User Sex", Field::Integer},
    {"User Birthday", Field::Age},
    {nullptr, Field::Integer},
    {"User Height.Metric", Field::Float},
    {"User Height.Imperial", Field::Float},
    {"User Weight.Metric", Field::Float},
    {"User Weight.Imperial", Field::Float},
    {"User MHR", Field::Integer},
};
constexpr Field kSettingsFields[] = {{"User Lang", Field::Text}, {"User Unit", Field::Integer}};
constexpr Field kFirstUseFields[] = {{"User MLSS", Field::Integer}, {"User First Use Page", Field::Integer}};

QString textFor(const Field &field, double value)
{
    switch (field.kind) {
    case Field::Integer:
        return QString::number(quint32(value));
    case Field::Age:
        return VHProfileData::birthdayText(int(value));
    case Field::Text:
        return textOf(quint32(value));
    case Field::Float:
        // An erased or damaged float is no height or weight.
        return std::isfinite(value) ? QString::number(value, 'g', 6) : QString();
    }
    return {};
}

// The map's text as the field's value; false when it is no usable value.
bool valueFor(const Field &field, char letter, const QString &text, double &value)
{
    bool ok = false;
    switch (field.kind) {
    case Field::Integer:
        value = double(text.toULongLong(&ok));
        return ok && value <= maxOf(letter);
    case Field::Float:
        value = text.toDouble(&ok);
        return ok && std::isfinite(value) && std::fabs(value) <= double(std::numeric_limits<float>::max());
    case Field::Age:
        value = VHProfileData::ageOf(text);
        return value >= 0;
    case Field::Text: {
        if (text.isEmpty() || !isLanguageText(text))
            return false;
        quint32 packed = 0;
        for (qsizetype i = text.size() - 1; i >= 0; --i)
            packed = (packed << 8) | quint8(text[i].toLatin1());
        value = packed;
        return true;
    }
    }
    return false;
}

std::string_view fieldLetters(std::string_view format, std::string &letters)
{
    letters.clear();
    for (char letter : format)
        if (letter != 'x')
            letters.push_back(letter);
    return letters;
}

} // namespace

bool VHProfileReaderPSF::readRun(const QByteArray &block, qsizetype offset, std::string_view format,
                                 std::span<const Field> fields, VHProfileMap &map)
{
    QList<double> values;
    if (!VHProfilePack::unpack(block, offset, format, values) || values.size() != qsizetype(fields.size()))
        return false;
    for (size_t i = 0; i < fields.size(); ++i)
        if (fields[i].key)
            map.insert(QString::fromLatin1(fields[i].key), textFor(fields[i], values[qsizetype(i)]));
    return true;
}

bool VHProfileReaderPSF::writeRun(QByteArray &block, qsizetype offset, std::string_view format,
                                  std::span<const Field> fields, const VHProfileMap &map)
{
    QList<double> values;
    std::string letters;
    fieldLetters(format, letters);
    if (!VHProfilePack::unpack(block, offset, format, values) || values.size() != qsizetype(fields.size()))
        return false;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!fields[i].key)
            continue;
        const auto it = map.constFind(QString::fromLatin1(fields[i].key));
        double value = 0;
        // Absent or unusable text keeps the block's value.
        if (it != map.cend() && valueFor(fields[i], letters[i], *it, value))
            values[qsizetype(i)] = value;
    }
    return VHProfilePack::pack(block, offset, format, values);
}

bool VHProfileReaderPSF::read(const QByteArray &source, VHProfileMap &map)
{
    return blockUsable(source) && readRun(source, m_userOffset, kUserFormat, kUserFields, map);
}

bool VHProfileReaderPSF::write(QByteArray &source, const VHProfileMap &map)
{
    return blockUsable(source) && writeRun(source, m_userOffset, kUserFormat, kUserFields, map);
}

VHProfileReaderPSF_Obsolete::VHProfileReaderPSF_Obsolete(QObject *parent) : VHProfileReaderPSF(kUserObsolete, parent) {}

VHProfileReaderPSF_Obsolete_Pulsar30::VHProfileReaderPSF_Obsolete_Pulsar30(QObject *parent)
    : VHProfileReaderPSF(kUserObsoletePulsar30, parent)
{}

VHProfileReaderPSF_1_0_0::VHProfileReaderPSF_1_0_0(QObject *parent) : VHProfileReaderPSF(kUser_1_0_0, parent) {}

bool VHProfileReaderPSF_1_0_0::read(const QByteArray &source, VHProfileMap &map)
{
    return VHProfileReaderPSF::read(source, map)
           && readRun(source, kSettingsOffset, kSettingsFormat, kSettingsFields, map)
           && readRun(source, kFirstUseOffset, kFirstUseFormat, kFirstUseFields, map);
}

bool VHProfileReaderPSF_1_0_0::write(QByteArray &source, const VHProfileMap &map)
{
    return VHProfileReaderPSF::write(source, map)
           && writeRun(source, kSettingsOffset, kSettingsFormat, kSettingsFields, map)
           && writeRun(source, kFirstUseOffset, kFirstUseFormat, kFirstUseFields, map);
}

bool VHProfileReaderPSF_2_0_0::read(const QByteArray &, VHProfileMap &)
{
    vhWarning() << "profile layout 2.0.0 is not readable";
    return false;
}

bool VHProfileReaderPSF_2_0_0::write(QByteArray &, const VHProfileMap &)
{
    vhWarning() << "profile layout 2.0.0 is not writable";
    return false;
}
