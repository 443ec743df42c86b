#include "VHSimVolumeMounter.h"

#include "VHLog.h"
#include "VHSimLayout.h"

#include <QDir>
#include <QTimer>

VHSimVolumeMounter::VHSimVolumeMounter(const QString &root, QObject *parent)
    : VHVolumeMounter(parent), m_root(QDir::cleanPath(QDir(root).absolutePath()))
{}

QList<VHUnmountedVolume> VHSimVolumeMounter::unmountedVolumes()
{
    QList<VHUnmountedVolume> volumes;
    for (const QString &name : VHSimLayout::unmountedDriveNames(m_root)) {
        const QHash<QString, QString> info = VHSimLayout::readSmallIni(VHSimLayout::unmountedDrivePath(m_root, name)
                                                                       + QLatin1Char('/') + VHSimLayout::kDriveInfo);
        const QString label = info.value(QStringLiteral("label"));
        volumes.append({name, label.isEmpty() ? name : label});
    }
    return volumes;
}

void VHSimVolumeMounter::mount(const QString &node)
{
    // Only a plain name of the folder: nothing outside it can be moved.
    if (!VHSimLayout::unmountedDriveNames(m_root).contains(node))
        return finish(node, false, QStringLiteral("no such volume"));
    const QString from = VHSimLayout::unmountedDrivePath(m_root, node);
    const QString refusal = VHSimLayout::readSmallIni(from + QLatin1Char('/') + VHSimLayout::kDriveInfo)
                                .value(QStringLiteral("mountRefusal"));
    if (!refusal.isEmpty())
        return finish(node, false, refusal);
    const QString to = m_root + QLatin1Char('/') + node;
    if (QFileInfo::exists(to) || !QDir().rename(from, to))
        return finish(node, false, QStringLiteral("can not mount ") + node);
    finish(node, true, to);
}

void VHSimVolumeMounter::finish(const QString &node, bool ok, const QString &text)
{
    vhDebug() << "simulated mount of " << node << (ok ? ": mounted at " : ": refused, ") << text;
    QTimer::singleShot(0, this, [this, node, ok, text] { emit mountFinished(node, ok, text); });
}
