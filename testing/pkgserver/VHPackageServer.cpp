#include "VHPackageServer.h"

#include "VHHttpConnection.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <zlib.h>

namespace {

const QString kIndexSuffix = QStringLiteral("/versions/index");
const QString kPackagesPrefix = QStringLiteral("/packages/");

// One folder name: what a model or package file name must be to be served.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString settingText(const QSettings &settings, const QString &key, const QString &fallback = {})
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.isValid() ? value.toString() : fallback;
}

QString encodedName(const QString &name) { return QString::fromLatin1(QUrl::toPercentEncoding(name)); }

// What a web server or proxy in the way answers instead of the file: a page
// over a kilobyte, so its size alone does not give it away.
QByteArray htmlErrorPage()
{
    QByteArray page = "<!DOCTYPE html>\n<html><head><title>503 Service Unavailable</title></head><body>\n"
                      "<h1>Service Unavailable</h1>\n";
    for (int i = 0; i < 16; ++i)
        page += "<p>The server is temporarily unable to service your request. Please try again later.</p>\n";
    return page + "</body></html>\n";
}

QByteArray gzipEncoded(const QByteArray &data)
{
    z_stream stream{};
    // 16 added to the window bits asks for the gzip wrapper instead of zlib's.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool ok = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return ok ? out : QByteArray();
}

// Turns a reply into its gzip-encoded form, held in memory (test files are small).
void encodeAsGzip(VHHttpResponse &response)
{
    QByteArray body = response.body;
    if (!response.filePath.isEmpty()) {
        QFile file(response.filePath);
        if (!file.open(QIODevice::ReadOnly))
            return;
        body = file.readAll();
        response.filePath.clear();
    }
    response.body = gzipEncoded(body);
    response.length = response.body.size();
    response.contentEncoding = "gzip";
}

} // namespace

VHPackageServer::VHPackageServer(const QString &root, QObject *parent)
    : QObject(parent), m_root(root), m_server(new QTcpServer(this))
{
    // Not newConnection: a TLS socket is pending only once its handshake is done.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &VHPackageServer::onNewConnection);
}

bool VHPackageServer::setTls(const QString &certificateFile, const QString &keyFile, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem);
    if (chain.isEmpty())
        return fail(QStringLiteral("no certificate in ") + certificateFile);
    QFile keyIn(keyFile);
    if (!keyIn.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("can not read ") + keyFile);
    const QByteArray keyText = keyIn.readAll();
    QSslKey key(keyText, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        return fail(QStringLiteral("no unencrypted EC or RSA key in ") + keyFile);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto *server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    delete m_server;
    m_server = server;
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &VHPackageServer::onNewConnection);
    m_tls = true;
    return true;
}

VHPackageServer::~VHPackageServer() = default;

bool VHPackageServer::listen(quint16 port) { return m_server->listen(QHostAddress::LocalHost, port); }

quint16 VHPackageServer::port() const { return m_server->serverPort(); }

QString VHPackageServer::errorString() const { return m_server->errorString(); }

QString VHPackageServer::baseUrl() const { return scheme() + QStringLiteral("://127.0.0.1:%1").arg(port()); }

QString VHPackageServer::scheme() const { return m_tls ? QStringLiteral("https") : QStringLiteral("http"); }

QString VHPackageServer::updateUrl() const { return baseUrl() + kIndexSuffix; }

void VHPackageServer::setFault(const QString &path, VHServerFault fault)
{
    if (fault == VHServerFault::None)
        m_faults.remove(path);
    else
        m_faults.insert(path, fault);
}

void VHPackageServer::clearFaults()
{
    m_faults.clear();
    m_canned.clear();
    m_redirects.clear();
}

void VHPackageServer::setCannedBody(const QString &path, const QByteArray &body) { m_canned.insert(path, body); }

void VHPackageServer::setRedirect(const QString &path, const QString &location) { m_redirects.insert(path, location); }

int VHPackageServer::requestCount(const QString &path) const
{
    int count = 0;
    for (const QString &target : m_requests) {
        if (target.section(QLatin1Char('?'), 0, 0) == path)
            ++count;
    }
    return count;
}

void VHPackageServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        new VHHttpConnection(
            socket,
            [this](const QByteArray &method, const QByteArray &target, const QByteArray &host) {
                return respond(method, target, host);
            },
            this);
    }
}

VHHttpResponse VHPackageServer::respond(const QByteArray &method, const QByteArray &target, const QByteArray &host)
{
    const QString rawTarget = QString::fromLatin1(target);
    m_requests.append(rawTarget);
    const QString path = QUrl::fromPercentEncoding(target.split('?').constFirst());
    const QString query = rawTarget.section(QLatin1Char('?'), 1);
    VHHttpResponse response;
    if (method != "GET" && method != "HEAD") {
        response = VHHttpResponse::text(405, "Method Not Allowed", "only GET\n");
    } else {
        response = route(path, query, baseFor(host), faultFor(path));
        response.headOnly = method == "HEAD";
    }
    emit requestServed(rawTarget, response.status);
    return response;
}

VHHttpResponse VHPackageServer::route(const QString &path, const QString &query, const QString &base,
                                      VHServerFault fault)
{
    if (fault == VHServerFault::Http500)
        return VHHttpResponse::text(500, "Internal Server Error", "internal error\n");
    if (fault == VHServerFault::EmptyBody)
        return VHHttpResponse::text(200, "OK", QByteArray(), "application/json");
    if (fault == VHServerFault::NonJsonBody)
        return VHHttpResponse::text(200, "OK", htmlErrorPage(), "text/html; charset=utf-8");
    VHHttpResponse response;
    if (m_redirects.contains(path)) {
        response = VHHttpResponse::text(302, "Found", "moved\n");
        response.location = m_redirects.value(path).toUtf8();
    } else if (m_canned.contains(path)) {
        QByteArray body = m_canned.value(path);
        body.replace("{base}", base.toUtf8());
        response = VHHttpResponse::text(200, "OK", body, "application/json");
    } else if (path.endsWith(kIndexSuffix)) {
        response = indexReply(query, base, fault);
    } else if (path.startsWith(kPackagesPrefix)) {
        response = packageReply(path, fault);
    } else {
        response = alpReply(path);
    }
    applyTransportFault(response, fault, m_slowPauseMs);
    return response;
}

VHHttpResponse VHPackageServer::indexReply(const QString &query, const QString &base, VHServerFault fault)
{
    const QString model = QUrlQuery(query).queryItemValue(QStringLiteral("model"), QUrl::FullyDecoded);
    QJsonArray entries;
    entries.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("VeloraUpdate")},
                               {QStringLiteral("version"), QStringLiteral("1.0.0.62")},
                               {QStringLiteral("url"), QString()},
                               {QStringLiteral("note"), QString()},
                               {QStringLiteral("md5hash"), QString()}});
    const QString folder = m_root + QLatin1Char('/') + model;
    const QString ini = folder + QStringLiteral("/package.ini");
    if (isPlainName(model) && QFileInfo::exists(ini)) {
        QSettings settings(ini, QSettings::IniFormat);
        const QString file = settingText(settings, QStringLiteral("Package/file"), QStringLiteral("Total.zip"));
        QString md5 = cachedMd5(folder + QLatin1Char('/') + file);
        if (fault == VHServerFault::WrongMd5)
            md5 = QString::fromLatin1(QCryptographicHash::hash(md5.toLatin1(), QCryptographicHash::Md5).toHex());
        entries.append(QJsonObject{
            {QStringLiteral("name"), QStringLiteral("Total")},
            {QStringLiteral("version"), settingText(settings, QStringLiteral("Package/version"))},
            {QStringLiteral("url"), base + kPackagesPrefix + encodedName(model) + QLatin1Char('/') + encodedName(file)},
            {QStringLiteral("note"), settingText(settings, QStringLiteral("Package/note"))},
            {QStringLiteral("md5hash"), md5}});
        if (settings.contains(QStringLiteral("Restore/version")))
            entries.append(restoreEntry(model, base));
    }
    return VHHttpResponse::text(200, "OK", QJsonDocument(entries).toJson(QJsonDocument::Compact), "application/json");
}

