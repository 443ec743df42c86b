#include "VHGalPackage.h"

#include "VHIniDocument.h"
#include "VHUtility.h"

#include <algorithm>

namespace {

const QString kImg = QStringLiteral("IMG");

// Writes little-endian integers and bytes into a buffer of fixed length; a
// write that would not fit is refused and marks the writer failed, so a
// table is never written past.
class ByteWriter
{
public:
    explicit ByteWriter(qsizetype size) : m_bytes(size, '\0') {}

    void u8(qsizetype at, quint8 value) { put(at, QByteArray(1, char(value))); }
    void u32(qsizetype at, quint32 value)
    {
        QByteArray bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[i] = char((value >> (8 * i)) & 0xFF);
        put(at, bytes);
    }
    void put(qsizetype at, const QByteArray &bytes)
    {
        if (m_failed || at < 0 || bytes.size() > m_bytes.size() - at) {
            m_failed = true;
            return;
        }
        std::copy(bytes.cbegin(), bytes.cend(), m_bytes.begin() + at);
    }
    bool ok() const { return !m_failed; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    bool m_failed = false;
};

bool isDigits(const QString &text, int base)
{
    if (text.isEmpty())
        return false;
    return std::all_of(text.cbegin(), text.cend(), [base](QChar c) {
        if (c.isDigit() && c.unicode() < 0x80)
            return true;
        const char16_t lower = c.toLower().unicode();
        return base == 16 && lower >= u'a' && lower <= u'f';
    });
}

// Hexadecimal text, "0x" optional, that fits 32 bits.
std::optional<quint32> hexAddress(const QString &raw)
{
    QString text = raw.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const qulonglong value = isDigits(text, 16) ? text.toULongLong(&ok, 16) : 0;
    if (!ok || value > 0xFFFFFFFFull)
        return std::nullopt;
    return quint32(value);
}

// KiB as unsigned decimal text, in bytes; 0 for anything else or a value
// beyond 32 bits.
quint32 sizeInBytes(const QString &raw)
{
    const QString text = raw.trimmed();
    bool ok = false;
    const qulonglong kib = isDigits(text, 10) ? text.toULongLong(&ok, 10) : 0;
    if (!ok || kib > 0xFFFFFFFFull / 1024)
        return 0;
    return quint32(kib * 1024);
}

bool isFont(const QString &name) { return name.endsWith(QLatin1String(".bft"), Qt::CaseInsensitive); }

qint64 blocksFor(qint64 bytes) { return (bytes + VHGalPackage::kFlashBlockSize - 1) / VHGalPackage::kFlashBlockSize; }

VHResult refused(const QString &reason) { return VHResult::failure(0, reason); }

// What release.ini itself must give before any binary is built for the flash.
VHResult releaseCheck(const VHGalPackage::Release &release)
{
    const VHImageMetaInfo &info = release.info;
    if (info.name.isEmpty())
        return refused(QStringLiteral("release.ini gives no image name"));
    if (info.size == 0)
        return refused(QStringLiteral("release.ini gives no image size"));
    if (!release.imageStartValid || !release.langStartValid)
        return refused(QStringLiteral("release.ini gives no hexadecimal flash start address"));
    if (info.imageStart % VHGalPackage::kFlashBlockSize != 0 || info.langStart % VHGalPackage::kFlashBlockSize != 0)
        return refused(QStringLiteral("flash start address is not a multiple of 4096"));
    return VHResult::success();
}

} // namespace

VHGalPackage::Release VHGalPackage::readRelease(const QByteArray &releaseIni)
{
    const VHIniDocument ini(releaseIni);
    Release release;
    VHImageMetaInfo &info = release.info;
    info.name = ini.value(kImg, QStringLiteral("Name"));
    info.size = sizeInBytes(ini.value(kImg, QStringLiteral("Size")));
    const std::optional<quint32> imageStart = hexAddress(ini.value(kImg, QStringLiteral("Ext_FlashImageStartAddr")));
    const std::optional<quint32> langStart = hexAddress(ini.value(kImg, QStringLiteral("Ext_FlashLangStartAddr")));
    info.imageStart = imageStart.value_or(0);
    info.langStart = langStart.value_or(0);
    release.imageStartValid = imageStart.has_value();
    release.langStartValid = langStart.has_value();
    info.langVersion = ini.value(kImg, QStringLiteral("LangVersion"));
    info.imageVersion = ini.value(QStringLiteral("OS"), QStringLiteral("Version"));
    info.bootLoaderVersion = ini.value(QStringLiteral("BootLoader"), QStringLiteral("Version"));
    return release;
}

VHImageMetaInfo VHGalPackage::defaultImageInfo(const QString &model)
{
    VHImageMetaInfo info;
    if (model == QLatin1String("Pacer20plus"))
        info.name = QStringLiteral("SycamorePlus");
    else if (model == QLatin1String("Pacer21"))
        info.name = QStringLiteral("SycamoreBR");
    info.size = kDefaultImageSize;
    return info;
}

QString VHGalPackage::imageFileName(const QStringList &names, const QString &imageName)
{
    if (imageName.isEmpty())
        return {};
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    for (const QString &name : sorted) {
        const QString lower = name.toLower();
        if (lower == QLatin1String("header.bin") || lower == QLatin1String("iap.bin")
            || lower == QLatin1String("profile.bin"))
            continue;
        if (lower.endsWith(QLatin1String(".bin")) && name.contains(imageName))
            return name;
    }
    return {};
}

QList<VHGalPackage::LanguageFile> VHGalPackage::inNameOrder(const QList<LanguageFile> &files)
{
    QList<LanguageFile> fonts;
    std::copy_if(files.cbegin(), files.cend(), std::back_inserter(fonts),
                 [](const LanguageFile &file) { return isFont(file.fileName); });
    std::stable_sort(fonts.begin(), fonts.end(),
                     [](const LanguageFile &a, const LanguageFile &b) { return a.fileName < b.fileName; });
    return fonts;
}

int VHGalPackage::chooseLanguageFile(const QList<LanguageFile> &files, const QStringList &deviceLanguages)
{
    // The first match in name order, whatever order the files came in.
    const auto firstHolding = [&files](const QString &part) {
        int found = -1;
        for (int i = 0; i < files.size(); ++i) {
            const QString &name = files.at(i).fileName;
            if (isFont(name) && name.contains(part) && (found < 0 || name < files.at(found).fileName))
                found = i;
        }
        return found;
    };
    int found = -1;
    if (!deviceLanguages.isEmpty() && !deviceLanguages.first().isEmpty())
        found = firstHolding(QLatin1Char('_') + deviceLanguages.first() + QLatin1Char('_'));
    return found >= 0 ? found : firstHolding(QStringLiteral("_eng_"));
}

VHGalPackage::LangBinary VHGalPackage::langBinary(const QList<LanguageFile> &files)
{
    LangBinary binary;
    QList<LanguageFile> placed;
    qint64 total = kLanguageDataOffset;
    for (const LanguageFile &file : inNameOrder(files)) {
        if (file.bytes.size() < kMinLanguageFileSize)
            binary.skipped.append(file.fileName);
        else if (placed.size() == kLanguageSlots)
            binary.leftOut.append(file.fileName);
        else {
            placed.append(file);
            total += file.bytes.size();
        }
    }
    if (placed.isEmpty()) {
        binary.refusal = QStringLiteral("no usable language file");
        return binary;
    }
    if (total > kMaxFileSize) {
        binary.refusal = QStringLiteral("language files are too large");
        return binary;
    }

    ByteWriter out(std::max<qint64>(total, kFlashBlockSize));
    out.u32(0, kLanguageMagic);
    out.put(4, placed.first().bytes.left(4));
    out.u8(8, quint8(placed.size()));
    qint64 offset = kLanguageDataOffset;
    for (int i = 0; i < placed.size(); ++i) {
        const QByteArray &bytes = placed.at(i).bytes;
        out.put(9 + 3 * i, bytes.mid(4, 3));
        out.u32(69 + 4 * i, quint32(offset));
        out.u32(149 + 4 * i, quint32(bytes.size()));
        out.put(offset, bytes);
        offset += bytes.size();
    }
    if (!out.ok()) {
        binary.refusal = QStringLiteral("language binary does not fit its table");
        return binary;
    }
    binary.bytes = out.bytes();
    return binary;
}

VHGalPackage::Binary VHGalPackage::imageBinary(const QByteArray &image, const QByteArray &header,
                                               const QByteArray &language, const VHImageMetaInfo &info,
                                               const std::optional<QByteArray> &profile)
{
    constexpr qint64 kTailSource = 148;
    Binary binary;
    if (info.size < kTailSource + 4 || info.size > kMaxFileSize) {
        binary.refusal = QStringLiteral("image size %1 is not usable").arg(info.size);
        return binary;
    }
    const qint64 padded = (qint64(image.size()) + kImageAlignment - 1) / kImageAlignment * kImageAlignment;
    const qint64 parts = padded + header.size() + language.size();
    if (parts > qint64(info.size)) {
        binary.refusal = QStringLiteral("image parts of %1 bytes exceed the image size %2").arg(parts).arg(info.size);
        return binary;
    }
    if (profile && profile->size() > kMaxFileSize) {
        binary.refusal = QStringLiteral("Profile.bin is too large");
        return binary;
    }

    ByteWriter out(qint64(info.size) + (profile ? profile->size() : 0));
    out.put(0, image);
    out.put(padded, header);
    out.put(padded + header.size(), language);
    out.put(info.size - 4, out.bytes().mid(kTailSource, 4));
    if (profile)
        out.put(info.size, *profile);
    if (!out.ok()) {
        binary.refusal = QStringLiteral("image binary does not fit its size");
        return binary;
    }
    binary.bytes = out.bytes();
    return binary;
}

VHResult VHGalPackage::checkFlashPlan(const Release &release, qint64 imageBytes, qint64 langBytes)
{
    if (VHResult check = releaseCheck(release); !check)
        return check;
    if (imageBytes <= 0 || langBytes <= 0)
        return refused(QStringLiteral("nothing to write to the flash"));
    const qint64 imageFirst = release.info.imageStart / kFlashBlockSize;
    const qint64 imageEnd = imageFirst + blocksFor(imageBytes); // one past the last block
    const qint64 langFirst = release.info.langStart / kFlashBlockSize;
    const qint64 langEnd = langFirst + blocksFor(langBytes);
    if (imageEnd - 1 > kLastFlashBlock)
        return refused(QStringLiteral("image area ends beyond flash block %1").arg(kLastFlashBlock));
    if (langEnd - 1 > kLastFlashBlock)
        return refused(QStringLiteral("language area ends beyond flash block %1").arg(kLastFlashBlock));
    if (imageFirst < langEnd && langFirst < imageEnd)
        return refused(QStringLiteral("image and language areas overlap"));
    return VHResult::success();
}

VHGalPackage::FlashPlan VHGalPackage::flashPlan(const Release &release, const Parts &parts,
                                                const QStringList &deviceLanguages, const QString &iapName)
{
    FlashPlan plan;
    const auto refuse = [&plan](const QString &reason) {
        plan.result = refused(reason);
        return plan;
    };
    if (iapName.trimmed().isEmpty())
        return refuse(QStringLiteral("the device gives no IAP name"));
    if (VHResult check = releaseCheck(release); !check)
        return refuse(check.reason);
    if (!parts.image)
        return refuse("the package has no image named like \"" + release.info.name + "\"");
    if (!parts.header)
        return refuse(QStringLiteral("the package has no header.bin"));
    const int font = chooseLanguageFile(parts.languages, deviceLanguages);
    if (font < 0)
        return refuse(QStringLiteral("the package has no language file for the device"));

    const Binary image =
        imageBinary(*parts.image, *parts.header, parts.languages.at(font).bytes, release.info, parts.profile);
    if (!image.ok())
        return refuse(image.refusal);
    const LangBinary language = langBinary(parts.languages);
    plan.skippedLanguages = language.skipped;
    plan.leftOutLanguages = language.leftOut;
    if (!language.ok())
        return refuse(language.refusal);
    if (VHResult check = checkFlashPlan(release, image.bytes.size(), language.bytes.size()); !check)
        return refuse(check.reason);
    plan.image = image.bytes;
    plan.language = language.bytes;
    plan.imageBlock = release.info.imageStart / kFlashBlockSize;
    plan.langBlock = release.info.langStart / kFlashBlockSize;
    return plan;
}

QString VHGalPackage::restoreName(const QByteArray &releaseIni)
{
    const QString name = VHIniDocument(releaseIni).value(QString(), QStringLiteral("Name"));
    return VHUtility::isSafePathComponent(name) ? name : QString();
}
