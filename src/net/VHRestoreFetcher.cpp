#include "VHRestoreFetcher.h"

#include "VHArchiveFiles.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHMinisign.h"
#include "VHNetRequest.h"
#include "VHPackageSignature.h"
#include "VHSafeFolder.h"
#include "VHTrustedKeys.h"
#include "VHUpdatesFolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <utility>

namespace {

constexpr int kTransferTimeoutMs = 60000;

QString restorePath(const QString &folder) { return folder + QLatin1Char('/') + VHUpdatesFolder::kRestoreFolder; }

// The reasons of a refused channel reach the window: they are said in the user's language.
QString tr_(const char *text) { return QCoreApplication::translate("VHRestoreFetcher", text); }

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
    for (QNetworkReply *reply : {m_reply.data(), m_signatureReply.data()}) {
        if (reply)
            reply->abort();
    }
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
    for (QNetworkReply *reply : {m_reply.data(), m_signatureReply.data()}) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
        }
    }
    m_reply = nullptr;
    m_signatureReply = nullptr;
    ++m_fetchNumber;
    m_unpacking = false;
    m_bytes.clear();
    m_signature.clear();
    m_url = url;
    m_md5hash = md5hash;
    m_version = version;
    m_folder = updatesFolder;
    m_errorText.clear();
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        finish(false, QStringLiteral("the restore files' address is not a web address"));
        return;
    }
    m_signatureRequired = VHEnv::instance()->signaturePolicy() == VHEnv::SignaturePolicy::Required;
    if (!m_signatureRequired) {
        startArchive();
        return;
    }
    QUrl signature = url;
    signature.setPath(url.path() + VHMinisign::kSignatureSuffix);
    m_signatureReply = m_network->get(VHNetRequest::plainGet(signature, kTransferTimeoutMs));
}

void VHRestoreFetcher::startArchive()
{
    vhWarning() << "downloading restore files" << m_url.toString();
    m_reply = m_network->get(VHNetRequest::plainGet(m_url, kTransferTimeoutMs));
    connect(m_reply, &QNetworkReply::readyRead, this, &VHRestoreFetcher::onBytesArrived);
}

void VHRestoreFetcher::onSignatureFinished(QNetworkReply *reply)
{
    // Bounded: what is longer than a signature file is no signature file.
    m_signature = reply->read(VHMinisign::kMaxSignatureSize + 1);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 404 || status == 410)
        finish(false, VHMinisign::notSignedText());
    else if (reply->error() != QNetworkReply::NoError)
        finish(false,
               tr_("the restore files' signature could not be fetched: %1").arg(VHNetRequest::failureText(reply)));
    else
        startArchive();
}

QString VHRestoreFetcher::signatureRefusal(const Job &job, const QString &zip)
{
    if (!job.signatureRequired)
        return QString();
    const VHResult checked =
        VHMinisign::verifyFile(zip, job.signature.isNull() ? QByteArray("") : job.signature, VHTrustedKeys::load());
    return checked ? QString() : checked.reason;
}

// A checked archive stays beside its folder with its signature; an unchecked one is not kept.
bool VHRestoreFetcher::keepArchive(const Job &job, const QString &zip, QString &error)
{
    const QString kept = job.folder + QLatin1Char('/') + VHUpdatesFolder::kRestoreFolder + QStringLiteral(".zip");
    const QString signature = kept + VHMinisign::kSignatureSuffix;
    if (!job.signatureRequired) {
        QFile::remove(zip);
        QFile::remove(signature);
        QFile::remove(kept);
        return true;
    }
    QFile::remove(kept);
    if (VHSafeFolder::replaceFile(signature, job.signature, &error) && QFile::rename(zip, kept))
        return true;
    error = error.isEmpty() ? QStringLiteral("can not keep ") + kept : error;
    return false;
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
    if (reply == m_signatureReply) {
        m_signatureReply = nullptr;
        onSignatureFinished(reply);
        return;
    }
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
        finish(false, tr_("the restore files' download failed: %1").arg(VHNetRequest::failureText(reply)));
        return false;
    }
    return true;
}

void VHRestoreFetcher::unpackOnWorker()
{
    m_unpacking = true;
    const quint64 number = m_fetchNumber;
    // The job owns copies of everything it needs; nothing here touches them again.
    Job job{std::exchange(m_bytes, QByteArray()), m_md5hash, m_version, m_folder, m_signatureRequired, m_signature};
    m_unpacker.start([this, number, job = std::move(job)] {
        const QString error = checkAndInstall(job);
        QMetaObject::invokeMethod(
            this, [this, number, error] { onUnpacked(number, error); }, Qt::QueuedConnection);
    });
}

QString VHRestoreFetcher::checkAndInstall(const Job &job)
{
    static const QRegularExpression md5Text(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QString actual = QString::fromLatin1(QCryptographicHash::hash(job.bytes, QCryptographicHash::Md5).toHex());
    if (md5Text.match(job.md5hash).hasMatch() && actual.compare(job.md5hash, Qt::CaseInsensitive) != 0)
        return QStringLiteral("the restore files do not match their checksum");
    // Beside the kept archive until it is judged, so a refused one leaves the old in place.
    const QString zip = job.folder + QStringLiteral("/restore.zip.new");
    QString error;
    if (!VHSafeFolder::replaceFile(zip, job.bytes, &error))
        return QStringLiteral("the restore files could not be put in place: ") + error;
    if (const QString refusal = signatureRefusal(job, zip); !refusal.isEmpty()) {
        QFile::remove(zip);
        return refusal;
    }
    const bool installed =
        install(zip, job.folder, error) && keepArchive(job, zip, error)
        && VHSafeFolder::replaceFile(job.folder + QLatin1Char('/') + kVersionFile, job.version.toUtf8(), &error);
    QFile::remove(zip);
    return installed ? QString() : QStringLiteral("the restore files could not be put in place: ") + error;
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
