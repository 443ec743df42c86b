#include "VHEnvInterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

VHStandardEnv::VHStandardEnv()
{
    QStringList candidates{QDir::currentPath() + QStringLiteral("/Resources")};
    if (QCoreApplication::instance()) {
        const QString programFolder = QCoreApplication::applicationDirPath();
        candidates << programFolder + QStringLiteral("/Resources")
                   << QDir::cleanPath(programFolder + QStringLiteral("/../share/veloraupdate/Resources"));
    }
    m_resourcesPath = candidates.first();
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir()) {
            m_resourcesPath = candidate;
            break;
        }
    }
}

QString VHStandardEnv::dataFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/VeloraHub");
}
