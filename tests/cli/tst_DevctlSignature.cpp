// velora-devctl and signed packages: a package swapped in the updates folder
// after its download, and local files without a signature, are refused before
// the device is touched; --allow-unsigned lets an unsigned one through.

#include "VHMinisign.h"
#include "VHTestDevctlRoad.h"
#include "VHTestFiles.h"
#include "VHTestSigning.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace VHMinisign;

namespace {

using Run = VHTestRun;

enum class Spoil { PackageSwapped, SignatureRemoved, SignatureTruncated, OtherKey };

} // namespace

class TestDevctlSignature : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<VHFitRoad> m_road;
    std::unique_ptr<VHTestSigning> m_stranger;

    Run devctl(const QStringList &arguments) { return runDevctl(m_road->simRoot(), arguments); }
    QString downloaded() const { return m_road->modelFolder() + QStringLiteral("/Total.zip"); }
    QString volume() const { return m_road->volumePath(); }

    // Refused with "not authentic" and its reason; the device as it was.
    void verifyRefused(const QStringList &arguments, const QString &reason)
    {
        const QStringList before = treeOf(volume(), TreeDetail::WithHashes);
        const Run run = devctl(arguments + QStringList{"--json"});
        QCOMPARE(run.code, 1);
        QCOMPARE(run.json.value(QStringLiteral("errorCode")).toInt(), kNotAuthentic);
        QCOMPARE(run.json.value(QStringLiteral("errorText")).toString(), reason);
        QCOMPARE(treeOf(volume(), TreeDetail::WithHashes), before);
    }

private slots:
    void initTestCase()
    {
        const QString failed = startDevctlRoad(m_road, m_work, true);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_stranger = std::make_unique<VHTestSigning>(m_work.filePath(QStringLiteral("stranger")));
        // Downloaded and checked once; the signature stays beside the package.
        const Run check = devctl({"check"});
        QVERIFY2(check.code == 0, check.err.constData());
        QVERIFY(QFileInfo::exists(downloaded() + kSignatureSuffix));
    }

    void swappedPackageIsRefusedBeforeTheDevice_data()
    {
        QTest::addColumn<Spoil>("spoil");
        QTest::addColumn<QString>("reason");
        QTest::newRow("package swapped") << Spoil::PackageSwapped << mismatchText();
        QTest::newRow("signature removed") << Spoil::SignatureRemoved << notSignedText();
        QTest::newRow("signature truncated") << Spoil::SignatureTruncated << damagedText();
        QTest::newRow("signed by another key")
            << Spoil::OtherKey << unknownKeyText().arg(keyIdText(m_stranger->key().keyId));
    }
    void swappedPackageIsRefusedBeforeTheDevice()
    {
        QFETCH(Spoil, spoil);
        QFETCH(QString, reason);
        const QByteArray package = readFile(downloaded());
        const QByteArray signature = readFile(downloaded() + kSignatureSuffix);
        VHFitPackageBuilder::Options other = m_road->options().package;
        other.seed = 991;
        if (spoil == Spoil::PackageSwapped)
            QVERIFY(VHFitPackageBuilder::writePackage(downloaded(), other));
        if (spoil == Spoil::SignatureRemoved)
            QVERIFY(QFile::remove(downloaded() + kSignatureSuffix));
        if (spoil == Spoil::SignatureTruncated)
            QVERIFY(writeFile(downloaded() + kSignatureSuffix, signature.left(100)));
        if (spoil == Spoil::OtherKey)
            QVERIFY(m_stranger->sign(downloaded()));
        verifyRefused({"update"}, reason);
        QVERIFY(writeFile(downloaded(), package));
        QVERIFY(writeFile(downloaded() + kSignatureSuffix, signature));
    }

    void localUnsignedInputIsRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString local = m_work.filePath(QStringLiteral("local.zip"));
        QVERIFY(QFile::copy(m_road->packagePath(), local));
        QTest::newRow("update FILE") << QStringList{"update", local};
        QTest::newRow("restore FOLDER") << QStringList{"restore", volume()};
        QTest::newRow("update FILE, the signature of another file")
            << QStringList{"update", m_work.filePath(QStringLiteral("other.zip"))};
        VHFitPackageBuilder::Options other = m_road->options().package;
        other.seed = 992;
        QVERIFY(VHFitPackageBuilder::writePackage(m_work.filePath(QStringLiteral("other.zip")), other));
        QVERIFY(
            writeFile(m_work.filePath(QStringLiteral("other.zip.minisig")), readFile(downloaded() + kSignatureSuffix)));
    }
    void localUnsignedInputIsRefused()
    {
        QFETCH(QStringList, arguments);
        const bool signedElsewhere = arguments.last().endsWith(QLatin1String("other.zip"));
        // The downloaded package's signature, beside a copy of a different file, does not match it.
        verifyRefused(arguments, signedElsewhere ? mismatchText() : notSignedText());
    }

    void signedLocalFileIsWrittenAndItsCommentRecorded()
    {
        const QString local = m_work.filePath(QStringLiteral("signed.zip"));
        QVERIFY(QFile::copy(m_road->packagePath(), local));
        QVERIFY(m_road->signing()->sign(local, QStringLiteral("release 1.10.00 for tests")));
        const Run run = devctl({"update", local, "--json"});
        QVERIFY2(run.code == 0, run.err.constData());
        QCOMPARE(run.json.value(QStringLiteral("trustedComment")).toString(),
                 QStringLiteral("release 1.10.00 for tests"));
        const QJsonArray entries = devctl({"history", "--json"}).json.value(QStringLiteral("entries")).toArray();
        QCOMPARE(entries.last().toObject().value(QStringLiteral("trustedComment")).toString(),
                 QStringLiteral("release 1.10.00 for tests"));
        QVERIFY(devctl({"info"}).out.contains("signed:    release 1.10.00 for tests"));
    }

    void allowUnsignedWritesWithAWarning()
    {
        const QString local = m_work.filePath(QStringLiteral("unsigned.zip"));
        QVERIFY(QFile::copy(m_road->packagePath(), local));
        const Run run = devctl({"update", local, "--allow-unsigned", "--json"});
        QVERIFY2(run.code == 0, run.err.constData());
        QVERIFY2(run.err.contains("warning: written without a valid signature (--allow-unsigned): the package is "
                                  "not signed"),
                 run.err.constData());
        QVERIFY(QFile::exists(volume() + QStringLiteral("/update.ini")));
    }
};

QTEST_GUILESS_MAIN(TestDevctlSignature)
#include "tst_DevctlSignature.moc"
