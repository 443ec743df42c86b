#include "VeloraApiClient.h"

#include "JsonReader.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHMinisign.h"
#include "VHNetRequest.h"
#include "VHPackageFile.h"
#include "VHSafeFolder.h"
#include "VHTrustedKeys.h"
#include "VHUpdatesFolder.h"
#include "VHUtility.h"
#include "VHVersion.h"
#include "VHZipDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

namespace {

QString lastPathComponent(const QString &folder) { return folder.mid(folder.lastIndexOf(QLatin1Char('/')) + 1); }

// Enough of the query body for the log; the rest only makes the log rotate.
constexpr qsizetype kLoggedBodyLength = 64 * 1024;

// The reasons of a refused channel reach the window: they are said in the user's language.
QString tr_(const char *text) { return QCoreApplication::translate("VeloraApiClient", text); }

} // namespace

VeloraApiClient::VeloraApiClient(VeloraApiClientDelegate *delegate)
    : QObject(nullptr), m_delegate(delegate), m_network(new QNetworkAccessManager(this)),
      m_readBuffer(int(kReadBufferSize), Qt::Uninitialized)
{
    connect(m_network, &QNetworkAccessManager::finished, this, &VeloraApiClient::finishedSlot);
    VHNetRequest::prepareManager(m_network);
    m_installer.setMaxThreadCount(1);
}

VeloraApiClient::~VeloraApiClient()
{
    m_network->disconnect(this);
    abandonExchange();
    // A package being put in place is finished, not cut off halfway; its
    // result, posted to this object, is dropped with it.
    m_installer.waitForDone();
}

QString VeloraApiClient::queryAddress(const QString &base, const QString &model)
{
    const QString encodedModel = QString::fromLatin1(QUrl::toPercentEncoding(model));
    return QStringLiteral("%1?model=%2&ver=%3").arg(base, encodedModel, QLatin1String(kProtocolVersion));
}

void VeloraApiClient::queryUpdate(const QString &model, const QString &folder, bool beta)
{
    abandonExchange();
    ++m_exchange;
    m_outcome = Outcome::None;
    m_downloadCheckOwed = false;
    m_version.clear();
    m_url.clear();
    m_note.clear();
    m_md5hash.clear();
    m_restore = {};
    m_folder = folder;
    m_errorText.clear();
    m_serverUnreachable = false;
    if (!VHUtility::isSafePathComponent(model) || !VHUtility::isSafePathComponent(lastPathComponent(folder))) {
        refuseQuery(model, folder);
        return;
    }
    m_serverAddress = VHEnv::instance()->updateServiceUrl(beta);
    const QString address = queryAddress(m_serverAddress, model);
    // Above the debug level: the address asked is what tells a wrong setting.
    vhWarning() << "update query url=" << address;
    m_queryUrl = QUrl(address);
    const quint64 exchange = m_exchange;
    VHNetRequest::whenReady(this, [this, exchange] {
        // A later query replaced it meanwhile.
        if (exchange != m_exchange)
            return;
        m_queryReply = m_network->get(VHNetRequest::plainGet(m_queryUrl, m_transferTimeoutMs));
        connect(m_queryReply, &QNetworkReply::readyRead, this, &VeloraApiClient::onQueryBytesArrived);
    });
}

void VeloraApiClient::refuseQuery(const QString &model, const QString &folder)
{
    // The name would become a folder outside the updates folder (or none at
    // all); the device is shown but its package is not looked for.
    vhCritical() << "model name is not a safe folder name, no update query:" << model << folder;
    const quint64 exchange = m_exchange;
    QMetaObject::invokeMethod(
        this,
        [this, exchange] {
            if (exchange == m_exchange)
                failExchange(QStringLiteral("the model name can not name a folder; the update server was not asked"),
                             true);
        },
        Qt::QueuedConnection);
}

void VeloraApiClient::finishedSlot(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply == m_queryReply) {
        m_queryReply = nullptr;
        handleQueryReply(reply);
    } else if (reply == m_downloadReply) {
        m_downloadReply = nullptr;
        handleDownloadReply(reply);
    } else if (reply == m_signatureReply) {
        m_signatureReply = nullptr;
        handleSignatureReply(reply);
    }
}

