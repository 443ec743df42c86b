#include "VHGalPending.h"

#include "VHEnv.h"
#include "VHIniDocument.h"
#include "VHSafeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("GalPending");
// The profile in Base64 plus a few short lines.
constexpr qint64 kMaxRecordSize = VHGalPending::kMaxProfileSize * 2;

bool isAsciiAlnum(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

} // namespace

VHGalPending::VHGalPending(const QString &dataFolder) : m_folder(dataFolder + QStringLiteral("/pending")) {}

VHGalPending VHGalPending::ofDataFolder() { return VHGalPending(VHEnv::instance()->dataFolder()); }

bool VHGalPending::isUsableUuid(const QString &uuid)
{
    return !uuid.isEmpty() && uuid.size() <= 64 && std::all_of(uuid.cbegin(), uuid.cend(), isAsciiAlnum);
}

bool VHGalPending::isLanguageCode(const QString &code)
{
    return code.size() == 3 && std::all_of(code.cbegin(), code.cend(), [](QChar c) {
               return c.unicode() >= u'a' && c.unicode() <= u'z';
           });
}

QString VHGalPending::filePathFor(const QString &uuid) const
{
    return m_folder + QStringLiteral("/gal-%1.ini").arg(uuid);
}

bool VHGalPending::store(const QString &uuid, const Record &record, QString *error) const
{
    const auto refuse = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!isUsableUuid(uuid))
        return refuse(QStringLiteral("the device's UUID can not name a file"));
    if (!isLanguageCode(record.language))
        return refuse(QStringLiteral("\"%1\" is no language code").arg(record.language));
    if (record.profile && record.profile->size() > kMaxProfileSize)
        return refuse(QStringLiteral("the profile is too large to keep"));
    if (!QDir().mkpath(m_folder))
        return refuse("can not make " + m_folder);
    QByteArray text = "[" + kGroup.toLatin1() + "]\nlanguage=" + record.language.toLatin1() + "\n";
    if (record.profile)
        text += "profile=" + record.profile->toBase64() + "\n";
    return VHSafeFolder::replaceFile(filePathFor(uuid), text, error);
}

bool VHGalPending::load(const QString &uuid, Record &record) const
{
    record = Record();
    QByteArray bytes;
    if (!isUsableUuid(uuid) || !VHSafeFolder::readFileBelow(m_folder, filePathFor(uuid), kMaxRecordSize, bytes))
        return false;
    const VHIniDocument ini(bytes);
    const QString language = ini.value(kGroup, QStringLiteral("language"));
    if (!isLanguageCode(language))
        return false;
    record.language = language;
    if (ini.contains(kGroup, QStringLiteral("profile"))) {
        const auto decoded = QByteArray::fromBase64Encoding(ini.value(kGroup, QStringLiteral("profile")).toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() > kMaxProfileSize)
            return false;
        record.profile = decoded.decoded;
    }
    return true;
}

bool VHGalPending::remove(const QString &uuid) const
{
    if (!isUsableUuid(uuid))
        return true;
    const QString path = filePathFor(uuid);
    return !QFileInfo::exists(path) || QFile::remove(path);
}
