#pragma once

#include "VHModelInfo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Stateless file, folder and time helpers shared by the device procedures.
// Paths use "/" separators.
namespace VHUtility {

// Called while a file is copied, with the bytes done and the file's size.
using CopyProgress = std::function<void(qint64 done, qint64 total)>;

QString findDeviceIni(const QString &root);
QString findDeviceTxt(const QString &root);

bool clearReadOnly(const QString &path);
bool removeFile(const QString &path);

// Copies src over dest keeping the source's modification time; retries up to
// `attempts` times with `waitMs` between attempts. With skipIfSame, an equal-sized
// dest whose modification time is within toleranceSecs of src's is left alone.
bool copyFile(const QString &src, const QString &dest, bool removeFirst, int attempts, int waitMs,
              const CopyProgress &progress = {}, bool skipIfSame = false, int toleranceSecs = 0,
              bool *copied = nullptr);

bool copyFolder(const QString &src, const QString &dest, const CopyProgress &progress = {},
                QStringList *copiedFiles = nullptr);
bool removeFolder(const QString &path);
bool removeDirectory(const QString &path);
void listFiles(const QString &folder, QStringList &out);
qint64 countFiles(const QString &folder, const QString &namePart);
bool renameAll(QStringList &paths, const QString &from, const QString &to);

QString formatUtcTime(int secondsSince1970, const QString &format);
int parseUtcTime(const QString &text, const QString &format);

bool getSupportLanguage(const QString &packageZip, const QString &folder, QStringList &languages);

// The last row whose identification occurs in data, or null.
const VHModelInfo *getRegistryDevice(const QByteArray &data, const VHModelTable &models);
VHModelTable findModelsByVendor(const VHModelTable &models, const QString &vendor);

} // namespace VHUtility
