#pragma once

// Packages a family must refuse: another family's, and archives that hold nothing.

#include "VHFitPackageBuilder.h"
#include "VHGalPackageBuilder.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPacer50PackageBuilder.h"
#include "VHTestFiles.h"

#include <QStringList>

// "empty-zip": the end record alone.
inline const QStringList kWrongPackageKinds{QStringLiteral("fit"),       QStringLiteral("gal"),
                                            QStringLiteral("pacer50"),   QStringLiteral("pacer40-languages"),
                                            QStringLiteral("empty-zip"), QStringLiteral("zero-bytes")};

// False also for a kind not in kWrongPackageKinds.
inline bool writeWrongPackage(const QString &path, const QString &kind)
{
    if (kind == QLatin1String("fit"))
        return VHFitPackageBuilder::writePackage(path, VHFitPackageBuilder::Options());
    if (kind == QLatin1String("gal"))
        return VHGalPackageBuilder::writePackage(path, VHGalPackageBuilder::Options());
    if (kind == QLatin1String("pacer50"))
        return VHPacer50PackageBuilder::writeTotal(path, VHPacer50PackageBuilder::Options());
    if (kind == QLatin1String("pacer40-languages"))
        return VHPSFLanguagePackBuilder::writePackage(path, VHPSFLanguagePackBuilder::Options());
    if (kind == QLatin1String("empty-zip"))
        return writeFile(path, QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    if (kind == QLatin1String("zero-bytes"))
        return writeFile(path, QByteArray());
    return false;
}
