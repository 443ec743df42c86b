#include "VHPacer50RestoreRequest.h"

#include "VHEnv.h"
#include "VHLog.h"
#include "VHSafeFolder.h"
#include "VHUtility.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

namespace {

// A request is a few hundred bytes; anything larger is not one of ours.
constexpr qint64 kMaxRequestSize = 16 * 1024;
// An error code for the failures of the store; the device's own codes do not apply.
constexpr int kStoreFailed = 4;

const QString kFolderName = QStringLiteral("pacer50restore");

QString fileName(const QString &uuid) { return uuid + QStringLiteral(".json"); }

QByteArray digestOf(const QByteArray &body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
}

} // namespace

QString VHPacer50RestoreRequest::folder() { return VHEnv::instance()->dataFolder() + QLatin1Char('/') + kFolderName; }

QByteArray VHPacer50RestoreRequest::toBytes() const
{
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("uuid"), uuid},
                                                      {QStringLiteral("package"), packageFolder},
                                                      {QStringLiteral("requestedAt"), requestedAt}})
                                .toJson(QJsonDocument::Compact);
    return body + '\n' + digestOf(body) + '\n';
}

bool VHPacer50RestoreRequest::fromBytes(const QByteArray &bytes, VHPacer50RestoreRequest &request)
{
    const QList<QByteArray> lines = bytes.split('\n');
    // The body, its digest and the empty rest after the last line end.
    if (lines.size() != 3 || !lines.at(2).isEmpty() || digestOf(lines.at(0)) != lines.at(1))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(lines.at(0)).object();
    request.uuid = object.value(QStringLiteral("uuid")).toString();
    request.packageFolder = object.value(QStringLiteral("package")).toString();
    request.requestedAt = qint64(object.value(QStringLiteral("requestedAt")).toDouble());
    return VHUtility::isUuidFileName(request.uuid);
}

VHResult VHPacer50RestoreRequest::store(const VHPacer50RestoreRequest &request)
{
    if (!VHUtility::isUuidFileName(request.uuid))
        return VHResult::failure(kStoreFailed, "the device's UUID can not name its restore request: " + request.uuid);
    VHSafeFolder requests =
        VHSafeFolder::open(VHEnv::instance()->dataFolder(), kFolderName, VHSafeFolder::Durable | VHSafeFolder::Create);
    if (!requests.isValid())
        return VHResult::failure(kStoreFailed, "can not create " + folder());
    if (!requests.writeFile(fileName(request.uuid), request.toBytes()) || !requests.sync())
        return VHResult::failure(kStoreFailed, "can not store the restore request in " + folder() + ": "
                                                   + QString::fromLocal8Bit(std::strerror(requests.lastError())));
    // What comes back must be what was meant: a request read wrong would skip the format.
    VHPacer50RestoreRequest stored;
    if (!find(request.uuid, stored) || stored.packageFolder != request.packageFolder)
        return VHResult::failure(kStoreFailed, "the restore request in " + folder() + " does not read back");
    return VHResult::success();
}

bool VHPacer50RestoreRequest::find(const QString &uuid, VHPacer50RestoreRequest &request)
{
    if (!VHUtility::isUuidFileName(uuid))
        return false;
    VHSafeFolder requests = VHSafeFolder::open(folder(), QString());
    if (!requests.isValid() || requests.kindOf(fileName(uuid)) == VHSafeFolder::Kind::Missing)
        return false;
    QByteArray bytes;
    if (!requests.readFile(fileName(uuid), kMaxRequestSize, bytes) || !fromBytes(bytes, request)
        || request.uuid != uuid) {
        vhWarning() << "the restore request of " << uuid << " is damaged; it counts as none";
        return false;
    }
    return true;
}

bool VHPacer50RestoreRequest::remove(const QString &uuid)
{
    if (!VHUtility::isUuidFileName(uuid) || !QFileInfo::exists(folder()))
        return true;
    VHSafeFolder requests = VHSafeFolder::open(folder(), QString());
    if (!requests.isValid() || !requests.removeFile(fileName(uuid)))
        return false;
    // Gone from the folder is gone for the next run; only a power loss now could bring it back.
    if (!requests.sync())
        vhWarning() << "the removal of the restore request of " << uuid << " is not flushed";
    return true;
}
