#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class VHPackageFile;

class VeloraApiClientDelegate
{
public:
    virtual ~VeloraApiClientDelegate() = default;
    // The end of one exchange: a query, and the package download it needed.
    virtual void onUpdateFinished(bool ok) = 0;
    // Bytes of the package received so far; total is -1 while the server has not said.
    virtual void onDownloadProgress(qint64 received, qint64 total)
    {
        Q_UNUSED(received);
        Q_UNUSED(total);
    }
};

// Asks the update service for the current package of a model and, when the
// model's folder does not already hold that version, downloads it there as
// "Total.zip" with "note.txt", "filename.txt" and, last, "version.txt".
// Query failures tell the delegate true (the exchange is over, the folder
// shows what is there); download failures tell it false. outcome() tells a
// server that answered apart from one that did not.
//
// A finished download is checked (a complete zip), flushed and put in place
// on a worker thread; the delegate hears of it on the client's thread.
//
// When signatures are required (VHEnv::signaturePolicy) the package's
// address + ".minisig" is fetched first and the package is kept only when it
// matches; the signature is stored beside it as "Total.zip.minisig".
class VeloraApiClient : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        None,     // no exchange has ended since construction or since the last queryUpdate
        Answered, // the server answered: the folder holds the version it named, or it named no package
        Failed,   // the current version was not learned, or its package could not be fetched and put in place
    };
    static constexpr const char *kProtocolVersion = "2.8.0.19";
    static constexpr int kDefaultTransferTimeoutMs = 60000;
    // Bytes of the package the reply buffers before we take them.
    static constexpr qint64 kReadBufferSize = 512 * 1024;
    // A query reply is a short JSON array; a longer one is not read.
    static constexpr qint64 kMaxQueryReplySize = 16 * 1024 * 1024;

    explicit VeloraApiClient(VeloraApiClientDelegate *delegate);
    ~VeloraApiClient() override;

    // base + "?model=" + the percent-encoded model + "&ver=" + kProtocolVersion
    static QString queryAddress(const QString &base, const QString &model);

    void queryUpdate(const QString &model, const QString &folder, bool beta);

    // No data for this long ends a transfer as an error.
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

    QString version() const { return m_version; }
    QString url() const { return m_url; }
    QString note() const { return m_note; }
    QString md5hash() const { return m_md5hash; }
    QString folder() const { return m_folder; }
    // The archive of restore files the last reply named in an entry "Restore";
    // empty when it named none. The client does not fetch it: only families
    // that offer a factory restore need it (VHRestoreFetcher).
    QString restoreVersion() const { return m_restore.version; }
    QUrl restoreAddress() const;
    QString restoreMd5hash() const { return m_restore.md5hash; }

    // How the last exchange ended; set before the delegate is told.
    Outcome outcome() const { return m_outcome; }
    bool lastQueryFailed() const { return m_outcome == Outcome::Failed; }
    // Why the last exchange failed, in words; empty when it did not.
    QString errorText() const { return m_errorText; }
    // The last query failed because the server's host did not resolve or
    // could not be connected: most likely no server is configured.
    bool serverUnreachable() const { return m_serverUnreachable; }
    // The base address the last query asked.
    QString serverAddress() const { return m_serverAddress; }
    // True for the network errors that mean "no server there".
    static bool isUnreachableError(int networkError);

public slots:
    void finishedSlot(QNetworkReply *reply);

private:
    bool keepsTheIndexSecure(const QUrl &target) const;
    enum class DownloadStart { NotNeeded, Started, Failed };

    // What the worker needs to put a downloaded package in place; it owns
    // copies, so the client may start another exchange meanwhile.
    struct Installation
    {
        std::unique_ptr<VHPackageFile> package;
        QString folder;
        QString note;
        QString version;
        QString file(const QString &name) const;
    };

    void handleQueryReply(QNetworkReply *reply);
    QString queryFailureText(const QNetworkReply *reply) const;
    void takeTotalEntry(const QVariant &replyValue);
    void takeRestoreEntry(const QVariantMap &object);
    void decideDownload();
    DownloadStart checkDownload();
    bool folderHoldsVersion() const;
    DownloadStart startDownload();
    DownloadStart startSignatureFetch();
    DownloadStart startPackageDownload(bool signatureExpected);
    void onSignatureBytesArrived();
    void handleSignatureReply(QNetworkReply *reply);
    void handleDownloadReply(QNetworkReply *reply);
    bool downloadSucceeded(QNetworkReply *reply);
    bool checksumMatches();
    void startInstallation();
    void onInstallationFinished(quint64 exchange, const QString &refusal);
    // These run on the worker; installPackage returns why the package was not put in place.
    static QString installPackage(const Installation &installation);
    static bool storeSignature(const Installation &installation);
    static void writeSideFiles(const Installation &installation);

    void onQueryBytesArrived();
    void onPackageBytesArrived();
    void drainPackageBytes(QNetworkReply *reply);
    void abandonExchange();
    void refuseQuery(const QString &model, const QString &folder);
    void finishExchange(Outcome outcome, bool ok);
    void failExchange(const QString &reason, bool ok);

    VeloraApiClientDelegate *m_delegate; // not owned
    QNetworkAccessManager *m_network;    // child
    QPointer<QNetworkReply> m_queryReply;
    QPointer<QNetworkReply> m_downloadReply;
    QPointer<QNetworkReply> m_signatureReply;
    QByteArray m_signatureText;
    QUrl m_packageAddress;
    std::unique_ptr<VHPackageFile> m_package;
    QByteArray m_readBuffer;
    bool m_packageWriteFailed = false;
    QUrl m_queryUrl;
    int m_transferTimeoutMs = kDefaultTransferTimeoutMs;
    quint64 m_exchange = 0; // counts queries, so a late notice of an old one is dropped
    Outcome m_outcome = Outcome::None;
    // One worker: a package is put in place while no other is.
    QThreadPool m_installer;
    bool m_installing = false;
    // A reply that arrived while an earlier package was being put in place;
    // its folder is looked at once that is done.
    bool m_downloadCheckOwed = false;

    struct Entry
    {
        QString version;
        QString url;
        QString md5hash;
    };
    Entry m_restore;
    QString m_version;
    QString m_url;
    QString m_note;
    QString m_md5hash;
    QString m_folder;
    QString m_errorText;
    bool m_serverUnreachable = false;
    QString m_serverAddress; // the base address asked, for the reason text
};
