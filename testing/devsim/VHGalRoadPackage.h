#pragma once

#include "VHDevSim.h"
#include "VHFitPackageBuilder.h"

#include <QByteArray>
#include <QString>

// The GAL update the two-pass roads publish (the tests and the demo): image
// 120 with a newer boot loader and two fonts, for a device on 110 that
// updates by method 2.
namespace VHGalRoadPackage {

inline const QString kVersion = QStringLiteral("120");

inline const QByteArray kRelease = "[IMG]\nName=SycamoreBR\nSize=64\nExt_FlashImageStartAddr=0x10000\n"
                                   "Ext_FlashLangStartAddr=0x40000\nLangVersion=L2\n[OS]\nVersion=120\n"
                                   "[BootLoader]\nVersion=R002\n";

inline bool write(const QString &zip)
{
    const QList<VHFitPackageBuilder::Entry> entries{
        {QStringLiteral("release.ini"), kRelease},
        {QStringLiteral("iap.bin"), VHDevSim::makeImage(QStringLiteral("BootLoader"), "R002")},
        {QStringLiteral("SycamoreBR_120.bin"),
         VHDevSim::makeImage(QStringLiteral("OS"), kVersion, QByteArray(3000, 'i'))},
        {QStringLiteral("header.bin"), QByteArray(100, 'h')},
        {VHDevSim::fontFileName(QStringLiteral("eng")), VHDevSim::makeFont(QStringLiteral("eng"), 2, 300)},
        {VHDevSim::fontFileName(QStringLiteral("deu")), VHDevSim::makeFont(QStringLiteral("deu"), 2, 300)}};
    return VHFitPackageBuilder::writeArchive(zip, entries, true);
}

} // namespace VHGalRoadPackage
