// Feeds one input as lines: the first is a model name and a version text
// separated by a space, the others the files of an unpacked package. Checks
// what the updates rely on: an accepted loader package names a temporary
// loader "IT…" and a loader "I…" that is not one, both from the list; an
// image is the last ".bin" of the list; an image fitted to the language area
// keeps its front and has the area's size; a version below 3 always erases.

#include "VHPacer30Package.h"
#include "fuzz_require.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    const QString first = lines.takeFirst();
    VHPacer30Package::Loader loader;
    if (VHPacer30Package::loaderFrom(lines, loader)) {
        require(loader.temporary.startsWith(QLatin1String("IT")) && lines.contains(loader.temporary));
        require(loader.loader.startsWith(QLatin1Char('I')) && !loader.loader.startsWith(QLatin1String("IT")));
        require(lines.contains(loader.loader));
    }
    QString image;
    if (VHPacer30Package::imageFrom(lines, QStringLiteral("Pulsar30"), image)) {
        require(image.endsWith(QLatin1String(".bin")));
        require(lines.lastIndexOf(image) >= 0);
        for (qsizetype i = lines.lastIndexOf(image) + 1; i < lines.size(); ++i)
            require(!lines.at(i).endsWith(QLatin1String(".bin")));
    }
    const int version = VHPacer30Package::imageVersion(first.section(QLatin1Char(' '), 1));
    if (version < 3)
        require(VHPacer30Package::erasesBeforeImage(first.section(QLatin1Char(' '), 0, 0), version));
    const qsizetype area = qsizetype(size % 8192);
    const QByteArray fitted = VHPacer30Package::fitted(bytes, area);
    require(fitted.size() == area && fitted.startsWith(bytes.left(area)));
    return 0;
}
