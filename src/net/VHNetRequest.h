#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QStringDecoder>
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
// the reader reports it as "no value" instead of as a null document. False
// when any byte sequence is not UTF-8, instead of standing in replacement
// characters for it.
inline bool strictBodyText(const QByteArray &body, QString &text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder.decode(body);
    if (text.isNull())
        text = QString(QLatin1String(""));
    return !decoder.hasError();
}

} // namespace VHNetRequest
