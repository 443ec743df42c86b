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
}

VHRestoreFetcher::~VHRestoreFetcher()
{
    m_network->disconnect(this);
    for (QNetworkReply *reply : {m_reply.data(), m_signatureReply.data()}) {
        if (reply)
            reply->abort();
    }
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
        finish(false, QStringLiteral("the restore files' signature could not be fetched: ") + reply->errorString());
    else
        startArchive();
}

QString VHRestoreFetcher::signatureRefusal(const QString &zip) const
{
    if (!m_signatureRequired)
        return QString();
    const VHResult checked =
        VHMinisign::verifyFile(zip, m_signature.isNull() ? QByteArray("") : m_signature, VHTrustedKeys::load());
    return checked ? QString() : checked.reason;
}

// A checked archive stays beside its folder with its signature; an unchecked one is not kept.
bool VHRestoreFetcher::keepArchive(const QString &zip, QString &error) const
{
    const QString kept = m_folder + QLatin1Char('/') + VHUpdatesFolder::kRestoreFolder + QStringLiteral(".zip");
    const QString signature = kept + VHMinisign::kSignatureSuffix;
    if (!m_signatureRequired) {
        QFile::remove(zip);
        QFile::remove(signature);
        QFile::remove(kept);
        return true;
    }
    QFile::remove(kept);
    if (VHSafeFolder::replaceFile(signature, m_signature, &error) && QFile::rename(zip, kept))
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
    if (!takeArchive(reply))
        return;
    // Beside the kept archive until it is judged, so a refused one leaves the old in place.
    const QString zip = m_folder + QStringLiteral("/restore.zip.new");
    QString error;
    if (!VHSafeFolder::replaceFile(zip, m_bytes, &error)) {
        finish(false, QStringLiteral("the restore files could not be put in place: ") + error);
        return;
    }
    m_bytes.clear();
    if (const QString refusal = signatureRefusal(zip); !refusal.isEmpty()) {
        QFile::remove(zip);
        finish(false, refusal);
        return;
    }
    const bool installed =
        install(zip, m_folder, error) && keepArchive(zip, error)
        && VHSafeFolder::replaceFile(m_folder + QLatin1Char('/') + kVersionFile, m_version.toUtf8(), &error);
    QFile::remove(zip);
    finish(installed, installed ? QString() : QStringLiteral("the restore files could not be put in place: ") + error);
}

bool VHRestoreFetcher::takeArchive(QNetworkReply *reply)
{
    m_bytes += reply->readAll();
    if (m_bytes.size() > kMaxArchiveSize) {
        finish(false, QStringLiteral("the restore files are larger than %1 bytes").arg(kMaxArchiveSize));
        return false;
    }
    if (reply->error() != QNetworkReply::NoError) {
        finish(false, QStringLiteral("the restore files' download failed: ") + reply->errorString());
        return false;
    }
    static const QRegularExpression md5Text(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QString actual = QString::fromLatin1(QCryptographicHash::hash(m_bytes, QCryptographicHash::Md5).toHex());
    if (md5Text.match(m_md5hash).hasMatch() && actual.compare(m_md5hash, Qt::CaseInsensitive) != 0) {
        finish(false, QStringLiteral("the restore files do not match their checksum"));
        return false;
    }
    return true;
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
