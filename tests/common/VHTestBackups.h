#pragma once

// The flash backups kept in the data folder, for the tests of the families that keep them.

#include "VHEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

// Each test sees its own backups only.
inline void removeFlashBackups()
{
    const QDir data(VHEnv::instance()->dataFolder());
    for (const QString &name : data.entryList({QStringLiteral("*.dat")}, QDir::Files))
        QFile::remove(data.filePath(name));
}

// A day older, so that it counts as made before anything made now.
inline bool ageByADay(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
           && file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
}
