// Feeds one input as the files of a PSF language pack: the chunks
// between "|" become the base image and language files of a few codes
// (names from the chunks' first bytes, so that repeats and case variants
// meet), then builds the language image for every code; checks what the
// device relies on: an image is the area's size exactly and its directory
// holds at most 20 entries that follow one another inside it.

#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "fuzz_require.h"

#include <cstddef>
#include <cstdint>

namespace {

const char *const kNames[] = {"aspens.bin",      "LINDEN.BIN", "Font_eng_01.bft", "Font_ENG_02.bft",
                              "Font_deu_01.bft", "x_fra_",     "release.ini",     "Font_ita.bft"};

QList<QByteArray> chunksOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('|');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VHArchiveFiles::Files files;
    const QList<QByteArray> chunks = chunksOf(data, size);
    for (qsizetype i = 0; i < chunks.size() && i < 16; ++i) {
        const QByteArray &chunk = chunks[i];
        const size_t pick = (chunk.isEmpty() ? size_t(i) : size_t(uint8_t(chunk[0])) + size_t(i)) % std::size(kNames);
        files.insert(QLatin1String(kNames[pick]), chunk);
    }
    VHPSFLanguagePack pack;
    if (!VHPSFLanguagePack::parse(files, pack))
        return 0;
    QByteArray area;
    const QStringList codes{QStringLiteral("eng"), QStringLiteral("deu"), QStringLiteral("fra"), QStringLiteral("ita")};
    if (!pack.buildImage(codes, area))
        return 0;
    require(area.size() == VHPSFLanguageImage::kAreaSize);
    const qsizetype directory = VHPSFLanguageImage::findDirectory(area);
    require(directory >= 0 && directory + VHPSFLanguageImage::kDirectorySize <= area.size());
    require(quint8(area[directory + 8]) <= VHPSFLanguageImage::kMaxLanguages);
    return 0;
}
