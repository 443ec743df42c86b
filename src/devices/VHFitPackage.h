#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The "release.ini" of a FIT package, read and checked before anything
// touches the device: one group per image ("MODEL" is not one), each with the
// file name of the image in the package and its version. A package with an
// image name that is not one plain file name, or too large to be a release
// description, is refused whole.
class VHFitPackage
{
public:
    struct Image
    {
        QString kind; // the group: OS, BootLoader, DeviceLang, ...
        QString name; // file name in the package and on the volume
        QString version;
    };

    // A release description is a few hundred bytes.
    static constexpr qint64 kMaxReleaseIniSize = 1024 * 1024;

    explicit VHFitPackage(const QByteArray &releaseIni = QByteArray());

    bool isValid() const { return m_refusal.isEmpty(); }
    // Why the package is refused; empty when it is not.
    QString refusal() const { return m_refusal; }
    // In the order of the file; empty when refused.
    const QList<Image> &images() const { return m_images; }
    // The images newer than the device's versions (by kind; a kind the device
    // does not report is always newer), in the order of the file.
    QList<Image> plan(const QMap<QString, QString> &deviceVersions) const;

private:
    QList<Image> m_images;
    QString m_refusal;
};
