#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
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
    bool isFetching() const { return !m_reply.isNull(); }
    QString errorText() const { return m_errorText; }

    // Unpacks the zip at `zipPath` into `updatesFolder`/restore, replacing what is there.
    static bool install(const QString &zipPath, const QString &updatesFolder, QString &error);

signals:
    void finished(bool ok);

private:
    void startArchive();
    void onSignatureFinished(QNetworkReply *reply);
    // Why the archive at `zip` is refused; empty when it may be unpacked.
    QString signatureRefusal(const QString &zip) const;
    bool keepArchive(const QString &zip, QString &error) const;
    void onBytesArrived();
    void onReplyFinished(QNetworkReply *reply);
    bool takeArchive(QNetworkReply *reply);
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
};
