#include "NetTestSupport.h"
#include "VHFitPackageBuilder.h"
#include "VeloraApiClient.h"

#include <QCryptographicHash>
#include <QTest>
#include <QThread>

#include <tuple>

namespace {

struct RecordingDelegate : VeloraApiClientDelegate
{
    QList<bool> results;
    void onUpdateFinished(bool ok) override { results.append(ok); }
};

constexpr int kWaitMs = 20000;

} // namespace

class TestVeloraApiClient : public QObject
{
    Q_OBJECT

    NetTestWorld m_world;
    QByteArray m_package;    // published for "Pacer" as version "1.2.0"
    QByteArray m_oldPackage; // what the folder holds before a download that must fail

    QString folder(const QString &model = QStringLiteral("Pacer")) const { return m_world.modelDir(model); }
    QString file(const char *name, const QString &model = QStringLiteral("Pacer")) const
    {
        return folder(model) + QLatin1Char('/') + QLatin1String(name);
    }

    QByteArray publish(const QString &model, const QString &version, const QString &note, quint64 seed)
    {
        VHFitPackageBuilder::Options options;
        options.model = model;
        options.seed = seed;
        options.withWorkouts = true;
        const QString zip = m_world.root() + QStringLiteral("/build-%1.zip").arg(seed);
        QString error;
        if (!VHFitPackageBuilder::writePackage(zip, options, &error)
            || !VHPackageServer::publish(m_world.root(), model, zip, version, note, &error))
            qFatal("can not publish: %s", qPrintable(error));
        return readFile(zip);
    }

    RecordingDelegate m_delegate;
    std::unique_ptr<VeloraApiClient> m_client; // the client of the case, over m_delegate

    // A fresh client, and a delegate that has been told nothing yet.
    VeloraApiClient &newClient()
    {
        m_delegate.results.clear();
        m_client = std::make_unique<VeloraApiClient>(&m_delegate);
        return *m_client;
    }

    // Runs one exchange of the current client to its end and returns what the delegate was told.
    bool runQuery(const QString &model = QStringLiteral("Pacer"), bool beta = false)
    {
        m_client->queryUpdate(model, folder(model), beta);
        if (!QTest::qWaitFor([&] { return !m_delegate.results.isEmpty(); }, kWaitMs))
            qFatal("the exchange did not end");
        QTest::qWait(50); // anything told twice would arrive now
        return m_delegate.results.constFirst();
    }

    // One exchange on a fresh client, to its end.
    bool query(const QString &model = QStringLiteral("Pacer"), bool beta = false)
    {
        newClient();
        return runQuery(model, beta);
    }

    void putOldFiles()
    {
        writeFile(file("Total.zip"), m_oldPackage);
        writeFile(file("version.txt"), "0.9");
        writeFile(file("note.txt"), "old note");
    }

    void verifyOldFilesUntouched()
    {
        QCOMPARE(readFile(file("Total.zip")), m_oldPackage);
        QCOMPARE(readFile(file("version.txt")), QByteArray("0.9"));
        QCOMPARE(readFile(file("note.txt")), QByteArray("old note"));
        QCOMPARE(folderEntries(folder()), QStringList({"Total.zip", "note.txt", "version.txt"}));
    }

    void cannedIndex(const QByteArray &body)
    {
        m_world.server().setCannedBody(QStringLiteral("/versions/index"), body);
    }

    // The index of the published package, or the same without its "md5hash".
    void indexWithOrWithoutMd5(bool withMd5)
    {
        if (!withMd5)
            cannedIndex("[{\"name\":\"Total\",\"version\":\"1.2.0\",\"url\":\"{base}/packages/Pacer/Total.zip\","
                        "\"note\":\"GPS fixes, new faces\"}]");
    }

    void verifyPackageInstalled()
    {
        QCOMPARE(readFile(file("Total.zip")), m_package);
        QCOMPARE(readFile(file("version.txt")), QByteArray("1.2.0"));
        QCOMPARE(readFile(file("note.txt")), QByteArray("GPS fixes, new faces"));
    }