void VeloraApiClient::onQueryBytesArrived()
{
    if (!m_queryReply || m_queryReply->bytesAvailable() <= kMaxQueryReplySize)
        return;
    vhCritical() << "query reply is larger than" << kMaxQueryReplySize << "bytes, not read";
    m_queryReply->abort();
}

QString VeloraApiClient::queryFailureText(const QNetworkReply *reply) const
{
    // A refused certificate or redirect is named as such: it is no answer of the server.
    const QString trust = VHNetRequest::trustFailure(reply);
    if (!trust.isEmpty())
        return trust;
    if (m_serverUnreachable)
        return QStringLiteral("the update server %1 could not be reached").arg(m_serverAddress);
    return QStringLiteral("the update server %1 answered with an error: %2").arg(m_serverAddress, reply->errorString());
}

void VeloraApiClient::handleQueryReply(QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        vhCritical() << "http error=" << int(reply->error()) << reply->errorString();
        m_serverUnreachable = isUnreachableError(reply->error());
        failExchange(queryFailureText(reply), true);
        return;
    }
    QString text;
    const bool utf8 = VHNetRequest::strictBodyText(reply->readAll(), text);
    vhDebug() << QStringView(text).left(kLoggedBodyLength);
    if (!utf8) {
        vhCritical() << "update query reply is not valid UTF-8";
        failExchange(QStringLiteral("the update server's reply is not valid text"), true);
        return;
    }
    bool ok = false;
    const QVariant value = JsonReader::parse(text, ok);
    if (!ok) {
        vhCritical() << "update query reply is not readable";
        failExchange(QStringLiteral("the update server's reply is not readable"), true);
        return;
    }
    takeTotalEntry(value);
    // Written to "version.txt", shown and compared: a damaged text says nothing of what the server meant.
    if (!VHVersion::isPlainText(m_version)) {
        vhCritical() << "update query reply names an unusable version:" << m_version.toUtf8().toPercentEncoding();
        m_version.clear();
        m_url.clear();
        m_note.clear();
        m_md5hash.clear();
        failExchange(QStringLiteral("the update server named an unusable version"), true);
        return;
    }
    if (m_installing) {
        // The folder may be the one an earlier package is being put into.
        vhDebug() << "a package is being put in place; the folder is checked after it";
        m_downloadCheckOwed = true;
        return;
    }
    decideDownload();
}

void VeloraApiClient::decideDownload()
{
    switch (checkDownload()) {
    case DownloadStart::Started:
        return; // the download's end notifies
    case DownloadStart::Failed:
        failExchange(m_errorText, false);
        return;
    case DownloadStart::NotNeeded:
        finishExchange(Outcome::Answered, true);
        return;
    }
}

void VeloraApiClient::takeTotalEntry(const QVariant &replyValue)
{
    const QVariantList entries = replyValue.toList();
    for (const QVariant &entry : entries) {
        const QVariantMap object = entry.toMap();
        const QString name = object.value(QStringLiteral("name")).toString();
        if (name == QLatin1String("Restore"))
            takeRestoreEntry(object);
        if (name != QLatin1String("Total"))
            continue;
        // Later "Total" entries win; numbers and booleans are taken as their text.
        m_version = object.value(QStringLiteral("version")).toString();
        m_url = object.value(QStringLiteral("url")).toString();
        m_note = object.value(QStringLiteral("note")).toString();
        m_md5hash = object.value(QStringLiteral("md5hash")).toString();
    }
}

void VeloraApiClient::takeRestoreEntry(const QVariantMap &object)
{
    m_restore.version = object.value(QStringLiteral("version")).toString();
    m_restore.url = object.value(QStringLiteral("url")).toString();
    m_restore.md5hash = object.value(QStringLiteral("md5hash")).toString();
    // Its version names a file in the updates folder: a damaged text names none.
    if (!VHVersion::isPlainText(m_restore.version) || m_restore.url.isEmpty())
        m_restore = {};
    if (!m_restore.url.isEmpty() && !keepsTheIndexSecure(m_queryUrl.resolved(QUrl(m_restore.url)))) {
        vhCritical() << "restore address is not https although the index was:" << m_restore.url;
        m_restore = {};
    }
}

