#include "VHPacer30Package.h"

#include "VHPacer30Layout.h"
#include "VHScsiFlashClient.h"

namespace {
VHResult refused(const QString &reason) { return VHResult::failure(VHScsiFlashClient::BadPackage, reason); }
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

QByteArray VHPacer30Package::imageTag(const QString &model)
{
    if (model == QLatin1String("Pulsar30"))
        return "MAPLE";
    if (model == QLatin1String("Pulsar35"))
        return "WILLOW";
    if (model == QLatin1String("Pacer20"))
        return "SYCAMORE";
    return {};
}

namespace {

bool namesModel(const QString &name, const QString &prefix)
{
    if (prefix.isEmpty() || !name.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    const QChar next = name.at(prefix.size()); // the name ends in ".bin": there is one
    return !next.isLetterOrNumber();
}

} // namespace

VHResult VHPacer30Package::imageFrom(const QStringList &files, const QString &model, QString &image)
{
    image.clear();
    const QString tag = QString::fromLatin1(imageTag(model));
    for (const QString &name : files) {
        if (name.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive)
            && (namesModel(name, model) || namesModel(name, tag)))
            image = name;
    }
    return image.isEmpty() ? refused(QStringLiteral("no .bin image of the %1 in the package").arg(model))
                           : VHResult::success();
}

VHResult VHPacer30Package::checkImage(const QByteArray &image, const QString &model)
{
    if (image.size() < kTagArea)
        return refused(QStringLiteral("the image holds %1 bytes, too few for a program image").arg(image.size()));
    if (image.size() > VHPacer30Layout::kLanguageImageSize)
        return refused(QStringLiteral("the image holds %1 bytes, more than the image area (%2)")
                           .arg(image.size())
                           .arg(VHPacer30Layout::kLanguageImageSize));
    const QByteArray tag = imageTag(model);
    if (tag.isEmpty() || !image.left(kTagArea).contains(tag))
        return refused(QStringLiteral("the image does not carry the tag of the %1").arg(model));
    return VHResult::success();
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

VHResult VHPacer30Package::parseLoader(const VHArchiveFiles::Files &files, LoaderFiles &loader)
{
    loader = LoaderFiles();
    if (VHResult named = loaderFrom(VHArchiveFiles::topLevel(files), loader.names); !named)
        return named;
    loader.temporary = files.value(loader.names.temporary);
    loader.loader = files.value(loader.names.loader);
    // Nothing to write is no loader: an empty file would only stop the device in loader mode.
    if (loader.temporary.isEmpty() || loader.loader.isEmpty())
        return refused(QStringLiteral("a loader file of the package is empty"));
    return VHResult::success();
}

VHResult VHPacer30Package::parseImage(const VHArchiveFiles::Files &files, const QString &model, Image &image)
{
    image = Image();
    if (VHResult found = imageFrom(VHArchiveFiles::topLevel(files), model, image.name); !found)
        return found;
    image.bytes = files.value(image.name);
    return checkImage(image.bytes, model);
}
