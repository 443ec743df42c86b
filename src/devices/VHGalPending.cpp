#include "VHGalPending.h"

#include "VHEnv.h"
#include "VHIniDocument.h"
#include "VHSafeFolder.h"
#include "VHUtility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("GalPending");
// The profile in Base64 plus a few short lines.
constexpr qint64 kMaxRecordSize = VHGalPending::kMaxProfileSize * 2;

QString decodedText(const QString &stored)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(stored.toLatin1()));
}

} // namespace

VHGalPending::VHGalPending(const QString &dataFolder) : m_folder(dataFolder + QStringLiteral("/pending")) {}

VHGalPending VHGalPending::ofDataFolder() { return VHGalPending(VHEnv::instance()->dataFolder()); }

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
    if (!VHUtility::isUuidFileName(uuid))
        return refuse(QStringLiteral("the device's UUID can not name a file"));
    if (!VHUtility::isLanguageCode(record.language))
        return refuse(QStringLiteral("\"%1\" is no language code").arg(record.language));
    if (record.profile && record.profile->size() > kMaxProfileSize)
        return refuse(QStringLiteral("the profile is too large to keep"));
    if (!QDir().mkpath(m_folder))
        return refuse("can not make " + m_folder);
    QByteArray text = "[" + kGroup.toLatin1() + "]\nlanguage=" + record.language.toLatin1() + "\n";
    if (record.profile)
        text += "profile=" + record.profile->toBase64() + "\n";
    // Percent-encoded: no name or path can end the line or start another key.
    if (!record.model.isEmpty())
        text += "model=" + record.model.toUtf8().toPercentEncoding() + "\n";
    if (!record.restoreFolder.isEmpty())
        text += "restorefolder=" + record.restoreFolder.toUtf8().toPercentEncoding() + "\n";
    return VHSafeFolder::replaceFile(filePathFor(uuid), text, error);
}

bool VHGalPending::load(const QString &uuid, Record &record) const
{
    record = Record();
    QByteArray bytes;
    if (!VHUtility::isUuidFileName(uuid)
        || !VHSafeFolder::readFileBelow(m_folder, filePathFor(uuid), kMaxRecordSize, bytes))
        return false;
    const VHIniDocument ini(bytes);
    const QString language = ini.value(kGroup, QStringLiteral("language"));
    if (!VHUtility::isLanguageCode(language))
        return false;
    record.language = language;
    if (ini.contains(kGroup, QStringLiteral("profile"))) {
        const auto decoded = QByteArray::fromBase64Encoding(ini.value(kGroup, QStringLiteral("profile")).toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.isEmpty() || decoded.decoded.size() > kMaxProfileSize)
            return false;
        record.profile = decoded.decoded;
    }
    record.model = decodedText(ini.value(kGroup, QStringLiteral("model")));
    record.restoreFolder = decodedText(ini.value(kGroup, QStringLiteral("restorefolder")));
    return true;
}

bool VHGalPending::remove(const QString &uuid) const
{
    if (!VHUtility::isUuidFileName(uuid))
        return true;
    const QString path = filePathFor(uuid);
    return !QFileInfo::exists(path) || QFile::remove(path);
}
