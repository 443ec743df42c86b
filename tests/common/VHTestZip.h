#pragma once

// Small zip packages for tests.

#include "VHTestFiles.h"
#include "VHZipUtil.h"

#include <QList>
#include <QPair>

// Zips `files` (name, bytes) into `path`, staged in the folder beside it named
// `path` + ".d"; the path, or empty when it could not be made.
inline QString zipFiles(const QString &path, const QList<QPair<QString, QByteArray>> &files)
{
    const QString folder = path + QStringLiteral(".d");
    QDir().mkpath(folder);
    QStringList names;
    for (const auto &[file, bytes] : files) {
        if (!writeFile(folder + QLatin1Char('/') + file, bytes))
            return {};
        names.append(file);
    }
    return VHZipUtil().compress(path, folder, names) ? path : QString();
}
