#include "TestSupport.h"
#include "VHMinisign.h"
#include "VHTrustedKeys.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace VHMinisign;

namespace {

// How a row spoils what the signer made before it is checked.
enum class Spoil { None, PackageByte, OtherKey, Missing, Truncated, OtherFile, TrustedComment, SignatureByte };

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray replaceTrustedComment(QByteArray signature)
{
    return signature.replace("trusted comment: release 7.1", "trusted comment: release 9.9");
}

} // namespace

class TestVHMinisign : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_package = m_dir.filePath(QStringLiteral("Total.zip"));
        QVERIFY(writeFile(m_package, randomBytes(300 * 1024)));
        m_other = m_dir.filePath(QStringLiteral("Other.zip"));
        QVERIFY(writeFile(m_other, randomBytes(1000) + "other"));
        m_trusted.add(m_key.publicKey());
    }

    void signatureIsCheckedWithItsReason_data()
    {
        QTest::addColumn<bool>("legacy");
        QTest::addColumn<Spoil>("spoil");
        QTest::addColumn<QString>("reason");
        for (const bool legacy : {false, true}) {
            const char *form = legacy ? "Ed " : "ED ";
            QTest::addRow("%sgood", form) << legacy << Spoil::None << QString();
            QTest::addRow("%spackage changed by one byte", form) << legacy << Spoil::PackageByte << mismatchText();
            QTest::addRow("%ssignature of another file", form) << legacy << Spoil::OtherFile << mismatchText();
            QTest::addRow("%ssignature changed by one byte", form) << legacy << Spoil::SignatureByte << mismatchText();
            QTest::addRow("%strusted comment changed", form) << legacy << Spoil::TrustedComment << commentChangedText();
        }
        QTest::newRow("another key") << false << Spoil::OtherKey << unknownKeyText().arg(keyIdText(m_stranger.keyId));
        QTest::newRow("missing") << false << Spoil::Missing << notSignedText();
        QTest::newRow("truncated") << false << Spoil::Truncated << damagedText();
    }
    void signatureIsCheckedWithItsReason()
    {
        QFETCH(bool, legacy);
        QFETCH(Spoil, spoil);
        QFETCH(QString, reason);
        QByteArray signature =
            signFile(spoil == Spoil::OtherKey ? m_stranger : m_key, spoil == Spoil::OtherFile ? m_other : m_package,
                     QStringLiteral("release 7.1"), legacy);
        QVERIFY(!signature.isEmpty());
        QString path = m_package;
        if (spoil == Spoil::PackageByte) {
            QByteArray bytes = readAll(m_package);
            bytes[1234] = char(bytes[1234] ^ 0x01);
            path = m_dir.filePath(QStringLiteral("changed.zip"));
            QVERIFY(writeFile(path, bytes));
        }
        if (spoil == Spoil::Missing)
            signature = QByteArray();
        if (spoil == Spoil::Truncated)
            signature.truncate(signature.size() / 2);
        if (spoil == Spoil::TrustedComment)
            signature = replaceTrustedComment(signature);
        if (spoil == Spoil::SignatureByte) {
            Signature parsed;
            QVERIFY(parseSignature(signature, parsed).ok);
            const QByteArray line = signature.split('\n').at(1);
            QByteArray bytes = QByteArray::fromBase64(line);
            bytes[20] = char(bytes[20] ^ 0x80);
            signature.replace(line, bytes.toBase64());
        }
        QString comment;
        const VHResult result = verifyFile(path, signature, m_trusted, &comment);
        QCOMPARE(result.reason, reason);
        QCOMPARE(result.ok, reason.isEmpty());
        QCOMPARE(result.code, reason.isEmpty() ? 0 : kNotAuthentic);
        QCOMPARE(comment, reason.isEmpty() ? QStringLiteral("release 7.1") : QString());
    }

    void malformedFilesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray key = publicKeyText(m_key.publicKey());
        const QByteArray body = key.split('\n').at(1);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only the comment") << QByteArray("untrusted comment: x\n");
        QTest::newRow("no comment line") << body + '\n';
        QTest::newRow("not base64") << QByteArray("untrusted comment: x\n!!!!\n");
        QTest::newRow("short key") << "untrusted comment: x\n" + body.left(body.size() - 8) + '\n';
        QTest::newRow("wrong algorithm") << "untrusted comment: x\n"
                                                + ("XX" + QByteArray::fromBase64(body).mid(2)).toBase64();
        QTest::newRow("a signature") << signBytes(m_key, "abc", QStringLiteral("c"));
        QTest::newRow("a secret key") << secretKeyText(m_key);
        QTest::newRow("huge") << QByteArray(8192, 'A');
    }
    void malformedFilesAreRefused()
    {
        QFETCH(QByteArray, text);
        PublicKey key;
        QVERIFY(!parsePublicKey(text, key).ok);
        Signature signature;
        const VHResult asSignature = parseSignature(text, signature);
        if (!text.contains("trusted comment: c"))
            QCOMPARE(asSignature.reason, damagedText());
    }

    void keysAreRoundTripped()
    {
        PublicKey key;
        QVERIFY(parsePublicKey(publicKeyText(m_key.publicKey()), key).ok);
        QCOMPARE(key.keyId, m_key.keyId);
        QCOMPARE(key.key, m_key.publicKey().key);
        SecretKey secret;
        QVERIFY(parseSecretKey(secretKeyText(m_key), secret).ok);
        QCOMPARE(secret.secret, m_key.secret);
        QByteArray spoilt = secretKeyText(m_key);
        const qsizetype inSecret = spoilt.indexOf('\n') + 150;
        spoilt[inSecret] = spoilt[inSecret] == 'A' ? 'B' : 'A';
        QVERIFY(!parseSecretKey(spoilt, secret).ok); // its checksum catches a changed byte
    }

    void keyFoldersSkipFilesThatDoNotParse()
    {
        QTemporaryDir system, user;
        QVERIFY(writeFile(system.filePath(QStringLiteral("good.pub")), publicKeyText(m_key.publicKey())));
        QVERIFY(writeFile(system.filePath(QStringLiteral("bad.pub")), "untrusted comment: x\nnot a key\n"));
        QVERIFY(writeFile(system.filePath(QStringLiteral("other.txt")), publicKeyText(m_stranger.publicKey())));
        QVERIFY(writeFile(user.filePath(QStringLiteral("veloraupdate/keys/user.pub")),
                          publicKeyText(m_stranger.publicKey())));
        qputenv("VELORA_KEYS_DIR", QByteArray("/nonexistent:") + system.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", user.path().toUtf8());
        const QStringList folders = VHTrustedKeys::folders();
        QCOMPARE(folders, (QStringList{QStringLiteral("/nonexistent"), system.path(),
                                       user.filePath(QStringLiteral("veloraupdate/keys"))}));
        const VHTrustedKeys keys = VHTrustedKeys::load();
        QCOMPARE(keys.size(), 2);
        QVERIFY(keys.find(m_key.keyId));
        QVERIFY(keys.find(m_stranger.keyId));
        QVERIFY(!keys.find(m_key.keyId ^ 1));
    }

    // The format is the signing tool's: each side reads what the other wrote.
    void signaturesMatchTheSigningTool()
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("minisign"));
        if (tool.isEmpty())
            QSKIP("minisign is not installed");
        const QString secret = m_dir.filePath(QStringLiteral("tool.key")),
                      pub = m_dir.filePath(QStringLiteral("tool.pub"));
        QCOMPARE(QProcess::execute(tool, {"-G", "-W", "-f", "-p", pub, "-s", secret}), 0);
        QCOMPARE(QProcess::execute(tool, {"-S", "-s", secret, "-m", m_package, "-t", "from the tool"}), 0);
        PublicKey toolKey;
        QVERIFY(parsePublicKey(readAll(pub), toolKey).ok);
        VHTrustedKeys keys;
        keys.add(toolKey);
        QString comment;
        const VHResult ours = verifyFile(m_package, readAll(m_package + kSignatureSuffix), keys, &comment);
        QVERIFY2(ours.ok, qPrintable(ours.reason));
        QCOMPARE(comment, QStringLiteral("from the tool"));
        // Our key and signature, checked by the tool.
        SecretKey toolSecret;
        QVERIFY(parseSecretKey(readAll(secret), toolSecret).ok);
        QVERIFY(writeFile(m_package + kSignatureSuffix, signFile(toolSecret, m_package, QStringLiteral("ours"))));
        QCOMPARE(QProcess::execute(tool, {"-V", "-q", "-p", pub, "-m", m_package}), 0);
        QVERIFY(writeFile(secret, secretKeyText(m_key)));
        QVERIFY(writeFile(pub, publicKeyText(m_key.publicKey())));
        QCOMPARE(QProcess::execute(tool, {"-S", "-s", secret, "-m", m_other, "-t", "tool with our key"}), 0);
        QCOMPARE(QProcess::execute(tool, {"-V", "-q", "-p", pub, "-m", m_other}), 0);
    }

private:
    QTemporaryDir m_dir;
    SecretKey m_key = generateKey();
    SecretKey m_stranger = generateKey();
    VHTrustedKeys m_trusted;
    QString m_package;
    QString m_other;
};

QTEST_GUILESS_MAIN(TestVHMinisign)
#include "tst_VHMinisign.moc"