// What an https index names is fetched over https: a plain address would hand
// the files to anyone on the path.
bool VeloraApiClient::keepsTheIndexSecure(const QUrl &target) const
{
    return m_queryUrl.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0
           || target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

QUrl VeloraApiClient::restoreAddress() const
{
    return m_restore.url.isEmpty() ? QUrl() : m_queryUrl.resolved(QUrl(m_restore.url));
}

VeloraApiClient::DownloadStart VeloraApiClient::checkDownload()
{
    if (m_version.isEmpty() || m_url.isEmpty()) {
        vhCritical() << "qurey update and get empty";
        return DownloadStart::NotNeeded;
    }
    if (folderHoldsVersion())
        return DownloadStart::NotNeeded;
    vhWarning() << "downloading " << m_url;
    m_queryReply = nullptr;
    return startDownload();
}

bool VeloraApiClient::folderHoldsVersion() const { return VHUpdatesFolder::at(m_folder).version() == m_version; }

VeloraApiClient::DownloadStart VeloraApiClient::startDownload()
{
    // A relative address means this server; only web addresses are fetched.
    const QUrl target = m_queryUrl.resolved(QUrl(m_url));
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        vhCritical() << "package address is not an http address:" << m_url;
        m_errorText = QStringLiteral("the package address is not a web address");
        return DownloadStart::Failed;
    }
    if (!keepsTheIndexSecure(target)) {
        vhCritical() << "package address is not https although the index was:" << m_url;
        m_errorText = tr_("the update server named a package address that is not secure");
        return DownloadStart::Failed;
    }
    m_packageAddress = target;
    if (VHEnv::instance()->signaturePolicy() == VHEnv::SignaturePolicy::Required)
        return startSignatureFetch();
    return startPackageDownload(false);
}

VeloraApiClient::DownloadStart VeloraApiClient::startSignatureFetch()
{
    QUrl address = m_packageAddress;
    address.setPath(address.path() + VHMinisign::kSignatureSuffix);
    vhWarning() << "downloading " << address.toString();
    m_signatureText.clear();
    m_signatureReply = m_network->get(VHNetRequest::plainGet(address, m_transferTimeoutMs));
    connect(m_signatureReply, &QNetworkReply::readyRead, this, &VeloraApiClient::onSignatureBytesArrived);
    return DownloadStart::Started;
}

void VeloraApiClient::onSignatureBytesArrived()
{
    if (!m_signatureReply)
        return;
    m_signatureText += m_signatureReply->read(VHMinisign::kMaxSignatureSize + 1 - m_signatureText.size());
    if (m_signatureText.size() > VHMinisign::kMaxSignatureSize)
        m_signatureReply->abort(); // finishes at once; the size is judged there
}

void VeloraApiClient::handleSignatureReply(QNetworkReply *reply)
{
    m_signatureText += reply->read(qMax<qint64>(0, VHMinisign::kMaxSignatureSize + 1 - m_signatureText.size()));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString refusal;
    if (m_signatureText.size() > VHMinisign::kMaxSignatureSize)
        refusal = VHMinisign::damagedText();
    else if (status == 404 || status == 410)
        refusal = VHMinisign::notSignedText();
    else if (reply->error() != QNetworkReply::NoError)
        refusal = tr_("the package's signature could not be fetched: %1").arg(VHNetRequest::failureText(reply));
    else if (m_signatureText.isNull())
        m_signatureText = QByteArray(""); // there, but empty: damaged, judged with the package
    if (!refusal.isEmpty()) {
        vhCritical() << "package not downloaded:" << refusal;
        failExchange(refusal, false);
        return;
    }
    if (startPackageDownload(true) == DownloadStart::Failed)
        failExchange(m_errorText, false);
}

