#pragma once

#include "VHUpdatesFolder.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

class ReduzeduClientDelegate
{
public:
    virtual ~ReduzeduClientDelegate() = default;
    virtual void onReduzeduFinished(bool ok) = 0;
};

// Fetches GPS assist data ("/current_<days>d.alp") into the model's folder
// and writes "date.txt": the 4-byte big-endian expiry stamp, the local date of
// the fetch plus `days` days at 00:00 local time, in seconds since 1970 UTC.
// "date.txt" is removed before the data file is replaced, so a failed write
// leaves no stamp and the next check fetches again. The files are written
// (and flushed) on a worker; the delegate hears of it on the client's thread,
// and the client counts as downloading until then.
class ReduzeduClient : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    static constexpr int kDefaultTransferTimeoutMs = 60000;
    // Assist data for a fortnight is some hundred kilobytes.
    static constexpr qint64 kMaxDataSize = 16 * 1024 * 1024;
    // Even a day of assist data is larger; a shorter body is an error text.
    static constexpr qint64 kMinDataSize = 1024;

    explicit ReduzeduClient(ReduzeduClientDelegate *delegate);
    ~ReduzeduClient() override;

    void download(const QString &folder, const QString &fileName, int days);
    bool isDownloading() const { return m_downloading; }

    // The expiry stamp of data fetched at `now` for `days` days.
    static qint32 expiryStamp(const QDateTime &now, int days);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }

public slots:
    void finishedSlot(QNetworkReply *reply);

private:
    // What the worker writes; copies, so the client's members stay its own.
    struct Storage
    {
        QString folder;
        QString fileName;
        QByteArray data;
        qint32 stamp = 0;
        QString file(const QString &name) const { return VHUpdatesFolder::at(folder).file(name); }
    };

    static bool canBeAssistData(const QNetworkReply *reply, const QByteArray &data, QString *why);
    void startStoring(const QByteArray &data);
    void onStoringFinished(quint64 request, bool ok);
    // These two run on the worker.
    static bool storeData(const Storage &storage);
    static bool writeStamp(const Storage &storage);
    void onBytesArrived();
    void finish(bool ok);

    ReduzeduClientDelegate *m_delegate; // not owned
    QNetworkAccessManager *m_network;   // child
    QPointer<QNetworkReply> m_reply;
    QString m_fileName;
    QString m_folder;
    int m_days = 0;
    bool m_downloading = false;
    Clock m_clock = [] { return QDateTime::currentDateTime(); };
    int m_transferTimeoutMs = kDefaultTransferTimeoutMs;
    quint64 m_request = 0; // counts downloads, so the end of a replaced one is dropped
    QThreadPool m_writer;  // one thread: stores are written in the order they arrive
};
