#pragma once

#include "VHHttpResponse.h"
#include "VHMinisign.h"
#include "VHServerFault.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QJsonObject;
class QTcpServer;

// A local stand-in for the update and assist-data services, bound to
// 127.0.0.1. It answers
//   ".../versions/index?model=<m>&ver=<v>" (any prefix, so a "beta" path works
//       too) with a JSON array: an application entry, then the "Total" entry
//       of <root>/<m>/ (version, note, url back to this server, real MD5),
//       and a "Restore" entry when restore files are published (publishRestore);
//   "/packages/<m>/<file>" with the file from <root>/<m>/, streamed from disk;
//   "/current_<n>d.alp" with that file from <root>.
// With a signing key every file it serves from a model folder has its
// "<file>.minisig" beside it, made when first asked for and again whenever the
// file changed; publish() and publishRestore() given a key sign at once.
// A model folder holds the package and "package.ini" ([Package] version, note,
// file; see publish()). Faults can be set per request path, from code or from
// a control file read on every request (lines "<path> <fault>", '#' comments).
class VHPackageServer : public QObject
{
    Q_OBJECT
public:
    explicit VHPackageServer(const QString &root, QObject *parent = nullptr);
    ~VHPackageServer() override;

    // Serves https with this certificate (PEM, the chain may follow) and key
    // (PEM, unencrypted) from the next listen() on; false with a reason when
    // either can not be read. Without it the server speaks plain http.
    bool setTls(const QString &certificateFile, const QString &keyFile, QString *error = nullptr);
    bool servesTls() const { return m_tls; }

    // Port 0 lets the system choose; see port().
    bool listen(quint16 port = 0);
    quint16 port() const;
    QString errorString() const;
    QString root() const { return m_root; }
    QString baseUrl() const;   // "http://127.0.0.1:<port>", or "https://..." with TLS
    QString updateUrl() const; // baseUrl() + "/versions/index"

    void setFault(const QString &path, VHServerFault fault);
    void clearFaults();
    void setControlFile(const QString &path) { m_controlFile = path; }
    // How long a SlowReply stalls (default 90 s, longer than a client's timeout).
    void setSlowPause(int milliseconds) { m_slowPauseMs = milliseconds; }
    // Paces file bodies like a link of that speed (0, the default: no limit).
    void setRateLimit(qint64 bytesPerSecond) { m_bytesPerSecond = bytesPerSecond; }
    // Signs what is served from now on; see the class comment.
    void setSigningKey(const VHMinisign::SecretKey &key) { m_signingKey = key; }
    bool signs() const { return !m_signingKey.secret.isEmpty(); }
    // Writes "<file>.minisig" unless one at least as new as the file is there.
    static bool signFile(const QString &file, const VHMinisign::SecretKey &key);

    // Answers `path` with `body` ("{base}" replaced by baseUrl()) instead of its route.
    void setCannedBody(const QString &path, const QByteArray &body);
    // Answers `path` with "302 Found" to `location` instead of its route.
    void setRedirect(const QString &path, const QString &location);

    // Raw request targets in arrival order, with their query strings.
    QStringList requestTargets() const { return m_requests; }
    int requestCount(const QString &path) const;
    void clearRequestLog() { m_requests.clear(); }

    // Lays out <root>/<model>/ with a copy of `packageFile` (as "Total.zip")
    // and "package.ini".
    static bool publish(const QString &root, const QString &model, const QString &packageFile, const QString &version,
                        const QString &note, QString *error = nullptr,
                        const VHMinisign::SecretKey *signingKey = nullptr);
    // Adds the model's restore files: a copy of `archiveFile` as "restore.zip",
    // named in the index as the entry "Restore" of `version`.
    static bool publishRestore(const QString &root, const QString &model, const QString &archiveFile,
                               const QString &version, QString *error = nullptr,
                               const VHMinisign::SecretKey *signingKey = nullptr);
    // The lower-case hexadecimal MD5 of a file, read in pieces.
    static QString fileMd5(const QString &path);

signals:
    void requestServed(const QString &target, int status);

private:
    struct CachedMd5
    {
        qint64 size = -1;
        QDateTime modified;
        QString md5;
    };

    void onNewConnection();
    VHHttpResponse respond(const QByteArray &method, const QByteArray &target, const QByteArray &host);
    VHHttpResponse route(const QString &path, const QString &query, const QString &base, VHServerFault fault);
    VHHttpResponse indexReply(const QString &query, const QString &base, VHServerFault fault);
    QJsonObject restoreEntry(const QString &model, const QString &base);
    VHHttpResponse packageReply(const QString &path, VHServerFault fault);
    VHHttpResponse alpReply(const QString &path);
    VHHttpResponse fileReply(const QString &filePath);
    static void applyTransportFault(VHHttpResponse &response, VHServerFault fault, int slowPauseMs);
    VHServerFault faultFor(const QString &path) const;
    QString cachedMd5(const QString &path);
    QString baseFor(const QByteArray &host) const;
    QString scheme() const;

    QString m_root;
    QTcpServer *m_server; // child; a QSslServer once setTls() succeeded
    bool m_tls = false;
    QHash<QString, VHServerFault> m_faults;
    QHash<QString, QByteArray> m_canned;
    QHash<QString, QString> m_redirects;
    QHash<QString, CachedMd5> m_md5Cache;
    QString m_controlFile;
    int m_slowPauseMs = 90000;
    qint64 m_bytesPerSecond = 0;
    QStringList m_requests;
    VHMinisign::SecretKey m_signingKey;
};
