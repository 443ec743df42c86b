#pragma once

#include "VHDevSim.h"
#include "VHGalRoadPackage.h"
#include "VHTestFiles.h"

#include <QByteArray>
#include <QString>

// The GAL packages the two-pass roads write: the update the demo publishes
// too, and a factory-restore folder.
namespace VHTestGalPackages {

inline const QByteArray kRelease = VHGalRoadPackage::kRelease;

inline QString writeUpdate(const QString &zip)
{
    if (!VHGalRoadPackage::write(zip))
        qWarning("can not pack %s", qPrintable(zip));
    return zip;
}

inline QString writeRestoreFolder(const QString &folder)
{
    writeFile(folder + QStringLiteral("/release.ini"), "Name=Factory\n");
    writeFile(folder + QStringLiteral("/Factory.bin"), QByteArray(5000, 'f'));
    writeFile(folder + QStringLiteral("/FactoryExData.bin"),
              VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("100"), QByteArray(9000, 'x')));
    return folder;
}

} // namespace VHTestGalPackages
