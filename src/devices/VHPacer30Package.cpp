#include "VHPacer30Package.h"

#include "VHZipUtil.h"

#include <QDir>

namespace {
VHResult refused(const QString &reason) { return VHResult::failure(1, reason); }
} // namespace

VHResult VHPacer30Package::loaderFrom(const QStringList &files, Loader &loader)
{
    loader = Loader();
    for (const QString &name : files) {
        if (name.startsWith(QLatin1String("IT"))) {
            if (loader.temporary.isEmpty())
                loader.temporary = name;
        } else if (name.startsWith(QLatin1Char('I')) && loader.loader.isEmpty()) {
            loader.loader = name;
        }
    }
    if (loader.temporary.isEmpty())
        return refused(QStringLiteral("the loader package has no temporary loader (IT…)"));
    if (loader.loader.isEmpty())
        return refused(QStringLiteral("the loader package has no loader (I…)"));
    return VHResult::success();
}

VHResult VHPacer30Package::imageFrom(const QStringList &files, QString &image)
{
    image.clear();
    for (const QString &name : files) {
        if (name.endsWith(QLatin1String(".bin")))
            image = name;
    }
    return image.isEmpty() ? refused(QStringLiteral("no .bin image in the package")) : VHResult::success();
}

int VHPacer30Package::imageVersion(const QString &text)
{
    bool ok = false;
    const int version = text.mid(1).toInt(&ok, 10);
    return ok ? version : 0;
}

bool VHPacer30Package::erasesBeforeImage(const QString &model, int version)
{
    return (model == QLatin1String("Pacer20") && version < 8) || model == QLatin1String("Pulsar35") || version < 3;
}

QByteArray VHPacer30Package::fitted(const QByteArray &image, qsizetype size)
{
    QByteArray out = image.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

VHResult VHPacer30Package::unpack(const QString &packageFile, const QString &folder, QStringList &files)
{
    files.clear();
    VHResult result = VHZipUtil::unpackIntoEmptyFolder(packageFile, folder, QStringLiteral("the package"));
    if (result)
        files = QDir(folder).entryList(QDir::Files | QDir::NoSymLinks | QDir::Hidden, QDir::Name);
    return result;
}
