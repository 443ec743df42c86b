#include "ReduzeduClient.h"

#include "VHAtomicWrite.h"
#include "VHEnv.h"
#include "VHLog.h"
#include "VHNetRequest.h"
#include "VHUtility.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtEndian>

ReduzeduClient::ReduzeduClient(ReduzeduClientDelegate *delegate)
    : QObject(nullptr), m_delegate(delegate), m_network(new QNetworkAccessManager(this))
{
    connect(m_network, &QNetworkAccessManager::finished, this, &ReduzeduClient::finishedSlot);
}

ReduzeduClient::~ReduzeduClient()
{
    m_network->disconnect(this);
    if (m_reply)
        m_reply->abort();
}

void ReduzeduClient::download(const QString &folder, const QString &fileName, int days)
{
    // A request still running is replaced; its end must not be taken for this one's.
    if (QNetworkReply *previous = m_reply) {
        m_reply = nullptr;
        previous->disconnect(this);
        previous->abort();
    }
    m_downloading = true;
    m_folder = folder;
    m_fileName = fileName;
    m_days = days;
    const QString address = VHEnv::instance()->alpServiceUrl() + QStringLiteral("/current_%1d.alp").arg(days);
    // Above the debug level: the address asked is what tells a wrong setting.
    vhWarning() << "alp url=" << address;
    m_reply = m_network->get(VHNetRequest::plainGet(QUrl(address), m_transferTimeoutMs));
    connect(m_reply, &QNetworkReply::readyRead, this, &ReduzeduClient::onBytesArrived);
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
    m_downloading = false;
    bool result = false;
    if (reply->error() != QNetworkReply::NoError) {
        vhCritical() << "http error=" << int(reply->error());
    } else {
        const QByteArray data = reply->readAll();
        QString why;
        if (data.isEmpty())
            vhCritical() << "download failed - get no data";
        else if (!canBeAssistData(reply, data, &why))
            vhCritical() << "download failed - not assist data:" << why;
        else
            result = storeData(data) && writeStamp();
    }
    notifyDelegate(result);
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

bool ReduzeduClient::storeData(const QByteArray &data)
{
    QDir().mkpath(m_folder);
    VHUtility::removeFile(folderFile(QStringLiteral("date.txt")));
    const QString path = folderFile(m_fileName);
    QString error;
    if (!VHAtomicWrite::replaceWith(path, data, &error)) {
        vhCritical() << "can not open " + path + " to write" << error;
        return false;
    }
    return true;
}

bool ReduzeduClient::writeStamp()
{
    const qint32 stamp = expiryStamp(m_clock(), m_days);
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(stamp, bytes.data());
    QString error;
    if (!VHAtomicWrite::replaceWith(folderFile(QStringLiteral("date.txt")), bytes, &error)) {
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

void ReduzeduClient::notifyDelegate(bool ok)
{
    if (m_delegate)
        m_delegate->onReduzeduFinished(ok);
}
