#include "VHHistoryRecorder.h"

#include "VHClient.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHMinisign.h"
#include "VHPackageIdentity.h"
#include "VHPackageSignature.h"
#include "VHTrustedKeys.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <algorithm>

namespace {

struct PackageDigest
{
    QString md5;
    QString trustedComment; // empty unless a trusted key vouches for the package
};

// One read for both: the MD5 the history names the package by, and the
// BLAKE2b-512 its stored signature is checked against.
PackageDigest digestOf(const QString &path)
{
    constexpr qint64 kStep = 1024 * 1024;
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash md5(QCryptographicHash::Md5);
    VHMinisign::Verifier verifier;
    QByteArray buffer(kStep, Qt::Uninitialized);
    qint64 count = 0;
    while ((count = file.read(buffer.data(), buffer.size())) > 0) {
        md5.addData(QByteArrayView(buffer.constData(), count));
        verifier.addData(QByteArrayView(buffer.constData(), count));
    }
    if (count < 0)
        return {};
    PackageDigest digest{QString::fromLatin1(md5.result().toHex()), QString()};
    if (const QByteArray signature = VHPackageSignature::readSignature(path); !signature.isNull()) {
        QString comment;
        if (verifier.verify(signature, VHTrustedKeys::load(), path, &comment))
            digest.trustedComment = comment;
    }
    return digest;
}

QString versionOf(VHClient &client)
{
    QString version;
    client.getVersion(version);
    return version;
}

// A reason is a sentence, not a dump: the history's lines stay short.
constexpr qsizetype kMaxReasonSize = 1000;

QString packageVersionOf(const QString &package)
{
    const VHPackageIdentity identity = VHPackageIdentity::read(package);
    return identity.version;
}

} // namespace

QString VHHistoryRecorder::actionName(int code, const QString &componentMode)
{
    switch (code) {
    case VHClient::ActionUpdateTotal:
        return QStringLiteral("update");
    case VHClient::ActionRestoreFactory:
        return QStringLiteral("restore");
    case VHClient::ActionUpdateAlp:
        return QStringLiteral("gps");
    case VHClient::ActionUpdateComponent:
        return componentMode == QLatin1String("1") ? QStringLiteral("workouts") : QString();
    default:
        return {};
    }
}

void VHHistoryRecorder::noteArrival(VHClient &client)
{
    VHHistoryEntry arrival;
    client.getUUID(arrival.uuid);
    // Without a data folder there is no history to close (a runtime not set up).
    if (arrival.uuid.isEmpty() || VHEnv::instance()->dataFolder().isEmpty())
        return;
    const VHHistory history = VHHistory::ofDataFolder();
    const QList<VHHistoryEntry> lines = history.lines();
    auto last = std::find_if(lines.crbegin(), lines.crend(),
                             [&](const VHHistoryEntry &line) { return line.uuid == arrival.uuid; });
    if (last == lines.crend() || !VHHistory::awaitsReturn(*last))
        return;
    // A device seen again before it restarted reports what the action's end recorded: nothing to add.
    arrival.versionAfter = versionOf(client);
    if (arrival.versionAfter == last->versionAfter)
        return;
    arrival.time = QDateTime::currentDateTimeUtc();
    arrival.action = VHHistory::kReturnAction;
    client.getModelName(arrival.model);
    arrival.versionBefore = last->versionBefore;
    arrival.ok = true;
    arrival.program = QCoreApplication::applicationName();
    if (!history.append(arrival))
        vhWarning() << "the device's return not recorded in the history";
}

void VHHistoryRecorder::begin(VHClient &client, int code, const QString &componentMode, const QString &package)
{
    const bool resuming = client.isBetweenPasses();
    QMutexLocker lock(&m_mutex);
    if (resuming && m_active && m_code == code)
        return;
    QString name = actionName(code, componentMode);
    // A second pass with no first pass of ours is a device left waiting, finished by hand.
    if (resuming && !m_active && (code == VHClient::ActionUpdateTotal || code == VHClient::ActionRestoreFactory))
        name = QStringLiteral("recover");
    m_active = !name.isEmpty();
    if (!m_active)
        return;
    m_code = code;
    m_package = code == VHClient::ActionUpdateTotal || code == VHClient::ActionUpdateComponent
                        || code == VHClient::ActionRestoreFactory
                    ? package
                    : QString();
    m_hashed = false;
    m_entry = VHHistoryEntry();
    m_entry.time = QDateTime::currentDateTimeUtc();
    m_entry.action = name;
    client.getModelName(m_entry.model);
    client.getUUID(m_entry.uuid);
    m_entry.versionBefore = versionOf(client);
    m_entry.program = QCoreApplication::applicationName();
    m_timer.start();
}

void VHHistoryRecorder::hashPackage()
{
    QString package;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_active || m_hashed)
            return;
        m_hashed = true;
        package = m_package;
    }
    const PackageDigest digest = digestOf(package);
    const QString version = packageVersionOf(package);
    QMutexLocker lock(&m_mutex);
    m_entry.packageMd5 = digest.md5;
    m_entry.trustedComment = digest.trustedComment;
    m_entry.versionPackage = version;
}

void VHHistoryRecorder::finish(VHClient &client)
{
    QMutexLocker lock(&m_mutex);
    if (!m_active)
        return;
    m_active = false;
    int code = 0;
    m_entry.ok = !client.actionFailed(code);
    m_entry.errorCode = code;
    m_entry.reason = client.errorText().left(kMaxReasonSize);
    m_entry.versionAfter = versionOf(client);
    m_entry.durationMs = m_timer.elapsed();
    if (!VHHistory::ofDataFolder().append(m_entry))
        vhWarning() << "action not recorded in the history: " << m_entry.action;
}
