#include "VHPSFLanguagePack.h"

#include "VHLanguageMap.h"
#include "VHPSFLanguageImage.h"
#include "VHScsiFlashClient.h"

namespace {

VHResult refused(const QString &reason) { return VHResult::failure(VHScsiFlashClient::BadPackage, reason); }

bool nameHasCode(const QString &name, const QString &code)
{
    return name.contains(QLatin1Char('_') + code + QLatin1Char('_'), Qt::CaseInsensitive);
}

} // namespace

VHResult VHPSFLanguagePack::parse(const VHArchiveFiles::Files &files, VHPSFLanguagePack &pack, qsizetype areaSize)
{
    pack = VHPSFLanguagePack();
    pack.m_areaSize = areaSize;
    for (const QString &name : VHArchiveFiles::topLevel(files))
        pack.m_files.insert(name, files.value(name));
    for (const char *baseName : {"aspens.bin", "linden.bin"}) {
        for (auto it = pack.m_files.cbegin(); it != pack.m_files.cend() && pack.m_base.isEmpty(); ++it) {
            if (it.key().contains(QLatin1String(baseName), Qt::CaseInsensitive))
                pack.m_base = it.key();
        }
    }
    if (pack.m_base.isEmpty())
        return refused(QStringLiteral("the language pack holds no base image (aspens.bin or linden.bin)"));
    if (pack.m_files.value(pack.m_base).size() > areaSize)
        return refused(QStringLiteral("the base image is larger than the language area"));
    return VHResult::success();
}

QStringList VHPSFLanguagePack::languageNames(const VHLanguageMap &map) const
{
    QStringList names;
    const QStringList codes = map.codes();
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        for (const QString &code : codes) {
            if (nameHasCode(it.key(), code))
                names.append(map.name(code));
        }
    }
    return names;
}

QStringList VHPSFLanguagePack::languageCodes(const VHLanguageMap &map) const
{
    QStringList codes;
    for (const QString &code : map.codes()) {
        if (!languageFile(code).isEmpty())
            codes.append(code);
    }
    return codes;
}

VHPSFLanguagePack::Choice VHPSFLanguagePack::checkChoice(const QStringList &codes) const
{
    if (codes.isEmpty())
        return Choice::Empty;
    if (codes.size() > VHPSFLanguageImage::kMaxLanguages)
        return Choice::TooMany;
    for (const QString &code : codes) {
        if (languageFile(code).isEmpty())
            return Choice::NoFile;
    }
    // The very image the device would get: whatever it refuses does not fit.
    QByteArray area;
    return buildImage(codes, area) ? Choice::Fits : Choice::TooLarge;
}

QString VHPSFLanguagePack::languageFile(const QString &code) const
{
    QString found;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (nameHasCode(it.key(), code))
            found = it.key();
    }
    return found;
}

VHResult VHPSFLanguagePack::buildImage(const QStringList &codes, QByteArray &area) const
{
    if (m_base.isEmpty())
        return refused(QStringLiteral("the language pack holds no base image (aspens.bin or linden.bin)"));
    const QByteArray base = m_files.value(m_base);
    if (base.isEmpty())
        return refused(QStringLiteral("the base image ") + m_base + QStringLiteral(" is empty"));
    QList<QByteArray> files;
    qsizetype placed = 0, total = base.size();
    for (const QString &code : codes) {
        const QString name = languageFile(code);
        if (name.isEmpty() || placed == VHPSFLanguageImage::kMaxLanguages)
            continue;
        const QByteArray bytes = m_files.value(name);
        total += bytes.size();
        if (total > m_areaSize)
            return refused(QStringLiteral("the language image exceeds the language area"));
        placed += bytes.size() >= VHPSFLanguageImage::kMinLanguageFile ? 1 : 0;
        files.append(bytes);
    }
    // An image without languages leaves the device without any.
    if (placed == 0)
        return refused(QStringLiteral("the language pack holds no language files for ") + codes.join(QLatin1Char(' ')));
    return VHPSFLanguageImage::build(base, files, area, m_areaSize);
}
