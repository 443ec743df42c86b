#include "VHFitPackage.h"

#include "VHIniDocument.h"
#include "VHUtility.h"
#include "VHVersion.h"

VHFitPackage::VHFitPackage(const QByteArray &releaseIni)
{
    if (releaseIni.size() > kMaxReleaseIniSize) {
        m_refusal = QStringLiteral("release.ini is too large");
        return;
    }
    const VHIniDocument ini(releaseIni);
    QList<Image> images;
    for (const QString &group : ini.groups()) {
        if (group == QLatin1String("MODEL"))
            continue;
        const Image image{group, ini.value(group, QStringLiteral("Name")), ini.value(group, QStringLiteral("Version"))};
        // The name becomes a file on the volume root: it must not lead anywhere else.
        if (!VHUtility::isSafePathComponent(image.name)) {
            m_refusal = "image name can not name a file: \"" + image.name + "\"";
            return;
        }
        images.append(image);
    }
    m_images = images;
}

QList<VHFitPackage::Image> VHFitPackage::plan(const QMap<QString, QString> &deviceVersions) const
{
    QList<Image> newer;
    for (const Image &image : m_images) {
        if (VHVersion::isOlder(deviceVersions.value(image.kind), image.version))
            newer.append(image);
    }
    return newer;
}
