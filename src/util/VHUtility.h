#pragma once

#include "VHModelInfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Stateless file, folder and time helpers shared by the device procedures.
// Paths use "/" separators. Names are taken exactly as given: these serve the
// user's own folders. Files on a device volume, where names ignore case and
// nothing may be trusted, go through VHSafeFolder.
namespace VHUtility {

// Called while a file is copied, with the bytes done and the file's size.
using CopyProgress = std::function<void(qint64 done, qint64 total)>;

// A name read from a device, a package or a server may name a file or folder
// only when it is one path component: not empty, not "." or "..", without
// "/", "\\" or NUL.
bool isSafePathComponent(const QString &name);

// A device UUID that may name a file of its own in the data folder: 1 to 64
// ASCII letters, digits, "_" or "-".
bool isUuidFileName(const QString &uuid);
// The form of a language code a user or a device names: three lower-case
// ASCII letters, as "deu".
bool isLanguageCode(const QString &code);

// The identity file of a volume: a regular file, never a link, found in any
// spelling as on FAT, lower case first; empty when there is none.
QString findDeviceIni(const QString &root);
QString findDeviceTxt(const QString &root);

// Gives the owner write permission; false when the file cannot be changed.
[[nodiscard]] bool clearReadOnly(const QString &path);
[[nodiscard]] bool removeFile(const QString &path);

// Copies src over dest keeping the source's modification time; retries up to
// `attempts` times with `waitMs` between attempts. With skipIfSame, an equal-sized
// dest whose modification time is within toleranceSecs of src's is left alone.
// The data goes to a temporary file beside dest that replaces dest only when
// complete, so dest never holds part of a file (a full volume gives false).
[[nodiscard]] bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
                            const CopyProgress &progress = {}, bool skipIfSame = false, int toleranceSecs = 0,
                            bool *copied = nullptr);

// Visible files and folders, recursively; true when src does not exist, false
// when dest cannot be created or a file cannot be copied.
[[nodiscard]] bool copyFolder(const QString &src, const QString &dest, const CopyProgress &progress = {},
                              QStringList *copiedFiles = nullptr);
// Both remove a folder tree of any depth through directory handles; links in
// it are removed, never followed. True when the folder is gone or was never
// there, false when it could not be emptied. removeFolder removes hidden
// entries too and goes on past a failure; removeDirectory leaves hidden entries
// (so their folder stays) and stops at the first failure.
[[nodiscard]] bool removeFolder(const QString &path);
[[nodiscard]] bool removeDirectory(const QString &path);
void listFiles(const QString &folder, QStringList &out);
qint64 countFiles(const QString &folder, const QString &namePart);
[[nodiscard]] bool renameAll(QStringList &paths, const QString &from, const QString &to);

QString formatUtcTime(int secondsSince1970, const QString &format);
int parseUtcTime(const QString &text, const QString &format);

[[nodiscard]] bool getSupportLanguage(const QString &packageZip, const QString &folder, QStringList &languages,
                                      const CopyProgress &unpacked = {});

// The last row whose identification occurs in data, or null.
const VHModelInfo *getRegistryDevice(const QByteArray &data, const VHModelTable &models);
// The rows with a non-empty ":"-separated piece of their identification in vendor (case ignored), each
// at most once, in table order.
VHModelTable findModelsByVendor(const VHModelTable &models, const QString &vendor);

} // namespace VHUtility