VeloraApiClient::DownloadStart VeloraApiClient::startPackageDownload(bool signatureExpected)
{
    QDir().mkpath(m_folder);
    m_package = std::make_unique<VHPackageFile>(VHUpdatesFolder::at(m_folder).file(VHUpdatesFolder::kPackage));
    if (signatureExpected)
        m_package->expectSignature(m_signatureText);
    if (!m_package->open()) {
        vhCritical() << "can not open " + m_package->partPath() + " to write" << m_package->errorString();
        m_errorText = QStringLiteral("the package can not be written to %1").arg(m_folder);
        m_package.reset();
        return DownloadStart::Failed;
    }
    m_packageWriteFailed = false;
    m_downloadReply = m_network->get(VHNetRequest::plainGet(m_packageAddress, m_transferTimeoutMs));
    // Keeps the reply from buffering the package in memory faster than we write it.
    m_downloadReply->setReadBufferSize(kReadBufferSize);
    connect(m_downloadReply, &QNetworkReply::readyRead, this, &VeloraApiClient::onPackageBytesArrived);
    connect(m_downloadReply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (m_delegate)
            m_delegate->onDownloadProgress(received, total);
    });
    return DownloadStart::Started;
}

void VeloraApiClient::onPackageBytesArrived()
{
    if (m_downloadReply)
        drainPackageBytes(m_downloadReply);
}

void VeloraApiClient::drainPackageBytes(QNetworkReply *reply)
{
    while (m_package && reply->bytesAvailable() > 0) {
        const qint64 count = reply->read(m_readBuffer.data(), m_readBuffer.size());
        if (count <= 0)
            return;
        if (m_packageWriteFailed)
            continue; // already failed; the reply is being aborted
        if (!m_package->append(m_readBuffer.constData(), count)) {
            m_packageWriteFailed = true;
            vhCritical() << "can not write " + m_package->partPath() << m_package->errorString();
            reply->abort(); // may finish the exchange at once; touch nothing after it
            return;
        }
    }
}

void VeloraApiClient::handleDownloadReply(QNetworkReply *reply)
{
    drainPackageBytes(reply);
    if (!downloadSucceeded(reply)) {
        m_package.reset();
        failExchange(m_errorText, false);
        return;
    }
    startInstallation();
}

bool VeloraApiClient::downloadSucceeded(QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError && !m_packageWriteFailed) {
        vhCritical() << "http error=" << int(reply->error()) << reply->errorString();
        m_errorText = tr_("the package download failed: %1").arg(VHNetRequest::failureText(reply));
        return false;
    }
    if (m_packageWriteFailed || !m_package) {
        m_errorText = QStringLiteral("the package could not be written to %1").arg(m_folder);
        return false;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        vhCritical() << "http error=" << status.toInt();
        m_errorText = QStringLiteral("the package download failed: HTTP status %1").arg(status.toInt());
        return false;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !reply->hasRawHeader("Content-Encoding") && length.toLongLong() != m_package->size()) {
        vhCritical() << "package incomplete:" << m_package->size() << "of" << length.toLongLong() << "bytes";
        m_errorText = QStringLiteral("the package download is incomplete");
        return false;
    }
    if (m_package->size() == 0) {
        vhCritical() << "download failed - get no data";
        m_errorText = QStringLiteral("the package download is empty");
        return false;
    }
    return checksumMatches();
}

bool VeloraApiClient::checksumMatches()
{
    static const QRegularExpression md5Text(QStringLiteral("^[0-9a-fA-F]{32}$"));
    if (!md5Text.match(m_md5hash).hasMatch())
        return true; // nothing usable to compare with
    const QString actual = m_package->md5Hex();
    if (actual.compare(m_md5hash, Qt::CaseInsensitive) == 0)
        return true;
    vhCritical() << "package md5 mismatch: expected" << m_md5hash << "got" << actual;
    m_errorText = QStringLiteral("the downloaded package does not match its checksum");
    return false;
}

void VeloraApiClient::startInstallation()
{
    // The checks read the whole directory and the flush waits for the disk:
    // neither belongs on the GUI thread.
    auto installation = std::make_shared<Installation>(Installation{std::move(m_package), m_folder, m_note, m_version});
    const quint64 exchange = m_exchange;
    m_installing = true;
    m_installer.start([this, installation, exchange] {
        const QString refusal = installPackage(*installation);
        if (refusal.isEmpty())
            writeSideFiles(*installation);
        installation->package.reset(); // an unused part file goes here, on the worker
        QMetaObject::invokeMethod(
            this, [this, exchange, refusal] { onInstallationFinished(exchange, refusal); }, Qt::QueuedConnection);
    });
}

