#include "NetTestSupport.h"
#include "VHFitPackageBuilder.h"
#include "VHPackageSignature.h"
#include "VHRestoreFetcher.h"
#include "VHTestSigning.h"
#include "VHTrustedKeys.h"
#include "VeloraApiClient.h"

#include <QSignalSpy>
#include <QTest>

using namespace VHMinisign;

namespace {

struct RecordingDelegate : VeloraApiClientDelegate
{
    QList<bool> results;
    void onUpdateFinished(bool ok) override { results.append(ok); }
};

// How a row spoils the package or signature the server offers.
enum class Spoil { None, Legacy, PackageByte, OtherKey, Missing, Truncated, OtherFile, TrustedComment, Oversized };
// The "signature" setting of a row, and whether our key is installed.
enum class Policy { Unset, Off, Required };

constexpr int kWaitMs = 20000;

} // namespace

class TestSignedDownload : public QObject
{
    Q_OBJECT

    NetTestWorld m_world;
    QTemporaryDir m_keys;
    std::unique_ptr<VHTestSigning> m_signing;
    std::unique_ptr<VHTestSigning> m_stranger;
    QByteArray m_package;
    RecordingDelegate m_delegate;

    QString served() const { return m_world.root() + QStringLiteral("/Pacer/Total.zip"); }
    QString folder() const { return m_world.modelDir(QStringLiteral("Pacer")); }
    QString file(const QString &name) const { return folder() + QLatin1Char('/') + name; }

    void offer(Spoil spoil)
    {
        QVERIFY(writeFile(served(), m_package));
        QFile::remove(served() + kSignatureSuffix);
        const QString other = m_world.root() + QStringLiteral("/other.zip");
        QVERIFY(writeFile(other, m_package + "tail"));
        switch (spoil) {
        case Spoil::None:
        case Spoil::PackageByte:
        case Spoil::Truncated:
        case Spoil::TrustedComment:
            QVERIFY(m_signing->sign(served(), QStringLiteral("release 1.2.0")));
            break;
        case Spoil::Legacy:
            QVERIFY(m_signing->sign(served(), QStringLiteral("release 1.2.0"), true));
            break;
        case Spoil::OtherKey:
            QVERIFY(m_stranger->sign(served()));
            break;
        case Spoil::OtherFile:
            QVERIFY(m_signing->sign(other));
            QVERIFY(QFile::copy(other + kSignatureSuffix, served() + kSignatureSuffix));
            break;
        case Spoil::Oversized:
            QVERIFY(writeFile(served() + kSignatureSuffix, QByteArray(5000, 'A')));
            break;
        case Spoil::Missing:
            break;
        }
        const QByteArray signature = readFile(served() + kSignatureSuffix);
        if (spoil == Spoil::PackageByte) {
            QByteArray changed = m_package;
            changed[changed.size() / 3] = char(changed[changed.size() / 3] ^ 0x10);
            QVERIFY(writeFile(served(), changed)); // the index's MD5 follows the file: only the signature differs
        }
        if (spoil == Spoil::Truncated)
            QVERIFY(writeFile(served() + kSignatureSuffix, signature.left(signature.size() / 2)));
        if (spoil == Spoil::TrustedComment)
            QVERIFY(writeFile(served() + kSignatureSuffix, QByteArray(signature).replace("1.2.0", "9.9.9")));
    }

    void setPolicy(Policy policy, bool keyInstalled)
    {
        qputenv("VELORA_KEYS_DIR",
                (keyInstalled ? m_signing->keysFolder() : m_keys.filePath(QStringLiteral("none"))).toUtf8());
        const char *setting = policy == Policy::Off ? "off" : policy == Policy::Required ? "required" : "";
        VHEnv::instance()->overrideSetting(QStringLiteral("signature"), QString::fromLatin1(setting));
    }

    void putOldFiles()
    {
        QVERIFY(writeFile(file(QStringLiteral("Total.zip")), "an older package"));
        QVERIFY(writeFile(file(QStringLiteral("Total.zip.minisig")), "the older package's signature"));
        QVERIFY(writeFile(file(QStringLiteral("version.txt")), "0.9"));
    }

