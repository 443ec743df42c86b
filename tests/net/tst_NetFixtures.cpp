#include "NetTestSupport.h"
#include "VHFitPackageBuilder.h"
#include "VHTestProcess.h"
#include "VHTestSigning.h"
#include "VHTrustedKeys.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QTcpSocket>
#include <QTest>

#include <zip.h>

namespace {

// Entry names and contents of a zip file, read with libzip.
struct ZipContents
{
    bool opened = false;
    QMap<QString, QByteArray> files;
    QStringList names;
};

ZipContents readZip(const QByteArray &bytes)
{
    ZipContents contents;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(bytes.constData(), zip_uint64_t(bytes.size()), 0, &error);
    zip_t *archive = source ? zip_open_from_source(source, ZIP_CHECKCONS, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        if (source)
            zip_source_free(source);
        return contents;
    }
    contents.opened = true;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        const QString name = QString::fromUtf8(zip_get_name(archive, zip_uint64_t(i), 0));
        contents.names.append(name);
        zip_stat_t stat;
        zip_file_t *file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (!file || zip_stat_index(archive, zip_uint64_t(i), 0, &stat) != 0)
            continue;
        QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
        const zip_int64_t read = zip_fread(file, data.data(), stat.size);
        zip_fclose(file);
        if (read == zip_int64_t(stat.size))
            contents.files.insert(name, data);
    }
    zip_close(archive);
    return contents;
}

} // namespace

