#include "NetTestSupport.h"
#include "ReduzeduClient.h"
#include "VHFitPackageBuilder.h"
#include "VHRestoreFetcher.h"
#include "VHTestTls.h"
#include "VeloraApiClient.h"

#include <QSignalSpy>
#include <QTest>

namespace {

struct Delegate : VeloraApiClientDelegate, ReduzeduClientDelegate
{
    QList<bool> results;
    void onUpdateFinished(bool ok) override { results.append(ok); }
    void onReduzeduFinished(bool ok) override { results.append(ok); }
};

constexpr int kWaitMs = 20000;
const QString kPackagePath = QStringLiteral("/packages/Pacer/Total.zip");
const QString kIndexPath = QStringLiteral("/versions/index");
const QString kInsecurePackage = QStringLiteral("the update server named a package address that is not secure");
const QString kBadCertificate = QStringLiteral("the server's certificate is not valid for 127.0.0.1: ");
const QString kInsecureRedirect = QStringLiteral("the server redirected to an insecure address");

} // namespace

// The update, restore and assist-data fetches over https: what a certificate
// or a redirect must be for them to be accepted, and the reason in words when not.
class TestHttps : public QObject
{
    Q_OBJECT

    VHTestTls m_tls;
    QTemporaryDir m_root;
    QTemporaryDir m_xdg;
    std::unique_ptr<VHPackageServer> m_server; // the case's https (or http) server
    std::unique_ptr<VHPackageServer> m_plain;  // an http server over the same root, a redirect's target
    Delegate m_delegate;

    QString updatesDir() const { return VHEnv::instance()->dataFolder() + QStringLiteral("/updates"); }

    // "" serves plain http; otherwise the named certificate of m_tls.
    void startServer(const QString &certificate)
    {
        m_server = std::make_unique<VHPackageServer>(m_root.path());
        if (!certificate.isEmpty()) {
            const VHTestTls::Server files{m_tls.folder() + QLatin1Char('/') + certificate + QStringLiteral(".pem"),
                                          m_tls.folder() + QLatin1Char('/') + certificate + QStringLiteral(".key")};
            QString error;
            QVERIFY2(m_server->setTls(files.certificate, files.key, &error), qPrintable(error));
        }
        QVERIFY(m_server->listen());
    }

    void useSettings(bool trustTestCa)
    {
        initTestEnv(m_xdg.path(), {{QStringLiteral("debug"), QStringLiteral("1")},
                                   {QStringLiteral("updateurl"), m_server->updateUrl()},
                                   {QStringLiteral("alpurl"), m_server->baseUrl()},
                                   {QStringLiteral("cafile"), trustTestCa ? m_tls.caFile() : QString()}});
    }

    void redirect(const QString &path, const QString &target)
    {
        if (target == QLatin1String("http"))
            m_server->setRedirect(path, m_plain->baseUrl() + path + QStringLiteral("?model=Pacer"));
        else if (target == QLatin1String("http index")) // a secure index naming a plain package address
            m_server->setCannedBody(path, "[{\"name\":\"Total\",\"version\":\"1.2.0\",\"md5hash\":\"\",\"url\":\""
                                              + (m_plain->baseUrl() + kPackagePath).toUtf8() + "\"}]");
        else if (!target.isEmpty())
            m_server->setRedirect(path, target);
    }

