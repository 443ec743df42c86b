#include "ReduzeduClient.h"

#include "VHEnv.h"
#include "VHLog.h"
#include "VHNetRequest.h"
#include "VHSafeFolder.h"
#include "VHUpdatesFolder.h"
#include "VHUtility.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <memory>

ReduzeduClient::ReduzeduClient(ReduzeduClientDelegate *delegate)
    : QObject(nullptr), m_delegate(delegate), m_network(new QNetworkAccessManager(this))
{
    connect(m_network, &QNetworkAccessManager::finished, this, &ReduzeduClient::finishedSlot);
    VHNetRequest::prepareManager(m_network);
    m_writer.setMaxThreadCount(1);
}

ReduzeduClient::~ReduzeduClient()
{
    m_network->disconnect(this);
    if (m_reply)
        m_reply->abort();
    // Files being written are finished; the result posted to this object goes with it.
    m_writer.waitForDone();
}

void ReduzeduClient::download(const QString &folder, const QString &fileName, int days)
{
    // A request still running is replaced; its end must not be taken for this one's.
    if (QNetworkReply *previous = m_reply) {
        m_reply = nullptr;
        previous->disconnect(this);
        previous->abort();
    }
    ++m_request;
    m_downloading = true;
    m_folder = folder;
    m_fileName = fileName;
    m_days = days;
    const QString address = VHEnv::instance()->alpServiceUrl() + QStringLiteral("/current_%1d.alp").arg(days);
    // Above the debug level: the address asked is what tells a wrong setting.
    vhWarning() << "alp url=" << address;
    // Sent once the authorities are read, so the GUI thread never waits for them.
    VHNetRequest::whenReady(this, [this, request = m_request, address] {
        if (request != m_request)
            return; // a later download replaced it meanwhile
        m_reply = m_network->get(VHNetRequest::plainGet(QUrl(address), m_transferTimeoutMs));
        connect(m_reply, &QNetworkReply::readyRead, this, &ReduzeduClient::onBytesArrived);
    });
}

void ReduzeduClient::onBytesArrived()
{
    if (!m_reply || m_reply->bytesAvailable() <= kMaxDataSize)
        return;
    vhCritical() << "assist data larger than" << kMaxDataSize << "bytes, not read";
    m_reply->abort();
}

void ReduzeduClient::finishedSlot(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != m_reply)
        return; // a replaced request
    m_reply = nullptr;
    if (reply->error() != QNetworkReply::NoError) {
        vhCritical() << "http error=" << int(reply->error()) << VHNetRequest::failureText(reply);
        finish(false);
        return;
    }
    const QByteArray data = reply->readAll();
    QString why;
    if (data.isEmpty()) {
        vhCritical() << "download failed - get no data";
        finish(false);
    } else if (!canBeAssistData(reply, data, &why)) {
        vhCritical() << "download failed - not assist data:" << why;
        finish(false);
    } else {
        startStoring(data);
    }
}

void ReduzeduClient::startStoring(const QByteArray &data)
{
    // Each replacement ends in a flush to disk: not a wait for the GUI thread.
    auto storage = std::make_shared<Storage>(Storage{m_folder, m_fileName, data, expiryStamp(m_clock(), m_days)});
    const quint64 request = m_request;
    m_writer.start([this, storage, request] {
        const bool ok = storeData(*storage) && writeStamp(*storage);
        QMetaObject::invokeMethod(
            this, [this, request, ok] { onStoringFinished(request, ok); }, Qt::QueuedConnection);
    });
}

void ReduzeduClient::onStoringFinished(quint64 request, bool ok)
{
    if (request == m_request)
        finish(ok);
}

bool ReduzeduClient::canBeAssistData(const QNetworkReply *reply, const QByteArray &data, QString *why)
{
    // A portal or proxy answers with a page and status 200; stored, it would
    // be stamped valid for weeks and never fetched again.
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString().trimmed();
    if (type.startsWith(QLatin1String("text/html"), Qt::CaseInsensitive)) {
        *why = QStringLiteral("content type ") + type;
        return false;
    }
    if (data.size() < kMinDataSize) {
        *why = QStringLiteral("%1 bytes").arg(data.size());
        return false;
    }
    return true;
}

bool ReduzeduClient::storeData(const Storage &storage)
{
    QDir().mkpath(storage.folder);
    if (!VHUtility::removeFile(storage.file(VHUpdatesFolder::kAlpStamp)))
        vhWarning() << "the old date.txt stays beside the new data";
    const QString path = storage.file(storage.fileName);
    QString error;
    if (!VHSafeFolder::replaceFile(path, storage.data, &error)) {
        vhCritical() << "can not open " + path + " to write" << error;
        return false;
    }
    return true;
}

bool ReduzeduClient::writeStamp(const Storage &storage)
{
    const QByteArray bytes = VHDateStamp::toBytes(storage.stamp);
    QString error;
    if (!VHSafeFolder::replaceFile(storage.file(VHUpdatesFolder::kAlpStamp), bytes, &error)) {
        vhCritical() << error;
        return false;
    }
    return true;
}

qint32 ReduzeduClient::expiryStamp(const QDateTime &now, int days)
{
    // Calendar days in local time: across a daylight-saving change a day is
    // not 86400 s. startOfDay copes with a midnight that does not exist.
    const QDate expiryDate = now.toLocalTime().date().addDays(days);
    return qint32(expiryDate.startOfDay().toSecsSinceEpoch());
}

void ReduzeduClient::finish(bool ok)
{
    m_downloading = false;
    if (m_delegate)
        m_delegate->onReduzeduFinished(ok);
}