class TestNetFixtures : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    NetTestWorld m_world;

    QByteArray build(const VHFitPackageBuilder::Options &options, const QString &name = QStringLiteral("pkg.zip"))
    {
        const QString path = m_dir.filePath(name);
        QString error;
        if (!VHFitPackageBuilder::writePackage(path, options, &error))
            qWarning("writePackage: %s", qPrintable(error));
        return readFile(path);
    }

    int get(const QString &target, QByteArray *body = nullptr)
    {
        QNetworkAccessManager network;
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(m_world.server().baseUrl() + target)));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
            return -1;
        if (body)
            *body = reply->readAll();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        delete reply;
        return status;
    }

    // The whole reply as it goes over the wire, up to the server's close.
    QByteArray rawGet(const QString &target)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_world.server().port());
        if (!socket.waitForConnected(5000))
            return {};
        socket.write("GET " + target.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray reply;
        const bool closed = QTest::qWaitFor(
            [&] {
                reply += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            10000);
        return closed ? reply + socket.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { QVERIFY(m_world.start()); }
    void init() { m_world.reset(); }

    void packageHoldsReleaseIniAndImages()
    {
        VHFitPackageBuilder::Options options;
        options.model = QStringLiteral("Pacer");
        const ZipContents zip = readZip(build(options));
        QVERIFY(zip.opened);
        QVERIFY(
            writeFile(m_dir.filePath(QStringLiteral("release.ini")), zip.files.value(QStringLiteral("release.ini"))));
        QSettings ini(m_dir.filePath(QStringLiteral("release.ini")), QSettings::IniFormat);
        QStringList groups = ini.childGroups();
        groups.sort();
        QCOMPARE(groups,
                 QStringList({"Bluetooth", "BootLoader", "DeviceLang", "MODEL", "NotificationLang", "OS", "TimeZone"}));
        QCOMPARE(ini.value(QStringLiteral("MODEL/Name")).toString(), QStringLiteral("Pacer"));
        QSet<qint64> sizes;
        for (const VHFitPackageBuilder::Image &image : VHFitPackageBuilder::defaultImages()) {
            QCOMPARE(ini.value(image.kind + QStringLiteral("/Name")).toString(), image.name);
            QCOMPARE(ini.value(image.kind + QStringLiteral("/Version")).toString(), image.version);
            QCOMPARE(zip.files.value(image.name),
                     VHFitPackageBuilder::contentFor(image.name, image.size, options.seed));
            sizes.insert(image.size);
        }
        QVERIFY(sizes.size() >= 5);
        QVERIFY(!zip.names.contains(QStringLiteral("workout.zip")));
    }

    void contentIsDeterministicPerSeed()
    {
        VHFitPackageBuilder::Options options;
        const QByteArray first = build(options, QStringLiteral("a.zip"));
        QCOMPARE(build(options, QStringLiteral("b.zip")), first);
        options.seed = 2;
        QVERIFY(build(options, QStringLiteral("c.zip")) != first);
        const QByteArray os = VHFitPackageBuilder::contentFor(QStringLiteral("os.bin"), 4096, 1);
        QVERIFY(os != VHFitPackageBuilder::contentFor(QStringLiteral("bt.bin"), 4096, 1));
        QVERIFY(qCompress(os).size() > os.size()); // not compressible: pseudo-random, not a pattern
    }

    void workoutsSitInTheirFolders()
    {
        VHFitPackageBuilder::Options options;
        options.withWorkouts = true;
        const ZipContents outer = readZip(build(options));
        const ZipContents workouts = readZip(outer.files.value(QStringLiteral("workout.zip")));
        QVERIFY(workouts.opened);
        QVERIFY(workouts.names.contains(QStringLiteral("Velorawrk/")));
        QVERIFY(workouts.names.contains(QStringLiteral("Test/")));
        int wkt = 0;
        for (const QString &name : workouts.names) {
            if (name.endsWith(QLatin1String(".wkt"))) {
                ++wkt;
                QVERIFY(name.startsWith(QLatin1String("Velorawrk/")) || name.startsWith(QLatin1String("Test/")));
                QVERIFY(!workouts.files.value(name).isEmpty());
            }
        }
        QVERIFY(wkt >= 3);
    }

    void brokenVariants()
    {
        VHFitPackageBuilder::Options options;
        options.withReleaseIni = false;
        options.zipSlipEntry = true;
        const ZipContents slip = readZip(build(options));
        QVERIFY(slip.opened);
        QVERIFY(!slip.names.contains(QStringLiteral("release.ini")));
        QVERIFY(slip.names.contains(QStringLiteral("../escaped.bin")));
        QVERIFY(slip.names.contains(QStringLiteral("/absolute.bin")));

        VHFitPackageBuilder::Options cut;
        cut.truncated = true;
        const QByteArray whole = build(VHFitPackageBuilder::Options(), QStringLiteral("whole.zip"));
        const QByteArray truncated = build(cut, QStringLiteral("cut.zip"));
        QVERIFY(truncated.size() < whole.size());
        QVERIFY(whole.startsWith(truncated));
        QVERIFY(!readZip(truncated).opened);
    }

    void serverFaultsFromAControlFile()
    {
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/current_14d.alp"), "alp"));
        const QString control = m_dir.filePath(QStringLiteral("control.txt"));
        m_world.server().setControlFile(control);
        QVERIFY(writeFile(control, "# faults\n/current_14d.alp   http500\n/other nonjson\n"));
        QCOMPARE(get(QStringLiteral("/current_14d.alp")), 500);
        QVERIFY(writeFile(control, "/current_14d.alp none\n"));
        QByteArray body;
        QCOMPARE(get(QStringLiteral("/current_14d.alp"), &body), 200);
        QCOMPARE(body, QByteArray("alp"));
        m_world.server().setControlFile(QString());
    }

    void serverServesOnlyWhatIsInsideItsRoot_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("climbing package path") << "/packages/../secret.txt";
        QTest::newRow("encoded climbing") << "/packages/%2E%2E/secret.txt";
        QTest::newRow("encoded slash in model") << "/packages/Pacer%2F..%2F../secret.txt";
        QTest::newRow("unknown path") << "/secret.txt";
        QTest::newRow("alp outside the pattern") << "/current_x.alp";
    }
    void serverServesOnlyWhatIsInsideItsRoot()
    {
        QFETCH(QString, target);
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/secret.txt"), "secret"));
        QByteArray body;
        QCOMPARE(get(target, &body), 404);
        QVERIFY(!body.contains("secret\n") && body != "secret");
    }

    void encodingFaultsPutWhatTheyClaimOnTheWire_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("header"); // a header the reply must carry
        QTest::addColumn<bool>("hasLength");    // Content-Length announced
        QTest::addColumn<bool>("whole");        // the body (or its last chunk) all there
        QTest::newRow("cut without length") << int(VHServerFault::TruncatedNoLength) << QByteArray() << false << false;
        QTest::newRow("gzip") << int(VHServerFault::GzipBody) << QByteArray("Content-Encoding: gzip") << true << true;
        QTest::newRow("gzip cut") << int(VHServerFault::GzipTruncated) << QByteArray("Content-Encoding: gzip") << false
                                  << false;
        QTest::newRow("chunked") << int(VHServerFault::ChunkedBody) << QByteArray("Transfer-Encoding: chunked") << false
                                 << true;
        QTest::newRow("chunked cut") << int(VHServerFault::ChunkedTruncated) << QByteArray("Transfer-Encoding: chunked")
                                     << false << false;
    }
    void encodingFaultsPutWhatTheyClaimOnTheWire()
    {
        QFETCH(int, fault);
        QFETCH(QByteArray, header);
        QFETCH(bool, hasLength);
        QFETCH(bool, whole);
        const QByteArray data = QByteArray("assist data ").repeated(5000);
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/current_14d.alp"), data));
        m_world.server().setFault(QStringLiteral("/current_14d.alp"), VHServerFault(fault));
        const QByteArray reply = rawGet(QStringLiteral("/current_14d.alp"));
        const qsizetype split = reply.indexOf("\r\n\r\n");
        QVERIFY(split > 0);
        const QByteArray head = reply.left(split);
        const QByteArray body = reply.mid(split + 4);
        QVERIFY(head.startsWith("HTTP/1.1 200 OK"));
        if (!header.isEmpty())
            QVERIFY2(head.contains(header), head.constData());
        QCOMPARE(head.contains("Content-Length:"), hasLength);
        if (header.startsWith("Transfer-Encoding")) {
            QCOMPARE(body.endsWith("\r\n0\r\n\r\n"), whole);
            QVERIFY(body.size() > (whole ? data.size() : data.size() / 2));
        } else if (header.startsWith("Content-Encoding")) {
            QVERIFY(body.startsWith("\x1f\x8b"));   // the gzip magic
            QVERIFY(body.size() < data.size() / 4); // it compresses well, so it really is encoded
        } else {
            QCOMPARE(body, data.left(data.size() / 2));
        }
    }

    // velora-pkgserver --publish --sign-key: the ".minisig" beside the package holds with the key's public half.
    // Published without a key, or with a file that is no secret key, there is no signature (404), not even one
    // left from an earlier signed publish that no longer matches.
    void publishSignsWithTheSigningKey_data()
    {
        QTest::addColumn<bool>("signedBefore"); // an earlier publish of the model was signed
        QTest::addColumn<QString>("keyFile");   // "secret", "public" (no secret key) or "" (none)
        QTest::addColumn<int>("exitCode");
        QTest::newRow("signed") << false << "secret" << 0;
        QTest::newRow("unsigned") << false << "" << 0;
        QTest::newRow("unsigned over signed") << true << "" << 0;
        QTest::newRow("signed over signed") << true << "secret" << 0;
        QTest::newRow("public key given") << false << "public" << 2;
    }
    void publishSignsWithTheSigningKey()
    {
        QFETCH(bool, signedBefore);
        QFETCH(QString, keyFile);
        QFETCH(int, exitCode);
        const VHTestSigning key(m_dir.filePath(QStringLiteral("signing")));
        VHFitPackageBuilder::Options options;
        options.model = QString(QStringLiteral("Signed") + QTest::currentDataTag()).remove(QLatin1Char(' '));
        const auto publish = [&](const QString &keyPath, int seed) {
            options.seed = seed;
            build(options, QStringLiteral("publish.zip"));
            QStringList arguments{"--root",  m_world.root(), "--publish", m_dir.filePath(QStringLiteral("publish.zip")),
                                  "--model", options.model,  "--version", "1.0"};
            if (!keyPath.isEmpty())
                arguments << "--sign-key" << keyPath;
            return runTestProgram(QStringLiteral(PKGSERVER_PROGRAM), arguments).code;
        };
        if (signedBefore)
            QCOMPARE(publish(key.secretKeyPath(), 1), 0);
        const QString keyPath = keyFile == QLatin1String("secret")   ? key.secretKeyPath()
                                : keyFile == QLatin1String("public") ? key.publicKeyPath()
                                                                     : QString();
        QCOMPARE(publish(keyPath, 2), exitCode);
        QByteArray signature;
        const QString package = QStringLiteral("/packages/%1/Total.zip").arg(options.model);
        QCOMPARE(get(package + VHMinisign::kSignatureSuffix, &signature),
                 keyFile == QLatin1String("secret") ? 200 : 404);
        if (keyFile == QLatin1String("secret")) {
            const VHResult verified = VHMinisign::verifyFile(m_world.root() + package.mid(9), signature,
                                                             VHTrustedKeys::load({key.keysFolder()}));
            QVERIFY2(verified, qPrintable(verified.reason));
        }
    }

    void faultNamesRoundTrip()
    {
        for (VHServerFault fault :
             {VHServerFault::None, VHServerFault::Http500, VHServerFault::TruncatedBody, VHServerFault::WrongMd5,
              VHServerFault::SlowReply, VHServerFault::EmptyBody, VHServerFault::NonJsonBody,
              VHServerFault::TruncatedNoLength, VHServerFault::GzipBody, VHServerFault::GzipTruncated,
              VHServerFault::ChunkedBody, VHServerFault::ChunkedTruncated})
            QCOMPARE(faultFromName(faultName(fault)), std::optional<VHServerFault>(fault));
        QVERIFY(!faultFromName(QStringLiteral("sometimes")));
    }
};

QTEST_GUILESS_MAIN(TestNetFixtures)
#include "tst_NetFixtures.moc"
