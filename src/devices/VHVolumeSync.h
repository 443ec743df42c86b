#pragma once

#include <QString>
#include <QStringList>

// Linux keeps writes to a USB volume in memory. A device action that wrote to
// a volume calls this before it reports success, so the user is never told to
// unplug while data is still on its way.
namespace VHVolumeSync {

// fsync of every file and of the folders holding them, then syncfs of the
// volume that holds `volumeRoot`. False when any of it failed.
bool flush(const QStringList &files, const QString &volumeRoot);

} // namespace VHVolumeSync
