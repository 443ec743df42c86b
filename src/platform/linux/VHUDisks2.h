#pragma once

#include <QString>
#include <QStringList>

// Ejecting a drive through the UDisks2 service on the system bus: unmount
// every mounted file system of the disk, then power the drive off (eject for
// removable media), without asking the user for authorisation.
namespace VHUDisks2 {

enum class Result { Ejected, Failed, Unavailable };

// mountedNodes: device nodes of the disk's mounted file systems ("/dev/sdb1");
// diskNode: the disk's node ("/dev/sdb").
Result eject(const QStringList &mountedNodes, const QString &diskNode);

} // namespace VHUDisks2
