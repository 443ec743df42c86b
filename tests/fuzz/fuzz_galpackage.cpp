// Feeds one input as an unpacked GAL package: the part before the first "|@@|"
// is its release.ini (also read as a restore description), each later part a
// font named by its own bytes 4-6. Builds both binaries and the flash plan and
// checks what the flash writes rely on: tables that stay inside the language
// binary, an image of exactly the size release.ini gives with its tail copied,
// and a plan whose areas are block-aligned, apart and addressable.

#include "VHGalPackage.h"

#include "VHUtility.h"
#include "fuzz_require.h"

#include <cstddef>
#include <cstdint>

namespace {

using Font = VHGalPackage::LanguageFile;

quint32 u32At(const QByteArray &bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

QList<Font> fontsOf(const QList<QByteArray> &parts)
{
    QList<Font> fonts;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString code = QString::fromLatin1(parts.at(i).mid(4, 3));
        fonts.append({QStringLiteral("f%1_%2_.bft").arg(i % 7).arg(code), parts.at(i)});
    }
    return fonts;
}

void checkLangBinary(const QList<Font> &fonts)
{
    const VHGalPackage::LangBinary binary = VHGalPackage::langBinary(fonts);
    require(binary.ok() != binary.bytes.isEmpty());
    if (!binary.ok())
        return;
    const QByteArray &bytes = binary.bytes;
    require(bytes.size() >= VHGalPackage::kFlashBlockSize && u32At(bytes, 0) == VHGalPackage::kLanguageMagic);
    const int count = quint8(bytes.at(8));
    require(count >= 1 && count <= VHGalPackage::kLanguageSlots);
    require(count + binary.skipped.size() + binary.leftOut.size() == VHGalPackage::inNameOrder(fonts).size());
    qint64 next = VHGalPackage::kLanguageDataOffset;
    for (int i = 0; i < VHGalPackage::kLanguageSlots; ++i) {
        const quint32 offset = u32At(bytes, 69 + 4 * i), size = u32At(bytes, 149 + 4 * i);
        require(i < count ? offset == next && size >= 7 : offset == 0 && size == 0);
        next += size;
    }
    require(next <= bytes.size());
}

void checkImageBinary(const VHImageMetaInfo &info, const QList<Font> &fonts, const QByteArray &seed)
{
    // Sizes up to the cap cost only time; the guard is the same for all of them.
    if (info.size > 1024 * 1024 && info.size <= VHGalPackage::kMaxFileSize)
        return;
    const std::optional<QByteArray> profile =
        fonts.size() % 2 ? std::optional<QByteArray>(seed.left(50)) : std::nullopt;
    const QByteArray language = fonts.isEmpty() ? QByteArray() : fonts.first().bytes;
    const VHGalPackage::Binary binary = VHGalPackage::imageBinary(seed, seed.left(200), language, info, profile);
    require(binary.ok() != binary.bytes.isEmpty());
    if (!binary.ok())
        return;
    const QByteArray &bytes = binary.bytes;
    require(bytes.size() == qint64(info.size) + (profile ? profile->size() : 0));
    require(bytes.startsWith(seed) && bytes.mid(info.size - 4, 4) == bytes.mid(148, 4));
}

void checkPlan(const VHGalPackage::Release &release, const QList<Font> &fonts, const QByteArray &seed)
{
    if (release.info.size > 1024 * 1024)
        return;
    VHGalPackage::Parts parts;
    parts.image = seed;
    parts.header = seed.right(100);
    parts.languages = fonts;
    const VHGalPackage::FlashPlan plan = VHGalPackage::flashPlan(release, parts, {QStringLiteral("deu")}, "IAP");
    require(plan.result.ok == !plan.image.isEmpty() && plan.result.ok == !plan.language.isEmpty());
    if (!plan.result.ok)
        return;
    const auto end = [](quint32 block, qsizetype bytes) { return block + (bytes + 4095) / 4096; };
    const qint64 imageEnd = end(plan.imageBlock, plan.image.size()),
                 langEnd = end(plan.langBlock, plan.language.size());
    require(release.info.imageStart == plan.imageBlock * 4096 && release.info.langStart == plan.langBlock * 4096);
    require(imageEnd <= 65536 && langEnd <= 65536);
    require(imageEnd <= plan.langBlock || langEnd <= plan.imageBlock);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> pieces;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = bytes.indexOf("|@@|", from);
        pieces.append(bytes.mid(from, at < 0 ? -1 : at - from));
        if (at < 0)
            break;
        from = at + 4;
    }
    const VHGalPackage::Release release = VHGalPackage::readRelease(pieces.first());
    require(release.imageStartValid || release.info.imageStart == 0);
    require(release.langStartValid || release.info.langStart == 0);
    require(release.info.size % 1024 == 0);
    const QString restore = VHGalPackage::restoreName(pieces.first());
    require(restore.isEmpty() || VHUtility::isSafePathComponent(restore));

    const QList<Font> fonts = fontsOf(pieces);
    const int chosen = VHGalPackage::chooseLanguageFile(fonts, {QStringLiteral("deu")});
    require(chosen >= -1 && chosen < fonts.size());
    checkLangBinary(fonts);
    checkImageBinary(release.info, fonts, bytes.left(3000));
    checkPlan(release, fonts, bytes.left(3000));
    return 0;
}
