#pragma once

#include <QByteArray>
#include <QNetworkRequest>

#include <QString>
#include <QStringDecoder>
#include <QUrl>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace VHNetRequest {

// A GET request that ends as an error when no data moves for `timeoutMs`.
// Certificates are checked against the system's authorities and those of the
// "cafile" setting; a redirect may not leave https for http.
QNetworkRequest plainGet(const QUrl &url, int timeoutMs);

// Calls `send` once plainGet() can make its request without waiting for the
// system's authorities: at once when they are read or not needed, else on
// `context`'s thread when their read ends; never after `context` is gone.
// The first query of a device plugged right after start must not hold the
// window until then.
void whenReady(QObject *context, const std::function<void()> &send);

// Keeps the certificate errors the manager's replies meet, so trustFailure()
// can name them, and, with a "cafile" set, starts reading the system's
// authorities in the background; call once per manager.
void prepareManager(QNetworkAccessManager *manager);

// Why a finished reply was refused for the channel's sake, in the user's
// language: an invalid certificate (what is wrong with it, not only Qt's
// English text, which goes to the log) or a redirect to a less safe address.
// Empty for any other outcome.
QString trustFailure(const QNetworkReply *reply);

// trustFailure(), or else the reply's own error text.
QString failureText(const QNetworkReply *reply);

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
