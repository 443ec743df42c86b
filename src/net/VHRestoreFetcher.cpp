#include "VHRestoreFetcher.h"

#include "VHArchiveFiles.h"
#include "VHLog.h"
#include "VHNetRequest.h"
#include "VHSafeFolder.h"
#include "VHUpdatesFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

namespace {

constexpr int kTransferTimeoutMs = 60000;

QString restorePath(const QString &folder) { return folder + QLatin1Char('/') + VHUpdatesFolder::kRestoreFolder; }

} // namespace

VHRestoreFetcher::VHRestoreFetcher(QObject *parent) : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    connect(m_network, &QNetworkAccessManager::finished, this, &VHRestoreFetcher::onReplyFinished);
    m_unpacker.setMaxThreadCount(1);
    VHNetRequest::prepareManager(m_network);
}

VHRestoreFetcher::~VHRestoreFetcher()
{
    m_network->disconnect(this);
    if (m_reply)
        m_reply->abort();
    // An unpacking under way is finished, not cut off halfway (its result,
    // posted to this object, is dropped with it).
    m_unpacker.waitForDone();
}

bool VHRestoreFetcher::isNeeded(const QString &updatesFolder, const QString &version)
{
    QFile file(updatesFolder + QLatin1Char('/') + kVersionFile);
    const bool known = file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.read(256)) == version;
    return !version.isEmpty() && !(known && QFileInfo(restorePath(updatesFolder)).isDir());
}

void VHRestoreFetcher::fetch(const QUrl &url, const QString &md5hash, const QString &version,
                             const QString &updatesFolder)
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    ++m_fetchNumber;
    m_unpacking = false;
    m_bytes.clear();
    m_md5hash = md5hash;
    m_version = version;
    m_folder = updatesFolder;
    m_errorText.clear();
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        finish(false, QStringLiteral("the restore files' address is not a web address"));
        return;
    }
    vhWarning() << "downloading restore files" << url.toString();
    m_reply = m_network->get(VHNetRequest::plainGet(url, kTransferTimeoutMs));
    connect(m_reply, &QNetworkReply::readyRead, this, &VHRestoreFetcher::onBytesArrived);
}

void VHRestoreFetcher::onBytesArrived()
{
    if (!m_reply)
        return;
    m_bytes += m_reply->readAll();
    if (m_bytes.size() > kMaxArchiveSize)
        m_reply->abort(); // finishes with an error; the size is named there
}

void VHRestoreFetcher::onReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    if (takeArchive(reply))
        unpackOnWorker();
}

bool VHRestoreFetcher::takeArchive(QNetworkReply *reply)
{
    m_bytes += reply->readAll();
    if (m_bytes.size() > kMaxArchiveSize) {
        finish(false, QStringLiteral("the restore files are larger than %1 bytes").arg(kMaxArchiveSize));
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        finish(false, QStringLiteral("the restore files' download failed: ") + VHNetRequest::failureText(reply));
        return false;
    }
    return true;
}

void VHRestoreFetcher::unpackOnWorker()
{
    m_unpacking = true;
    const quint64 number = m_fetchNumber;
    // The bytes go to the worker; nothing here touches them again.
    m_unpacker.start([this, number, bytes = std::exchange(m_bytes, QByteArray()), md5hash = m_md5hash,
                      version = m_version, folder = m_folder] {
        const QString error = checkAndInstall(bytes, md5hash, version, folder);
        QMetaObject::invokeMethod(
            this, [this, number, error] { onUnpacked(number, error); }, Qt::QueuedConnection);
    });
}

QString VHRestoreFetcher::checkAndInstall(const QByteArray &bytes, const QString &md5hash, const QString &version,
                                          const QString &folder)
{
    static const QRegularExpression md5Text(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QString actual = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
    if (md5Text.match(md5hash).hasMatch() && actual.compare(md5hash, Qt::CaseInsensitive) != 0)
        return QStringLiteral("the restore files do not match their checksum");
    const QString zip = folder + QStringLiteral("/restore.zip");
    QString error;
    const bool installed =
        VHSafeFolder::replaceFile(zip, bytes, &error) && install(zip, folder, error)
        && VHSafeFolder::replaceFile(folder + QLatin1Char('/') + kVersionFile, version.toUtf8(), &error);
    QFile::remove(zip);
    if (installed)
        return QString();
    return QStringLiteral("the restore files could not be put in place: ") + error;
}

void VHRestoreFetcher::onUnpacked(quint64 fetchNumber, const QString &error)
{
    if (fetchNumber != m_fetchNumber)
        return; // a later fetch replaced it
    m_unpacking = false;
    finish(error.isEmpty(), error);
}

bool VHRestoreFetcher::install(const QString &zipPath, const QString &updatesFolder, QString &error)
{
    VHArchiveFiles::Files files;
    const VHResult read = VHArchiveFiles::read(zipPath, files);
    if (!read.ok) {
        error = read.reason;
        return false;
    }
    if (files.isEmpty() || VHArchiveFiles::topLevel(files).size() != files.size()) {
        error = QStringLiteral("the restore archive is empty or holds folders");
        return false;
    }
    // Built beside the old files and swapped in whole: a failure keeps the old ones.
    const QString target = restorePath(updatesFolder);
    const QString fresh = target + QStringLiteral(".new");
    if (const VHResult written = VHArchiveFiles::writeInto(fresh, files); !written) {
        QDir(fresh).removeRecursively();
        error = written.reason;
        return false;
    }
    QDir(target).removeRecursively();
    if (!QDir().rename(fresh, target)) {
        error = QStringLiteral("can not rename ") + fresh;
        return false;
    }
    return true;
}

void VHRestoreFetcher::finish(bool ok, const QString &error)
{
    m_errorText = error;
    if (!ok)
        vhCritical() << "restore files not fetched:" << error;
    emit finished(ok);
}