QJsonObject VHPackageServer::restoreEntry(const QString &model, const QString &base)
{
    const QString folder = m_root + QLatin1Char('/') + model;
    QSettings settings(folder + QStringLiteral("/package.ini"), QSettings::IniFormat);
    return QJsonObject{
        {QStringLiteral("name"), QStringLiteral("Restore")},
        {QStringLiteral("version"), settingText(settings, QStringLiteral("Restore/version"))},
        {QStringLiteral("url"), base + kPackagesPrefix + encodedName(model) + QStringLiteral("/restore.zip")},
        {QStringLiteral("md5hash"), cachedMd5(folder + QStringLiteral("/restore.zip"))}};
}

VHHttpResponse VHPackageServer::packageReply(const QString &path, VHServerFault fault)
{
    const QStringList parts = path.mid(kPackagesPrefix.size()).split(QLatin1Char('/'));
    if (parts.size() != 2 || !isPlainName(parts[0]) || !isPlainName(parts[1]))
        return VHHttpResponse::text(404, "Not Found", "not found\n");
    const QString file = m_root + QLatin1Char('/') + parts[0] + QLatin1Char('/') + parts[1];
    if (signs() && file.endsWith(VHMinisign::kSignatureSuffix))
        signFile(file.chopped(VHMinisign::kSignatureSuffix.size()), m_signingKey);
    VHHttpResponse response = fileReply(file);
    if (fault == VHServerFault::WrongMd5 && response.length > 0)
        response.corruptAt = response.length / 2;
    return response;
}

VHHttpResponse VHPackageServer::alpReply(const QString &path)
{
    static const QRegularExpression alpPath(QStringLiteral("^/(current_\\d+d\\.alp)$"));
    const QRegularExpressionMatch match = alpPath.match(path);
    if (!match.hasMatch())
        return VHHttpResponse::text(404, "Not Found", "not found\n");
    return fileReply(m_root + QLatin1Char('/') + match.captured(1));
}

VHHttpResponse VHPackageServer::fileReply(const QString &filePath)
{
    const QFileInfo info(filePath);
    if (!info.isFile())
        return VHHttpResponse::text(404, "Not Found", "not found\n");
    VHHttpResponse response;
    response.filePath = filePath;
    response.length = info.size();
    response.bytesPerSecond = m_bytesPerSecond;
    return response;
}

void VHPackageServer::applyTransportFault(VHHttpResponse &response, VHServerFault fault, int slowPauseMs)
{
    switch (fault) {
    case VHServerFault::TruncatedBody:
        response.sendLimit = response.length / 2;
        break;
    case VHServerFault::SlowReply:
        response.pauseAt = response.length / 2;
        response.pauseMs = slowPauseMs;
        break;
    case VHServerFault::TruncatedNoLength:
        response.announceLength = false;
        response.sendLimit = response.length / 2;
        break;
    case VHServerFault::GzipBody:
        encodeAsGzip(response);
        break;
    case VHServerFault::GzipTruncated:
        encodeAsGzip(response);
        response.announceLength = false;
        response.sendLimit = response.length / 2;
        break;
    case VHServerFault::ChunkedBody:
        response.chunked = true;
        response.announceLength = false;
        break;
    case VHServerFault::ChunkedTruncated:
        response.chunked = true;
        response.announceLength = false;
        response.sendLimit = response.length / 2;
        break;
    default:
        break;
    }
}