    bool query()
    {
        m_delegate.results.clear();
        VeloraApiClient client(&m_delegate);
        client.queryUpdate(QStringLiteral("Pacer"), folder(), false);
        if (!QTest::qWaitFor([&] { return !m_delegate.results.isEmpty(); }, kWaitMs))
            qFatal("the exchange did not end");
        m_errorText = client.errorText();
        return m_delegate.results.constFirst();
    }
    QString m_errorText;

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.start());
        m_signing = std::make_unique<VHTestSigning>(m_keys.filePath(QStringLiteral("ours")));
        m_stranger = std::make_unique<VHTestSigning>(m_keys.filePath(QStringLiteral("stranger")));
        QVERIFY(m_signing->isValid() && m_stranger->isValid());
        qputenv("XDG_CONFIG_HOME", m_keys.filePath(QStringLiteral("config")).toUtf8());
        VHFitPackageBuilder::Options options;
        options.model = QStringLiteral("Pacer");
        const QString zip = m_world.root() + QStringLiteral("/build.zip");
        QString error;
        QVERIFY2(VHFitPackageBuilder::writePackage(zip, options, &error), qPrintable(error));
        QVERIFY2(VHPackageServer::publish(m_world.root(), options.model, zip, QStringLiteral("1.2.0"),
                                          QStringLiteral("note"), &error),
                 qPrintable(error));
        m_package = readFile(zip);
    }

    void init() { m_world.reset(); }

    void cleanupTestCase() { VHEnv::instance()->overrideSetting(QStringLiteral("signature"), QString()); }

    void packageIsKeptOnlyWithAGoodSignature_data()
    {
        QTest::addColumn<Spoil>("spoil");
        QTest::addColumn<Policy>("policy");
        QTest::addColumn<bool>("keyInstalled");
        QTest::addColumn<QString>("reason"); // empty: the package is kept
        QTest::newRow("ED good") << Spoil::None << Policy::Unset << true << QString();
        QTest::newRow("Ed good") << Spoil::Legacy << Policy::Unset << true << QString();
        QTest::newRow("package changed by one byte") << Spoil::PackageByte << Policy::Unset << true << mismatchText();
        QTest::newRow("another key") << Spoil::OtherKey << Policy::Unset << true
                                     << unknownKeyText().arg(keyIdText(m_stranger->key().keyId));
        QTest::newRow("missing") << Spoil::Missing << Policy::Unset << true << notSignedText();
        QTest::newRow("truncated") << Spoil::Truncated << Policy::Unset << true << damagedText();
        QTest::newRow("over 4 KiB") << Spoil::Oversized << Policy::Unset << true << damagedText();
        QTest::newRow("another file's") << Spoil::OtherFile << Policy::Unset << true << mismatchText();
        QTest::newRow("trusted comment changed")
            << Spoil::TrustedComment << Policy::Unset << true << commentChangedText();
        // The policy: unset without a key checks nothing, "off" checks nothing even with a key.
        QTest::newRow("unset, no key, unsigned") << Spoil::Missing << Policy::Unset << false << QString();
        QTest::newRow("off, key, unsigned") << Spoil::Missing << Policy::Off << true << QString();
        QTest::newRow("off, key, changed") << Spoil::PackageByte << Policy::Off << true << QString();
        QTest::newRow("required, no key")
            << Spoil::None << Policy::Required << false << unknownKeyText().arg(keyIdText(m_signing->key().keyId));
    }
    void packageIsKeptOnlyWithAGoodSignature()
    {
        QFETCH(Spoil, spoil);
        QFETCH(Policy, policy);
        QFETCH(bool, keyInstalled);
        QFETCH(QString, reason);
        offer(spoil);
        setPolicy(policy, keyInstalled);
        putOldFiles();
        const QString signaturePath = QStringLiteral("/packages/Pacer/Total.zip.minisig");
        const bool checked = policy == Policy::Required || (policy == Policy::Unset && keyInstalled);
        QCOMPARE(query(), reason.isEmpty());
        QCOMPARE(m_errorText, reason);
        QCOMPARE(m_world.server().requestCount(signaturePath), checked ? 1 : 0);
        if (!reason.isEmpty()) {
            // Refused: the old package, its signature and version stay.
            QCOMPARE(readFile(file(QStringLiteral("Total.zip"))), QByteArray("an older package"));
            QCOMPARE(readFile(file(QStringLiteral("Total.zip.minisig"))), QByteArray("the older package's signature"));
            QCOMPARE(readFile(file(QStringLiteral("version.txt"))), QByteArray("0.9"));
            QCOMPARE(folderEntries(folder()), QStringList({"Total.zip", "Total.zip.minisig", "version.txt"}));
            return;
        }
        QCOMPARE(readFile(file(QStringLiteral("Total.zip"))), readFile(served()));
        QCOMPARE(readFile(file(QStringLiteral("version.txt"))), QByteArray("1.2.0"));
        // Committed with its signature; an unchecked package leaves no old signature beside it.
        QCOMPARE(QFileInfo::exists(file(QStringLiteral("Total.zip.minisig"))), checked);
        if (checked)
            QCOMPARE(readFile(file(QStringLiteral("Total.zip.minisig"))), readFile(served() + kSignatureSuffix));
    }

    // The restore files come the same way; their folder is checked through the archive kept beside it.
    void restoreFilesAreUnpackedOnlyWithAGoodSignature_data()
    {
        QTest::addColumn<Spoil>("spoil");
        QTest::addColumn<QString>("reason");
        QTest::newRow("good") << Spoil::None << QString();
        QTest::newRow("another key") << Spoil::OtherKey << unknownKeyText().arg(keyIdText(m_stranger->key().keyId));
        QTest::newRow("missing") << Spoil::Missing << notSignedText();
    }
    void restoreFilesAreUnpackedOnlyWithAGoodSignature()
    {
        QFETCH(Spoil, spoil);
        QFETCH(QString, reason);
        setPolicy(Policy::Unset, true);
        const QString archive = m_world.root() + QStringLiteral("/restore-source.zip");
        QVERIFY(VHFitPackageBuilder::writeArchive(archive, {{QStringLiteral("LINDEN.bin"), "image"}}, true));
        QVERIFY(
            VHPackageServer::publishRestore(m_world.root(), QStringLiteral("Pacer"), archive, QStringLiteral("R1")));
        const QString served = m_world.root() + QStringLiteral("/Pacer/restore.zip");
        QFile::remove(served + kSignatureSuffix);
        if (spoil != Spoil::Missing)
            QVERIFY((spoil == Spoil::OtherKey ? m_stranger : m_signing)->sign(served));
        QVERIFY(writeFile(folder() + QStringLiteral("/restore/old.bin"), "old"));
        VHRestoreFetcher fetcher;
        QSignalSpy finished(&fetcher, &VHRestoreFetcher::finished);
        fetcher.fetch(QUrl(m_world.server().baseUrl() + QStringLiteral("/packages/Pacer/restore.zip")), QString(),
                      QStringLiteral("R1"), folder());
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(fetcher.errorText(), reason);
        const QString restore = folder() + QStringLiteral("/restore");
        QCOMPARE(QFileInfo::exists(restore + QStringLiteral("/old.bin")), !reason.isEmpty());
        if (!reason.isEmpty())
            return;
        const VHTrustedKeys keys = VHTrustedKeys::load();
        QVERIFY(VHPackageSignature::check(restore, keys).ok);
        // A file changed in the unpacked folder no longer matches the signed archive.
        QVERIFY(writeFile(restore + QStringLiteral("/LINDEN.bin"), "swapped"));
        QCOMPARE(VHPackageSignature::check(restore, keys).reason, mismatchText());
    }
};

QTEST_GUILESS_MAIN(TestSignedDownload)
#include "tst_SignedDownload.moc"
