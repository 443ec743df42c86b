#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the archive a factory restore is made from, as the update server
// names it beside the package, and unpacks it into the model's updates folder
// as "restore". The archive holds plain files at its top only; anything else,
// a checksum that does not match or an archive past the limits refuses it and
// leaves the folder's earlier restore files as they were. "restoreversion.txt"
// is written last, so a fetch cut short is made again next time.
//
// When signatures are required the archive's address + ".minisig" is fetched
// first; the archive is unpacked only when it matches, and is kept as
// "restore.zip" with "restore.zip.minisig" so the folder can be checked
// through it before it is written to a device.
class VHRestoreFetcher : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kMaxArchiveSize = 64 * 1024 * 1024;
    static inline const QString kVersionFile = QStringLiteral("restoreversion.txt");

    explicit VHRestoreFetcher(QObject *parent = nullptr);
    ~VHRestoreFetcher() override;

    // True when `updatesFolder` does not yet hold the restore files of `version`.
    static bool isNeeded(const QString &updatesFolder, const QString &version);
    // Replaces a fetch still running.
    void fetch(const QUrl &url, const QString &md5hash, const QString &version, const QString &updatesFolder);
    // True from fetch() until finished(), the unpacking included.
    bool isFetching() const { return !m_reply.isNull() || !m_signatureReply.isNull() || m_unpacking; }
    // True while the downloaded files are checked and swapped into the folder.
    bool isUnpacking() const { return m_unpacking; }
    QString errorText() const { return m_errorText; }

    // Unpacks the zip at `zipPath` into `updatesFolder`/restore, replacing what is there.
    static bool install(const QString &zipPath, const QString &updatesFolder, QString &error);

signals:
    void finished(bool ok);

private:
    void startArchive();
    void onSignatureFinished(QNetworkReply *reply);
    // Why the archive at `zip` is refused; empty when it may be unpacked.
    // What the worker needs of one fetch, copied so the next fetch cannot change it.
    struct Job
    {
        QByteArray bytes;
        QString md5hash;
        QString version;
        QString folder;
        bool signatureRequired = false;
        QByteArray signature;
    };
    static QString signatureRefusal(const Job &job, const QString &zip);
    static bool keepArchive(const Job &job, const QString &zip, QString &error);
    void onBytesArrived();
    void onReplyFinished(QNetworkReply *reply);
    bool takeArchive(QNetworkReply *reply);
    // Checks and unpacks the archive on the worker: up to kMaxArchiveSize
    // bytes hashed and written would hold the caller's (GUI) thread.
    void unpackOnWorker();
    // Runs on the worker; an empty text is success.
    static QString checkAndInstall(const Job &job);
    void onUnpacked(quint64 fetchNumber, const QString &error);
    void finish(bool ok, const QString &error = QString());

    QNetworkAccessManager *m_network; // child
    QPointer<QNetworkReply> m_reply;
    QPointer<QNetworkReply> m_signatureReply;
    QUrl m_url;
    bool m_signatureRequired = false;
    QByteArray m_signature;
    QByteArray m_bytes;
    QString m_md5hash;
    QString m_version;
    QString m_folder;
    QString m_errorText;
    // Counts fetches: an unpacking of a replaced fetch ends unheard.
    quint64 m_fetchNumber = 0;
    bool m_unpacking = false;
    // Last member: the destructor waits for an unpacking before the rest goes.
    QThreadPool m_unpacker;
};