VHServerFault VHPackageServer::faultFor(const QString &path) const
{
    VHServerFault fault = m_faults.value(path, VHServerFault::None);
    QFile control(m_controlFile);
    if (m_controlFile.isEmpty() || !control.open(QIODevice::ReadOnly | QIODevice::Text))
        return fault;
    // The control file is read per request so a running demo can be steered.
    while (!control.atEnd()) {
        const QString line = QString::fromUtf8(control.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        // The fault is the last word; the path before it may hold spaces.
        const qsizetype split = line.lastIndexOf(QRegularExpression(QStringLiteral("\\s")));
        if (split > 0 && line.left(split).trimmed() == path) {
            if (const auto named = faultFromName(line.mid(split + 1)))
                fault = *named;
        }
    }
    return fault;
}

QString VHPackageServer::cachedMd5(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    CachedMd5 &entry = m_md5Cache[path];
    if (entry.size != info.size() || entry.modified != info.lastModified()) {
        entry.size = info.size();
        entry.modified = info.lastModified();
        entry.md5 = fileMd5(path);
    }
    return entry.md5;
}

QString VHPackageServer::fileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QString VHPackageServer::baseFor(const QByteArray &host) const
{
    // Point package addresses at the name the client used for us.
    static const QRegularExpression hostText(QStringLiteral("^[A-Za-z0-9.\\-\\[\\]:]+$"));
    const QString name = QString::fromLatin1(host);
    return hostText.match(name).hasMatch() ? scheme() + QStringLiteral("://") + name : baseUrl();
}

bool VHPackageServer::signFile(const QString &file, const VHMinisign::SecretKey &key)
{
    const QFileInfo info(file);
    const QFileInfo signature(file + VHMinisign::kSignatureSuffix);
    if (!info.isFile())
        return false;
    if (signature.isFile() && signature.lastModified() >= info.lastModified())
        return true;
    const QString comment =
        QStringLiteral("timestamp:%1\tfile:%2").arg(QDateTime::currentSecsSinceEpoch()).arg(info.fileName());
    const QByteArray text = VHMinisign::signFile(key, file, comment);
    QSaveFile out(signature.filePath());
    return !text.isEmpty() && out.open(QIODevice::WriteOnly) && out.write(text) == text.size() && out.commit();
}

bool VHPackageServer::publish(const QString &root, const QString &model, const QString &packageFile,
                              const QString &version, const QString &note, QString *error,
                              const VHMinisign::SecretKey *signingKey)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!isPlainName(model))
        return fail(QStringLiteral("model name is not a plain folder name"));
    const QString folder = root + QLatin1Char('/') + model;
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("can not create ") + folder);
    const QString target = folder + QStringLiteral("/Total.zip");
    // A signature of the package published before would be served beside this one.
    QFile::remove(target + VHMinisign::kSignatureSuffix);
    if (QFileInfo(packageFile).absoluteFilePath() != QFileInfo(target).absoluteFilePath()) {
        QFile::remove(target);
        if (!QFile::copy(packageFile, target))
            return fail(QStringLiteral("can not copy ") + packageFile + QStringLiteral(" to ") + target);
    }
    QSettings settings(folder + QStringLiteral("/package.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Package/version"), version);
    settings.setValue(QStringLiteral("Package/note"), note);
    settings.setValue(QStringLiteral("Package/file"), QStringLiteral("Total.zip"));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return fail(QStringLiteral("can not write package.ini"));
    return !signingKey || signFile(target, *signingKey) || fail(QStringLiteral("can not sign ") + target);
}

bool VHPackageServer::publishRestore(const QString &root, const QString &model, const QString &archiveFile,
                                     const QString &version, QString *error, const VHMinisign::SecretKey *signingKey)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!isPlainName(model))
        return fail(QStringLiteral("model name is not a plain folder name"));
    const QString folder = root + QLatin1Char('/') + model;
    const QString target = folder + QStringLiteral("/restore.zip");
    QFile::remove(target);
    QFile::remove(target + VHMinisign::kSignatureSuffix);
    if (!QDir().mkpath(folder) || !QFile::copy(archiveFile, target))
        return fail(QStringLiteral("can not copy ") + archiveFile + QStringLiteral(" to ") + target);
    QSettings settings(folder + QStringLiteral("/package.ini"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Restore/version"), version);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return fail(QStringLiteral("can not write package.ini"));
    return !signingKey || signFile(target, *signingKey) || fail(QStringLiteral("can not sign ") + target);
}
