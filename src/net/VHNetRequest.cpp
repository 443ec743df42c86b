#include "VHNetRequest.h"

#include "VHEnv.h"
#include "VHLog.h"

#include <QCoreApplication>
#include <QFuture>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPromise>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QThreadPool>

#include <chrono>
#include <future>

namespace {

const char *const kCertificateErrorsProperty = "vhCertificateErrors";

QString tr_(const char *text) { return QCoreApplication::translate("VHNetRequest", text); }

QString insecureRedirectText() { return tr_("the server redirected to an insecure address"); }

// Qt names a certificate error only in English; the ones a user can meet are
// said in the user's language, the rest in Qt's words.
QString certificateErrorInWords(const QSslError &error)
{
    switch (error.error()) {
    case QSslError::HostNameMismatch:
        return tr_("the certificate is made out for another host name");
    case QSslError::CertificateExpired:
        return tr_("the certificate has expired");
    case QSslError::CertificateNotYetValid:
        return tr_("the certificate is not valid yet");
    case QSslError::CertificateRevoked:
        return tr_("the certificate has been revoked");
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return tr_("the certificate's issuer is not a trusted authority");
    case QSslError::CertificateSignatureFailed:
    case QSslError::InvalidCaCertificate:
    case QSslError::CertificateRejected:
        return tr_("the certificate is not signed correctly");
    default:
        return error.errorString();
    }
}

// The "cafile" certificates; the file is read per request so a changed
// setting takes effect without a restart.
QList<QSslCertificate> extraAuthorities()
{
    const QString file = VHEnv::instance()->caFile();
    if (file.isEmpty())
        return {};
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(file, QSsl::Pem);
    if (certificates.isEmpty())
        vhWarning() << "cafile" << file << "holds no readable PEM certificate; only the system's are trusted";
    return certificates;
}

// Reading and parsing every system authority takes long enough to stall the
// window, so it starts on a thread of its own as soon as a client is made.
const std::shared_future<QList<QSslCertificate>> &systemAuthoritiesRead()
{
    static const std::shared_future<QList<QSslCertificate>> read =
        std::async(std::launch::async, [] { return QSslConfiguration::systemCaCertificates(); }).share();
    return read;
}

bool isRedirectStatus(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 300 && status < 400;
}

} // namespace

namespace VHNetRequest {

QNetworkRequest plainGet(const QUrl &url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    const QList<QSslCertificate> extra = extraAuthorities();
    if (!extra.isEmpty()) {
        // Setting any authority stops the on-demand use of the system's, so
        // both are named.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(systemAuthoritiesRead().get() + extra);
        request.setSslConfiguration(configuration);
    }
    return request;
}

void whenReady(QObject *context, const std::function<void()> &send)
{
    if (VHEnv::instance()->caFile().isEmpty()
        || systemAuthoritiesRead().wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        send();
        return;
    }
    auto read = std::make_shared<QPromise<void>>();
    read->start();
    read->future().then(context, [send] { send(); });
    QThreadPool::globalInstance()->start([read, authorities = systemAuthoritiesRead()] {
        authorities.wait();
        read->finish();
    });
}

void prepareManager(QNetworkAccessManager *manager)
{
    if (!VHEnv::instance()->caFile().isEmpty())
        systemAuthoritiesRead();
    QObject::connect(manager, &QNetworkAccessManager::sslErrors, manager,
                     [](QNetworkReply *reply, const QList<QSslError> &errors) {
                         QStringList reasons, logged;
                         for (const QSslError &error : errors) {
                             reasons.append(certificateErrorInWords(error));
                             logged.append(error.errorString());
                         }
                         // Several errors can be one reason in words ("not trusted").
                         reasons.removeDuplicates();
                         vhWarning() << "certificate of" << reply->url().host() << "refused:" << logged;
                         reply->setProperty(kCertificateErrorsProperty, reasons.join(QStringLiteral("; ")));
                     });
}

QString trustFailure(const QNetworkReply *reply)
{
    switch (reply->error()) {
    case QNetworkReply::InsecureRedirectError:
        return insecureRedirectText();
    case QNetworkReply::ProtocolUnknownError:
        // A redirect to a scheme other than http(s).
        return isRedirectStatus(reply) ? insecureRedirectText() : QString();
    case QNetworkReply::SslHandshakeFailedError: {
        QString reason = reply->property(kCertificateErrorsProperty).toString();
        if (reason.isEmpty())
            reason = reply->errorString();
        return tr_("the server's certificate is not valid for %1: %2").arg(reply->url().host(), reason);
    }
    default:
        return {};
    }
}

QString failureText(const QNetworkReply *reply)
{
    const QString trust = trustFailure(reply);
    return trust.isEmpty() ? reply->errorString() : trust;
}

} // namespace VHNetRequest
