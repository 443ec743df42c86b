#pragma once

#include <QString>

// What a package says about itself in its "release.ini": the model it is
// made for ([MODEL] Name) and the software it carries ([OS] Version, and
// [BootLoader] Version for a loader). A package is a zip holding the file, a
// folder holding it, or a folder holding "Total.zip" that does. Fields the
// package does not name stay empty: nothing is guessed.
struct VHPackageIdentity
{
    // A release.ini larger than this is no release.ini of ours and is not read.
    static constexpr qint64 kMaxReleaseIniSize = 64 * 1024;

    QString model;
    QString version;
    QString bootLoaderVersion;

    bool isEmpty() const { return model.isEmpty() && version.isEmpty() && bootLoaderVersion.isEmpty(); }

    static VHPackageIdentity read(const QString &path);
    static VHPackageIdentity fromReleaseIni(const QByteArray &text);
};
