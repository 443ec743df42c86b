#pragma once

#include "VHDevSim.h"
#include "VHFitPackageBuilder.h"
#include "VHTestFiles.h"

#include <QByteArray>
#include <QString>

// The GAL packages the two-pass roads write: an update to image 120 with a
// newer boot loader and two fonts, and a factory-restore folder.
namespace VHTestGalPackages {

inline const QByteArray kRelease = "[IMG]\nName=SycamoreBR\nSize=64\nExt_FlashImageStartAddr=0x10000\n"
                                   "Ext_FlashLangStartAddr=0x40000\nLangVersion=L2\n[OS]\nVersion=120\n"
                                   "[BootLoader]\nVersion=R002\n";

inline QString writeUpdate(const QString &zip)
{
    const QList<VHFitPackageBuilder::Entry> entries{
        {QStringLiteral("release.ini"), kRelease},
        {QStringLiteral("iap.bin"), VHDevSim::makeImage(QStringLiteral("BootLoader"), "R002")},
        {QStringLiteral("SycamoreBR_120.bin"),
         VHDevSim::makeImage(QStringLiteral("OS"), QStringLiteral("120"), QByteArray(3000, 'i'))},
        {QStringLiteral("header.bin"), QByteArray(100, 'h')},
        {VHDevSim::fontFileName(QStringLiteral("eng")), VHDevSim::makeFont(QStringLiteral("eng"), 2, 300)},
        {VHDevSim::fontFileName(QStringLiteral("deu")), VHDevSim::makeFont(QStringLiteral("deu"), 2, 300)}};
    if (!VHFitPackageBuilder::writeArchive(zip, entries, true))
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
