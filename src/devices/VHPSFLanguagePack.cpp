#include "VHPSFLanguagePack.h"

#include "VHLanguageMap.h"
#include "VHPSFLanguageImage.h"
#include "VHSafeFolder.h"
#include "VHZipUtil.h"

#include <QDir>

namespace {

VHResult refused(const QString &reason) { return VHResult::failure(1, reason); }

bool nameHasCode(const QString &name, const QString &code)
{
    return name.contains(QLatin1Char('_') + code + QLatin1Char('_'), Qt::CaseInsensitive);
}

} // namespace

VHResult VHPSFLanguagePack::unpack(const QString &packageFile, const QString &folder)
{
    return VHZipUtil::unpackIntoEmptyFolder(packageFile, folder, QStringLiteral("language pack"));
}

VHResult VHPSFLanguagePack::read(const QString &folder, VHPSFLanguagePack &pack, qsizetype areaSize)
{
    pack = VHPSFLanguagePack();
    pack.m_areaSize = areaSize;
    QDir dir(folder);
    if (!dir.exists())
        return refused("do not exist langpack folder");
    pack.m_folder = dir.absolutePath();
    pack.m_entries = dir.entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    for (const char *baseName : {"aspens.bin", "linden.bin"}) {
        for (const QString &entry : pack.m_entries) {
            if (pack.m_base.isEmpty() && entry.contains(QLatin1String(baseName), Qt::CaseInsensitive))
                pack.m_base = entry;
        }
    }
    pack.m_releaseIni = pack.m_entries.contains(QStringLiteral("release.ini"));
    if (pack.m_base.isEmpty())
        return refused(QStringLiteral(" image is empty"));
    if (QFileInfo(pack.basePath()).size() > areaSize)
        return refused(QStringLiteral("base image is larger than the language area"));
    return VHResult::success();
}

QString VHPSFLanguagePack::basePath() const
{
    return m_base.isEmpty() ? QString() : m_folder + QLatin1Char('/') + m_base;
}

QStringList VHPSFLanguagePack::languageNames(const VHLanguageMap &map) const
{
    QStringList names;
    const QStringList codes = map.codes();
    for (const QString &entry : m_entries) {
        for (const QString &code : codes) {
            if (nameHasCode(entry, code))
                names.append(map.name(code));
        }
    }
    return names;
}

QString VHPSFLanguagePack::languageFile(const QString &code) const
{
    QString found;
    for (const QString &entry : m_entries) {
        if (nameHasCode(entry, code))
            found = entry;
    }
    return found;
}

VHResult VHPSFLanguagePack::readEntry(const QString &name, QByteArray &bytes) const
{
    // No file larger than the area can be placed; links are not followed.
    VHSafeFolder folder = VHSafeFolder::open(m_folder, QString());
    if (!folder.isValid() || !folder.readFile(name, m_areaSize, bytes))
        return refused("can not read " + name + " of the language pack");
    return VHResult::success();
}

VHResult VHPSFLanguagePack::buildImage(const QStringList &codes, QByteArray &area) const
{
    if (m_base.isEmpty())
        return refused(QStringLiteral(" image is empty"));
    QByteArray base;
    if (VHResult result = readEntry(m_base, base); !result)
        return result;
    if (base.isEmpty())
        return refused(QStringLiteral("the base image ") + m_base + QStringLiteral(" is empty"));
    QList<QByteArray> files;
    qsizetype placed = 0, total = base.size();
    for (const QString &code : codes) {
        const QString name = languageFile(code);
        if (name.isEmpty() || placed == VHPSFLanguageImage::kMaxLanguages)
            continue;
        QByteArray bytes;
        if (VHResult result = readEntry(name, bytes); !result)
            return result;
        // Files past the area would be refused anyway: stop holding them.
        total += bytes.size();
        if (total > m_areaSize)
            return refused(QStringLiteral("language image exceeds the language area"));
        placed += bytes.size() >= VHPSFLanguageImage::kMinLanguageFile ? 1 : 0;
        files.append(bytes);
    }
    // An image without languages leaves the device without any.
    if (placed == 0)
        return refused(QStringLiteral("the pack holds no language file for ") + codes.join(QLatin1Char(' ')));
    return VHPSFLanguageImage::build(base, files, area, m_areaSize);
}