    // One exchange of a fresh client to its end.
    VeloraApiClient *query(std::unique_ptr<VeloraApiClient> &client)
    {
        m_delegate.results.clear();
        client = std::make_unique<VeloraApiClient>(&m_delegate);
        client->queryUpdate(QStringLiteral("Pacer"), updatesDir() + QStringLiteral("/Pacer"), false);
        if (!QTest::qWaitFor([&] { return !m_delegate.results.isEmpty(); }, kWaitMs))
            qFatal("the exchange did not end");
        return client.get();
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_tls.make(&error), qPrintable(error));
        VHFitPackageBuilder::Options options;
        options.model = QStringLiteral("Pacer");
        const QString zip = m_root.filePath(QStringLiteral("build.zip"));
        QVERIFY2(VHFitPackageBuilder::writePackage(zip, options, &error), qPrintable(error));
        QVERIFY2(VHPackageServer::publish(m_root.path(), QStringLiteral("Pacer"), zip, QStringLiteral("1.2.0"),
                                          QStringLiteral("note"), &error),
                 qPrintable(error));
        QVERIFY(VHPackageServer::publishRestore(m_root.path(), QStringLiteral("Pacer"), zip, QStringLiteral("1.0"),
                                                &error));
        QVERIFY(writeFile(m_root.filePath(QStringLiteral("current_14d.alp")),
                          QByteArray("\xb5\x62\x0b\x50 assist data", 17).repeated(600)));
        m_plain = std::make_unique<VHPackageServer>(m_root.path());
        QVERIFY(m_plain->listen());
    }

    void init()
    {
        m_server.reset();
        QDir(updatesDir()).removeRecursively();
    }

    void updateExchange_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("trustTestCa");
        QTest::addColumn<QString>("path");       // redirected ...
        QTest::addColumn<QString>("redirectTo"); // ... to "http" (the plain server) or this address
        QTest::addColumn<QString>("reason");     // "" when the package arrives
        QTest::addColumn<QString>("qtReason");   // a word of the certificate error's own text

        QTest::newRow("trusted certificate") << "localhost" << true << ""
                                             << ""
                                             << ""
                                             << "";
        QTest::newRow("certificate for another name") << "othername" << true << ""
                                                      << "" << kBadCertificate << "host name";
        QTest::newRow("expired certificate") << "expired" << true << ""
                                             << "" << kBadCertificate << "expired";
        QTest::newRow("untrusted authority") << "untrusted" << true << ""
                                             << "" << kBadCertificate << "issuer";
        QTest::newRow("test authority not in cafile") << "localhost" << false << ""
                                                      << "" << kBadCertificate << "issuer";
        QTest::newRow("query redirected to http")
            << "localhost" << true << kIndexPath << "http" << kInsecureRedirect << "";
        QTest::newRow("query redirected to ftp")
            << "localhost" << true << kIndexPath << "ftp://127.0.0.1/index" << kInsecureRedirect << "";
        QTest::newRow("package address in the index is http")
            << "localhost" << true << kIndexPath << "http index" << kInsecurePackage << "";
        QTest::newRow("package redirected to http") << "localhost" << true << kPackagePath << "http"
                                                    << "the package download failed: " + kInsecureRedirect << "";
    }

    void updateExchange()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, trustTestCa);
        QFETCH(QString, path);
        QFETCH(QString, redirectTo);
        QFETCH(QString, reason);
        QFETCH(QString, qtReason);
        startServer(certificate);
        useSettings(trustTestCa);
        redirect(path, redirectTo);
        m_plain->clearRequestLog();

        std::unique_ptr<VeloraApiClient> client;
        query(client);
        const QString package = updatesDir() + QStringLiteral("/Pacer/Total.zip");
        if (reason.isEmpty()) {
            QCOMPARE(client->errorText(), QString());
            QCOMPARE(client->outcome(), VeloraApiClient::Outcome::Answered);
            QVERIFY(QFileInfo::exists(package));
            return;
        }
        QVERIFY2(client->errorText().startsWith(reason), qPrintable(client->errorText()));
        QVERIFY2(client->errorText().contains(qtReason, Qt::CaseInsensitive), qPrintable(client->errorText()));
        QCOMPARE(client->outcome(), VeloraApiClient::Outcome::Failed);
        QVERIFY(!QFileInfo::exists(package));
        QCOMPARE(m_plain->requestTargets(), QStringList()); // the insecure address was never asked
    }

    void plainHttpWorksAndIsWarnedOnce()
    {
        startServer(QString());
        useSettings(false);
        const LogWatch log;
        std::unique_ptr<VeloraApiClient> client;
        query(client);
        QCOMPARE(client->errorText(), QString());
        QVERIFY(QFileInfo::exists(updatesDir() + QStringLiteral("/Pacer/Total.zip")));
        query(client);
        QCOMPARE(log.text().count(QStringLiteral("vh.ini updateurl is a plain http address")), 1);
    }

    void restoreFilesOverHttps_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trusted") << "localhost"
                                 << "";
        QTest::newRow("expired") << "expired"
                                 << "the restore files' download failed: " + kBadCertificate;
    }

    void restoreFilesOverHttps()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, reason);
        startServer(certificate);
        useSettings(true);
        QVERIFY(QDir().mkpath(updatesDir() + QStringLiteral("/Pacer")));
        VHRestoreFetcher fetcher;
        QSignalSpy finished(&fetcher, &VHRestoreFetcher::finished);
        fetcher.fetch(QUrl(m_server->baseUrl() + QStringLiteral("/packages/Pacer/restore.zip")), QString(),
                      QStringLiteral("1.0"), updatesDir() + QStringLiteral("/Pacer"));
        QVERIFY(finished.wait(kWaitMs));
        QVERIFY2(finished.constFirst().constFirst().toBool() == reason.isEmpty(), qPrintable(fetcher.errorText()));
        QVERIFY2(reason.isEmpty() ? fetcher.errorText().isEmpty() : fetcher.errorText().startsWith(reason),
                 qPrintable(fetcher.errorText()));
    }

    void assistDataOverHttps_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("ok");
        QTest::newRow("trusted") << "localhost" << true;
        QTest::newRow("certificate for another name") << "othername" << false;
    }

    void assistDataOverHttps()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, ok);
        startServer(certificate);
        useSettings(true);
        const LogWatch log;
        m_delegate.results.clear();
        ReduzeduClient client(&m_delegate);
        client.download(updatesDir(), QStringLiteral("AssitOff.alp"), 14);
        QTRY_VERIFY_WITH_TIMEOUT(!m_delegate.results.isEmpty(), kWaitMs);
        QVERIFY2(m_delegate.results == QList<bool>{ok}, qPrintable(log.text()));
        QCOMPARE(log.contains(kBadCertificate), !ok);
    }
};

QTEST_GUILESS_MAIN(TestHttps)
#include "tst_Https.moc"
