// Feeds one input as the front of a PSF flash image (the journal and the dist
// header; byte 0 holds flags), attaches to it as a device would, loads every
// region, edits and saves; then checks what the store promises: a current
// record is a marked slot of the header area, used parts lie inside the
// flash, and a save that succeeded reads back with its record in slot 0. The
// same bytes are also read as a language area.

#include "VHLanguageMap.h"
#include "VHPSFBlockSource.h"
#include "VHPSFContainer_1_5.h"
#include "VHPSFFlashStore.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFRecord.h"
#include "fuzz_require.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

void checkCurrent(VHPSFFlashStore &store)
{
    qsizetype record = -1;
    if (!store.flashHeader().currentRecord(record))
        return;
    require(record >= 0 && record < VHPSFLayout::kHeaderSize && record % VHPSFLayout::kSlotSize == 0);
    require(VHPSFRecord::marker(store.image(), record) == VHPSFLayout::kRecordMarker);
}

void checkLanguages(const QByteArray &area)
{
    static const VHLanguageMap map;
    const qsizetype found = VHPSFLanguageImage::findDirectory(area);
    require(found >= 0 && found % 4 == 0 && (found == 0 || found + 4 <= area.size()));
    QStringList codes;
    if (VHPSFLanguageImage::languageCodes(area, found, map, codes))
        require(codes.size() <= VHPSFLanguageImage::kMaxLanguages);
}

void edit(VHPSFFlashStore &store, uint8_t flags)
{
    VHPSFFlashHeader &header = store.flashHeader();
    if (flags & 4)
        (void)header.resetRoutes();
    if (flags & 8)
        (void)header.resetTracks();
    for (int i = 0; i < kVHPSFRegionCount; ++i)
        (void)header.append(VHPSFRegion(i), QByteArray((flags >> 4) * 37, char(i)));
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

// A wrong check value is logged on every run that meets one; keep the output to findings.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    const QByteArray input(reinterpret_cast<const char *>(data + 1),
                           qsizetype(std::min<size_t>(size - 1, VHPSFLayout::kDistHeaderEnd)));
    checkLanguages(input);
    QByteArray flash(VHPSFLayout::kFlashSize, char(0xFF));
    flash.replace(0, input.size(), input);
    flash[VHPSFLayout::kInitialisedByte] = char(flags & 1);
    VHPSFImageSource source(flash);
    VHPSFFlashStore store(source);
    std::unique_ptr<VHPSFContainer_1_5> container;
    const bool attached = bool(store.attach(flags & 2, container));
    require(!attached || (store.flashHeader().hasLayout() && container && container->isValid()));
    checkCurrent(store);
    if (!attached || !store.loadAll())
        return 0;
    for (int i = 0; i < kVHPSFRegionCount; ++i) {
        qsizetype from = 0, to = 0;
        if (store.flashHeader().usedRange(VHPSFRegion(i), from, to))
            require(from >= 0 && from <= to && to <= VHPSFLayout::kFlashSize);
    }
    edit(store, flags);
    if (!store.save())
        return 0;
    require(source.flash().left(VHPSFLayout::kHeaderFrameSize) == store.image().left(VHPSFLayout::kHeaderFrameSize));
    VHPSFImageSource saved(source.flash());
    VHPSFFlashStore reread(saved);
    qsizetype record = -1;
    require(reread.flashHeader().currentRecord(record) && record == 0);
    return 0;
}
