#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

namespace VHNetRequest {

// A plain GET request that ends as an error when no data moves for `timeoutMs`.
inline QNetworkRequest plainGet(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    return request;
}

// A reply body as text; an empty body gives an empty, not a null, text, so
// the reader reports it as "no value" instead of as a null document.
inline QString bodyText(const QByteArray &body)
{
    QString text = QString::fromUtf8(body);
    if (text.isNull())
        text = QString(QLatin1String(""));
    return text;
}

} // namespace VHNetRequest