    static const QString &packagePath()
    {
        static const QString path = QStringLiteral("/packages/Pacer/Total.zip");
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.start());
        m_package =
            publish(QStringLiteral("Pacer"), QStringLiteral("1.2.0"), QStringLiteral("GPS fixes, new faces"), 7);
        m_oldPackage = QByteArray("an older package");
    }

    void init()
    {
        m_client.reset();
        m_world.reset();
    }

    void downloadsPackageAndWritesItsFiles()
    {
        QVERIFY(query());
        QCOMPARE(m_delegate.results.size(), 1);
        QCOMPARE(m_world.server().requestTargets().value(0),
                 QStringLiteral("/versions/index?model=Pacer&ver=2.8.0.19"));
        QCOMPARE(m_world.server().requestCount(QStringLiteral("/packages/Pacer/Total.zip")), 1);
        QCOMPARE(readFile(file("Total.zip")), m_package);
        QCOMPARE(readFile(file("version.txt")), QByteArray("1.2.0"));
        QCOMPARE(QString::fromUtf8(readFile(file("note.txt"))), QStringLiteral("GPS fixes, new faces"));
        QCOMPARE(readFile(file("filename.txt")), QByteArray("Total.zip"));
        // No temporary left behind.
        QCOMPARE(folderEntries(folder()), QStringList({"Total.zip", "filename.txt", "note.txt", "version.txt"}));
        QCOMPARE(m_client->md5hash(), VHPackageServer::fileMd5(m_world.root() + QStringLiteral("/Pacer/Total.zip")));
    }

    void sameVersionAlreadyPresentIsNotDownloaded()
    {
        putOldFiles();
        writeFile(file("version.txt"), "1.2.0");
        QVERIFY(query());
        QCOMPARE(m_delegate.results.size(), 1);
        QCOMPARE(m_world.server().requestTargets().size(), 1); // the query only
        QCOMPARE(readFile(file("Total.zip")), m_oldPackage);
    }

    void versionWithLineBreakIsDownloadedAgain()
    {
        putOldFiles();
        writeFile(file("version.txt"), "1.2.0\n");
        QVERIFY(query());
        QCOMPARE(readFile(file("Total.zip")), m_package);
        QCOMPARE(readFile(file("version.txt")), QByteArray("1.2.0"));
    }

    void lastTotalEntryWins()
    {
        cannedIndex("[{\"name\":\"Total\",\"version\":\"1.0\",\"url\":\"{base}/nothing/here.zip\",\"note\":\"first\"},"
                    " 42, \"text\", null, [],"
                    " {\"name\":\"Other\",\"version\":\"9.9\",\"url\":\"{base}/other.zip\"},"
                    " {\"name\":\"Total\",\"version\":\"2.0\",\"url\":\"{base}/packages/Pacer/Total.zip\","
                    "\"note\":\"second\"}]");
        QVERIFY(query());
        QCOMPARE(m_client->version(), QStringLiteral("2.0"));
        QCOMPARE(readFile(file("version.txt")), QByteArray("2.0"));
        QCOMPARE(readFile(file("note.txt")), QByteArray("second"));
        QCOMPARE(readFile(file("Total.zip")), m_package);
        QCOMPARE(m_world.server().requestCount(QStringLiteral("/other.zip")), 0);
    }

    void numbersWhereTextsBelongAreTakenAsText()
    {
        cannedIndex("[{\"name\":\"Total\",\"version\":2,\"url\":\"{base}/packages/Pacer/"
                    "Total.zip\",\"note\":3.5,\"md5hash\":12}]");
        QVERIFY(query());
        QCOMPARE(readFile(file("version.txt")), QByteArray("2"));
        QCOMPARE(readFile(file("note.txt")), QByteArray("3.5"));
        QCOMPARE(readFile(file("Total.zip")), m_package); // "12" is no checksum to compare with
    }

    void replyWithoutUsableTotalEntry_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("Total without url") << QByteArray("[{\"name\":\"Total\",\"version\":\"3.0\",\"note\":\"n\"}]");
        QTest::newRow("Total without version")
            << QByteArray("[{\"name\":\"Total\",\"url\":\"{base}/packages/Pacer/Total.zip\"}]");
        QTest::newRow("no Total") << QByteArray("[{\"name\":\"Other\",\"version\":\"3.0\",\"url\":\"{base}/x.zip\"}]");
        QTest::newRow("empty array") << QByteArray("[]");
        QTest::newRow("object at top") << QByteArray(
            "{\"name\":\"Total\",\"version\":\"3.0\",\"url\":\"{base}/x.zip\"}");
        QTest::newRow("null document") << QByteArray("null");
    }
    void replyWithoutUsableTotalEntry()
    {
        QFETCH(QByteArray, body);
        putOldFiles();
        cannedIndex(body);
        LogWatch log;
        QVERIFY(query());
        QCOMPARE(m_delegate.results.size(), 1);
        QVERIFY(log.contains(QStringLiteral("qurey update and get empty")));
        QCOMPARE(m_world.server().requestTargets().size(), 1);
        verifyOldFilesUntouched();
    }

    void failedQueryTellsTrueAndKeepsTheFiles_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("logged"); // a line the failure must leave, when known
        QTest::newRow("empty body") << int(VHServerFault::EmptyBody) << QByteArray() << QString();
        QTest::newRow("html page") << int(VHServerFault::NonJsonBody) << QByteArray() << QString();
        QTest::newRow("cut JSON") << int(VHServerFault::None) << QByteArray("[{\"name\":\"Total\",\"version\":\"3.0\"")
                                  << QString();
        QTest::newRow("truncated transfer") << int(VHServerFault::TruncatedBody) << QByteArray() << QString();
        QTest::newRow("HTTP error") << int(VHServerFault::Http500) << QByteArray() << "http error=";
        // A damaged reply names no version: nothing of it may be stored or fetched.
        const auto total = [](const QByteArray &version) {
            return "[{\"name\":\"Total\",\"version\":\"" + version
                   + "\",\"url\":\"{base}/packages/Pacer/Total.zip\",\"note\":\"n\"}]";
        };
        const QString notUtf8 = QStringLiteral("not valid UTF-8");
        const QString unusable = QStringLiteral("unusable version");
        QTest::newRow("note not UTF-8") << 0 << "[{\"note\":\"\xff\"}," + total("3.0").mid(1) << notUtf8;
        QTest::newRow("version overlong UTF-8") << 0 << total("3.0\xc0\xae") << notUtf8;
        QTest::newRow("version raw control") << 0 << total("3.0\x01") << unusable;
        QTest::newRow("version escaped escape") << 0 << total("3.0\\u001b[2J") << unusable;
        QTest::newRow("version escaped NUL") << 0 << total("3.0\\u0000") << unusable;
        QTest::newRow("version C1 control") << 0 << total("3.0\xc2\x85") << unusable;
        QTest::newRow("version replacement char") << 0 << total("3.0\xef\xbf\xbd") << unusable;
        QTest::newRow("version escaped replacement") << 0 << total("3.0\\ufffd") << unusable;
        QTest::newRow("version lone surrogate") << 0 << total("3.0\\ud800") << unusable;
        QTest::newRow("version bidi override") << 0 << total("3.0\\u202e") << unusable;
    }
    void failedQueryTellsTrueAndKeepsTheFiles()
    {
        QFETCH(int, fault);
        QFETCH(QByteArray, body);
        QFETCH(QString, logged);
        putOldFiles();
        if (!body.isEmpty())
            cannedIndex(body);
        m_world.server().setFault(QStringLiteral("/versions/index"), VHServerFault(fault));
        LogWatch log;
        QVERIFY(query());
        QCOMPARE(m_delegate.results.size(), 1);
        QVERIFY2(!log.contains(QStringLiteral("qurey update and get empty")), qPrintable(log.text()));
        QVERIFY2(logged.isEmpty() || log.contains(logged), qPrintable(log.text()));
        QCOMPARE(m_world.server().requestTargets().size(), 1);
        QCOMPARE(m_client->version(), QString());
        QCOMPARE(m_client->outcome(), VeloraApiClient::Outcome::Failed);
        verifyOldFilesUntouched();
    }

    void failedDownloadReplacesNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");
        const QString package = QStringLiteral("/packages/Pacer/Total.zip");
        const QString index = QStringLiteral("/versions/index");
        QTest::newRow("HTTP 500") << package << int(VHServerFault::Http500) << "the package download failed: ";
        QTest::newRow("truncated body") << package << int(VHServerFault::TruncatedBody) << "the package download";
        QTest::newRow("wrong md5 in reply") << index << int(VHServerFault::WrongMd5) << "does not match its checksum";
        QTest::newRow("bytes changed on the way")
            << package << int(VHServerFault::WrongMd5) << "does not match its checksum";
        QTest::newRow("empty package") << package << int(VHServerFault::EmptyBody) << "the package download is empty";
        QTest::newRow("stalled transfer") << package << int(VHServerFault::SlowReply) << "the package download failed";
    }
    void failedDownloadReplacesNothing()
    {
        QFETCH(QString, path);
        QFETCH(int, fault);
        QFETCH(QString, reason);
        putOldFiles();
        m_world.server().setFault(path, VHServerFault(fault));
        m_world.server().setSlowPause(5000);
        newClient().setTransferTimeout(1000);
        QVERIFY(!runQuery());
        QVERIFY2(m_client->errorText().startsWith(reason) || m_client->errorText().contains(reason),
                 qPrintable(m_client->errorText()));
        QVERIFY(!m_client->serverUnreachable());
        QCOMPARE(m_delegate.results.size(), 1);
        QCOMPARE(m_world.server().requestCount(QStringLiteral("/packages/Pacer/Total.zip")), 1);
        verifyOldFilesUntouched();
    }

    void packageIsAcceptedOnlyWhole_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("withMd5");
        QTest::addColumn<bool>("whole");
        const QList<std::tuple<const char *, VHServerFault, bool>> bodies = {
            {"cut, with length", VHServerFault::TruncatedBody, false},
            {"cut, no length", VHServerFault::TruncatedNoLength, false},
            {"gzip cut", VHServerFault::GzipTruncated, false},
            {"chunked without last chunk", VHServerFault::ChunkedTruncated, false},
            {"HTML page with 200", VHServerFault::NonJsonBody, false},
            {"gzip", VHServerFault::GzipBody, true},
            {"chunked", VHServerFault::ChunkedBody, true},
        };
        for (const auto &[name, fault, whole] : bodies) {
            for (const bool withMd5 : {true, false})
                QTest::addRow("%s, %s", name, withMd5 ? "md5" : "no md5") << int(fault) << withMd5 << whole;
        }
    }
    void packageIsAcceptedOnlyWhole()
    {
        QFETCH(int, fault);
        QFETCH(bool, withMd5);
        QFETCH(bool, whole);
        putOldFiles();
        indexWithOrWithoutMd5(withMd5);
        m_world.server().setFault(packagePath(), VHServerFault(fault));
        VeloraApiClient &client = newClient();
        if (whole) {
            QVERIFY(runQuery());
            verifyPackageInstalled();
            return;
        }
        // The network stack at times waits for more of a chunked body after
        // the close; the transfer timeout then ends it.
        client.setTransferTimeout(1000);
        QVERIFY(!runQuery());
        QVERIFY(client.lastQueryFailed());
        verifyOldFilesUntouched();

        // The next good reply downloads the package again.
        m_world.server().setFault(packagePath(), VHServerFault::None);
        m_delegate.results.clear();
        QVERIFY(runQuery());
        QCOMPARE(client.outcome(), VeloraApiClient::Outcome::Answered);
        QCOMPARE(m_world.server().requestCount(packagePath()), 2);
        verifyPackageInstalled();
    }

    void packageThatIsNoZipIsRefusedEvenWithItsChecksum()
    {
        // The server's "md5hash" is that of the very file it serves: only the
        // zip check can tell that this is no package.
        const QString page = m_world.root() + QStringLiteral("/page.html");
        QVERIFY(writeFile(page, QByteArray("<html><body>Moved</body></html>\n").repeated(100)));
        QVERIFY(VHPackageServer::publish(m_world.root(), QStringLiteral("Pacer"), page, QStringLiteral("1.3.0"),
                                         QString()));
        putOldFiles();
        LogWatch log;
        const bool ok = query();
        publish(QStringLiteral("Pacer"), QStringLiteral("1.2.0"), QStringLiteral("GPS fixes, new faces"), 7);
        QVERIFY(!ok);
        QVERIFY2(log.contains(QStringLiteral("package is not a complete zip archive")), qPrintable(log.text()));
        verifyOldFilesUntouched();
    }

    void outcomeTellsFailureFromNothingNewer_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("index");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("outcome");
        const QString index = QStringLiteral("/versions/index");
        const int answered = int(VeloraApiClient::Outcome::Answered);
        const int failed = int(VeloraApiClient::Outcome::Failed);
        QTest::newRow("package downloaded") << index << 0 << QByteArray() << "0.9" << answered;
        QTest::newRow("package already there") << index << 0 << QByteArray() << "1.2.0" << answered;
        QTest::newRow("no package named") << index << 0 << QByteArray("[]") << "0.9" << answered;
        QTest::newRow("query HTTP error") << index << int(VHServerFault::Http500) << QByteArray() << "0.9" << failed;
        QTest::newRow("query reply unreadable")
            << index << int(VHServerFault::NonJsonBody) << QByteArray() << "0.9" << failed;
        QTest::newRow("query reply cut") << index << int(VHServerFault::TruncatedNoLength) << QByteArray() << "0.9"
                                         << failed;
        QTest::newRow("download failed") << packagePath() << int(VHServerFault::Http500) << QByteArray() << "0.9"
                                         << failed;
        QTest::newRow("package address unusable") << index << 0
                                                  << QByteArray("[{\"name\":\"Total\",\"version\":\"1.2.0\","
                                                                "\"url\":\"file:///etc/hostname\"}]")
                                                  << "0.9" << failed;
    }
    void outcomeTellsFailureFromNothingNewer()
    {
        QFETCH(QString, path);
        QFETCH(int, fault);
        QFETCH(QByteArray, index);
        QFETCH(QString, version);
        QFETCH(int, outcome);
        putOldFiles();
        writeFile(file("version.txt"), version.toUtf8());
        if (!index.isEmpty())
            cannedIndex(index);
        m_world.server().setFault(path, VHServerFault(fault));
        struct OutcomeAtNotice : VeloraApiClientDelegate
        {
            VeloraApiClient *client = nullptr;
            QList<VeloraApiClient::Outcome> seen;
            QThread *thread = nullptr;
            void onUpdateFinished(bool) override
            {
                seen.append(client->outcome());
                thread = QThread::currentThread();
            }
        } delegate;
        VeloraApiClient client(&delegate);
        delegate.client = &client;
        QCOMPARE(client.outcome(), VeloraApiClient::Outcome::None);
        client.queryUpdate(QStringLiteral("Pacer"), folder(), false);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.seen.size(), 1, kWaitMs);
        // Already set when the delegate is told, which happens on the client's
        // thread even when the package was put in place by a worker.
        QCOMPARE(int(delegate.seen.constFirst()), outcome);
        QCOMPARE(delegate.thread, client.thread());
        QCOMPARE(client.lastQueryFailed(), outcome == int(VeloraApiClient::Outcome::Failed));
        // A new query forgets the last outcome until it ends itself.
        client.queryUpdate(QStringLiteral("Pacer"), folder(), false);
        QCOMPARE(client.outcome(), VeloraApiClient::Outcome::None);
    }

    // Where no server answers at all, the reason names the address asked.
    void unreachableServerIsNamed_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("unreachable");
        QTest::newRow("host does not resolve") << "http://nonexistent.invalid/versions/index" << true;
        QTest::newRow("nothing listens") << "http://127.0.0.1:1/versions/index" << true;
        QTest::newRow("server answers 404") << "{base}/nothing/here" << false;
    }
    void unreachableServerIsNamed()
    {
        QFETCH(QString, base);
        QFETCH(bool, unreachable);
        base.replace(QStringLiteral("{base}"), m_world.server().baseUrl());
        m_world.setUpdateUrl(base);
        putOldFiles();
        const bool told = query();
        m_world.setLogLevel(QStringLiteral("1")); // the world's own server again
        QVERIFY(told);                            // a failed query still ends the exchange with true
        QVERIFY(m_client->lastQueryFailed());
        QCOMPARE(m_client->serverUnreachable(), unreachable);
        const QString named = QStringLiteral("the update server %1 could not be reached").arg(base);
        QCOMPARE(m_client->errorText() == named, unreachable);
        QVERIFY(m_client->errorText().startsWith(QStringLiteral("the update server ") + base));
        verifyOldFilesUntouched();
        // A successful exchange forgets the reason.
        m_delegate.results.clear();
        QVERIFY(runQuery());
        QVERIFY(m_client->errorText().isEmpty());
        QVERIFY(!m_client->serverUnreachable());
    }

    void refusedQueryCountsAsFailed()
    {
        newClient().queryUpdate(QStringLiteral(".."), m_world.updatesDir() + QStringLiteral("/.."), false);
        QTRY_COMPARE(m_delegate.results, QList<bool>{true});
        QVERIFY(m_client->lastQueryFailed());
        QVERIFY(m_client->errorText().contains(QStringLiteral("can not name a folder")));
    }

    void queryAndPackageAddressesAreLoggedByDefault()
    {
        // At the shipped log level debug lines are dropped; the addresses must
        // still be there, or a wrong server setting cannot be told from the log.
        bool ok = false;
        const QString text = m_world.logAtShippedLevel([&] { return query(); }, ok);
        QVERIFY(ok);
        QVERIFY2(text.contains(m_world.server().updateUrl() + QStringLiteral("?model=Pacer&ver=2.8.0.19")),
                 qPrintable(text));
        QVERIFY2(text.contains(m_world.server().baseUrl() + packagePath()), qPrintable(text));
    }

    void clientDestroyedAsThePackageArrivesLeavesOneWholeState()
    {
        putOldFiles();
        newClient().queryUpdate(QStringLiteral("Pacer"), folder(), false);
        // Until every byte is on disk, then let the client go at once,
        // most likely while the package is being put in place.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(file("Total.zip.part")).size() == m_package.size()
                                     || QFileInfo(file("Total.zip")).size() == m_package.size(),
                                 kWaitMs);
        m_client.reset();
        const qsizetype told = m_delegate.results.size();
        QTest::qWait(200);
        QCOMPARE(m_delegate.results.size(), told); // nothing arrives for a client that is gone
        QVERIFY(!QFileInfo::exists(file("Total.zip.part")));
        const QByteArray version = readFile(file("version.txt"));
        if (version == "1.2.0")
            QCOMPARE(readFile(file("Total.zip")), m_package);
        else
            QVERIFY(version.isEmpty() || version == "0.9");
        if (version == "0.9")
            QCOMPARE(readFile(file("Total.zip")), m_oldPackage);
    }

    void failedReplacementLeavesNoVersion()
    {
        // "Total.zip" cannot be replaced (a folder is in the way): the old
        // version must not be left claiming a package that is not there.
        writeFile(file("version.txt"), "0.9");
        QVERIFY(QDir().mkpath(file("Total.zip") + QStringLiteral("/in-the-way")));
        QVERIFY(!query());
        QVERIFY(!QFileInfo::exists(file("version.txt")));
        QVERIFY(!QFileInfo::exists(file("Total.zip.part")));
        QVERIFY(QFileInfo(file("Total.zip")).isDir());
    }

    void checksumIsComparedWithoutRegardToCase()
    {
        const QString md5 = VHPackageServer::fileMd5(m_world.root() + QStringLiteral("/Pacer/Total.zip")).toUpper();
        cannedIndex(
            "[{\"name\":\"Total\",\"version\":\"1.2.0\",\"url\":\"{base}/packages/Pacer/Total.zip\",\"md5hash\":\""
            + md5.toLatin1() + "\"}]");
        QVERIFY(query());
        QCOMPARE(readFile(file("Total.zip")), m_package);
    }

    void packageAddresses_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<bool>("downloaded");
        QTest::newRow("relative to the service") << QByteArray("/packages/Pacer/Total.zip") << true;
        QTest::newRow("local file") << QByteArray("file:///etc/hostname") << false;
        QTest::newRow("other scheme") << QByteArray("ftp://127.0.0.1/Total.zip") << false;
    }
    void packageAddresses()
    {
        QFETCH(QByteArray, url);
        QFETCH(bool, downloaded);
        putOldFiles();
        cannedIndex("[{\"name\":\"Total\",\"version\":\"1.2.0\",\"url\":\"" + url + "\"}]");
        QCOMPARE(query(), downloaded);
        if (downloaded)
            QCOMPARE(readFile(file("Total.zip")), m_package);
        else
            verifyOldFilesUntouched();
    }

    void unsafeModelIsNotQueried_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("folderName");
        QTest::newRow("climbing model") << "../../x"
                                        << "../../x";
        QTest::newRow("dot dot") << ".."
                                 << "..";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("safe model, unsafe folder") << "Pacer"
                                                   << "Pacer/..";
    }
    void unsafeModelIsNotQueried()
    {
        QFETCH(QString, model);
        QFETCH(QString, folderName);
        LogWatch log;
        newClient().queryUpdate(model, m_world.updatesDir() + QLatin1Char('/') + folderName, false);
        QVERIFY(m_delegate.results.isEmpty()); // told later, from the event loop, as after a real query
        QTRY_COMPARE(m_delegate.results, QList<bool>{true});
        QTest::qWait(100);
        QCOMPARE(m_delegate.results.size(), 1);
        QVERIFY(m_world.server().requestTargets().isEmpty());
        QVERIFY(log.contains(QStringLiteral("model name is not a safe folder name")));
        QVERIFY(!QFileInfo::exists(VHEnv::instance()->dataFolder() + QStringLiteral("/x")));
    }

    void nonAsciiModelIsPercentEncoded()
    {
        const QString model = QStringLiteral("L\u00e4ufer+1 &x");
        const QByteArray package = publish(model, QStringLiteral("5.0"), QString(), 11);
        QVERIFY(query(model));
        QCOMPARE(m_world.server().requestTargets().value(0),
                 QStringLiteral("/versions/index?model=L%C3%A4ufer%2B1%20%26x&ver=2.8.0.19"));
        QCOMPARE(readFile(file("Total.zip", model)), package);
        QCOMPARE(readFile(file("version.txt", model)), QByteArray("5.0"));
    }

    void betaQueriesTheBetaEndpoint()
    {
        QVERIFY(query(QStringLiteral("Pacer"), true));
        QCOMPARE(m_world.server().requestTargets().value(0),
                 QStringLiteral("/beta/versions/index?model=Pacer&ver=2.8.0.19"));
        QCOMPARE(m_world.server().requestCount(QStringLiteral("/versions/index")), 0);
        QCOMPARE(readFile(file("version.txt")), QByteArray("1.2.0"));
    }

    void newQueryAbandonsTheRunningDownload()
    {
        const QByteArray other = publish(QStringLiteral("Other"), QStringLiteral("7.0"), QString(), 13);
        m_world.server().setFault(QStringLiteral("/packages/Pacer/Total.zip"), VHServerFault::SlowReply);
        m_world.server().setSlowPause(1500);
        newClient().queryUpdate(QStringLiteral("Pacer"), folder(), false);
        QTRY_COMPARE(m_world.server().requestCount(QStringLiteral("/packages/Pacer/Total.zip")), 1);
        QVERIFY(m_delegate.results.isEmpty());
        QVERIFY(runQuery(QStringLiteral("Other")));
        QTest::qWait(2000); // past the stall of the first package
        QCOMPARE(m_delegate.results, QList<bool>{true});
        QCOMPARE(readFile(file("Total.zip", QStringLiteral("Other"))), other);
        // The abandoned package left neither a partial file nor a version.
        QVERIFY(folderEntries(folder()).isEmpty());
    }

    void oversizedQueryReplyIsNotRead()
    {
        putOldFiles();
        QByteArray body =
            "[{\"name\":\"Total\",\"version\":\"9\",\"url\":\"{base}/packages/Pacer/Total.zip\",\"note\":\"";
        body += QByteArray(VeloraApiClient::kMaxQueryReplySize, 'n');
        body += "\"}]";
        cannedIndex(body);
        QVERIFY(query());
        QCOMPARE(m_world.server().requestCount(QStringLiteral("/packages/Pacer/Total.zip")), 0);
        verifyOldFilesUntouched();
    }

    void destroyingTheClientMidDownloadLeavesNoPartialFile()
    {
        m_world.server().setFault(QStringLiteral("/packages/Pacer/Total.zip"), VHServerFault::SlowReply);
        newClient().queryUpdate(QStringLiteral("Pacer"), folder(), false);
        QTRY_COMPARE(m_world.server().requestCount(QStringLiteral("/packages/Pacer/Total.zip")), 1);
        QTRY_VERIFY(QFileInfo::exists(file("Total.zip.part")));
        m_client.reset();
        QVERIFY(m_delegate.results.isEmpty());
        QVERIFY(folderEntries(folder()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVeloraApiClient)
#include "tst_VeloraApiClient.moc"