void VeloraApiClient::onInstallationFinished(quint64 exchange, const QString &refusal)
{
    m_installing = false;
    if (exchange == m_exchange) {
        if (refusal.isEmpty())
            finishExchange(Outcome::Answered, true);
        else
            failExchange(refusal, false);
    } else if (m_downloadCheckOwed) {
        m_downloadCheckOwed = false;
        decideDownload();
    }
}

QString VeloraApiClient::installPackage(const Installation &installation)
{
    const QString unusable = QStringLiteral("the downloaded package is damaged or could not be put in place");
    // A body cut short or an error page has no complete zip directory, and
    // without a checksum nothing else would catch it.
    QString why;
    if (!VHZipDirectory::isComplete(installation.package->partPath(), &why)) {
        vhCritical() << "package is not a complete zip archive:" << why;
        return unusable;
    }
    // Judged before anything of the old package is touched.
    if (installation.package->expectsSignature()) {
        QString comment;
        if (const VHResult signature = installation.package->verifySignature(VHTrustedKeys::load(), &comment);
            !signature) {
            vhCritical() << "package refused:" << signature.reason;
            return signature.reason;
        }
        vhWarning() << "package signature accepted, trusted comment:" << comment;
    }
    // Without "version.txt" a package replaced halfway is fetched again next time.
    const QString versionFile = installation.file(VHUpdatesFolder::kVersion);
    if (!VHUtility::removeFile(versionFile)) {
        vhCritical() << "can not remove " + versionFile;
        return unusable;
    }
    if (!storeSignature(installation)) {
        vhCritical() << "can not store the package's signature in" << installation.folder;
        return unusable;
    }
    if (!installation.package->commit()) {
        vhCritical() << "can not open " + installation.package->finalPath() + " to write"
                     << installation.package->errorString();
        return unusable;
    }
    return QString();
}

bool VeloraApiClient::storeSignature(const Installation &installation)
{
    // An old package's signature must not stay beside a new package.
    const QString path = installation.package->finalPath() + VHMinisign::kSignatureSuffix;
    if (!installation.package->expectsSignature())
        return VHUtility::removeFile(path);
    QString error;
    if (VHSafeFolder::replaceFile(path, installation.package->signature(), &error))
        return true;
    vhCritical() << "can not write" << path << error;
    return false;
}

void VeloraApiClient::writeSideFiles(const Installation &installation)
{
    const QList<QPair<QString, QString>> files = {
        {VHUpdatesFolder::kNote, installation.note},
        {VHUpdatesFolder::kPackageNameFile, VHUpdatesFolder::kPackage},
        {VHUpdatesFolder::kVersion, installation.version}, // last: it marks the package complete
    };
    for (const auto &file : files) {
        QString error;
        if (!VHSafeFolder::replaceFile(installation.file(file.first), file.second.toUtf8(), &error))
            vhWarning() << "can not write " + installation.file(file.first) << error;
    }
}

QString VeloraApiClient::Installation::file(const QString &name) const
{
    return VHUpdatesFolder::at(folder).file(name);
}

void VeloraApiClient::abandonExchange()
{
    // Replies of an abandoned exchange are aborted; finishedSlot then ignores them.
    QNetworkReply *query = m_queryReply;
    QNetworkReply *download = m_downloadReply;
    QNetworkReply *signature = m_signatureReply;
    m_queryReply = nullptr;
    m_downloadReply = nullptr;
    m_signatureReply = nullptr;
    m_package.reset();
    for (QNetworkReply *reply : {query, download, signature}) {
        if (!reply)
            continue;
        reply->disconnect(this);
        reply->abort();
    }
}

void VeloraApiClient::failExchange(const QString &reason, bool ok)
{
    m_errorText = reason.isEmpty() ? QStringLiteral("the update server could not be asked") : reason;
    finishExchange(Outcome::Failed, ok);
}

bool VeloraApiClient::isUnreachableError(int networkError)
{
    switch (networkError) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
        return true;
    default:
        return false;
    }
}

void VeloraApiClient::finishExchange(Outcome outcome, bool ok)
{
    m_outcome = outcome;
    if (m_delegate)
        m_delegate->onUpdateFinished(ok);
}
