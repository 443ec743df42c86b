// Feeds one input as lines: the first is the image name the device gives, the
// others the files of an unpacked "Total.zip" and, at the same time, version
// texts and "a^b" texts. Checks what the update relies on: an accepted image
// is one plain name present at the top of a package whose files all stay in
// their folder; the lowest version is one of the list or empty; no two
// versions are each older than the other; a split text joins back whole.

#include "VHPacer50Package.h"

#include "VHUtility.h"
#include "fuzz_require.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList lines = text.split(QLatin1Char('\n'));
    const QString image = VHPacer50Package::imageFileName(lines.takeFirst());
    const VHPacer50Package package(lines);
    if (package.refusalFor(image).isEmpty()) {
        require(VHUtility::isSafePathComponent(image));
        require(!package.topFile(image).isEmpty());
        for (const QString &file : lines)
            require(!file.startsWith(QLatin1Char('/')) && !file.split(QLatin1Char('/')).contains(QStringLiteral("..")));
    }
    const QString lowest = VHPacer50Package::minVersion(lines);
    require(lowest.isEmpty() || lines.contains(lowest));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QString &a = lines.at(i);
        const QString &b = lines.at(i + 1);
        require(!(VHPacer50Package::isVersionOlder(a, b) && VHPacer50Package::isVersionOlder(b, a)));
        QString first, second;
        if (VHPacer50Package::splitPair(a, first, second))
            require(first + QLatin1Char('^') + second == a && !first.contains(QLatin1Char('^')));
    }
    require(VHPacer50Package::updateIni(qint64(size), image).count("\r\n") >= 6);
    return 0;
}
