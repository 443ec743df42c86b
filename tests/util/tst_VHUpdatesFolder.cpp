#include "TestSupport.h"
#include "VHUpdatesFolder.h"

#include <QTemporaryDir>
#include <QTest>

#include <limits>

class TestVHUpdatesFolder : public QObject
{
    Q_OBJECT

private slots:
    void modelNamesAFolderOnlyWhenSafe_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "Pacer" << true;
        QTest::newRow("space and plus") << "Pacer 50+" << true;
        QTest::newRow("non-ASCII") << QStringLiteral("L\u00e4ufer") << true;
        QTest::newRow("dots inside") << "Pacer..2" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot") << "." << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("climbing") << "../../x" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("backslash") << "a\\b" << false;
        QTest::newRow("NUL") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << false;
    }
    void modelNamesAFolderOnlyWhenSafe()
    {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        const VHUpdatesFolder folder(QStringLiteral("/data"), name);
        QCOMPARE(folder.isValid(), safe);
        QCOMPARE(folder.path(), safe ? QStringLiteral("/data/updates/") + name : QString());
    }

    void stampIsFourBigEndianBytes_data()
    {
        QTest::addColumn<qint32>("seconds");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("order") << qint32(0x01020304) << QByteArray("\x01\x02\x03\x04", 4);
        QTest::newRow("zero") << qint32(0) << QByteArray(4, '\0');
        QTest::newRow("negative") << qint32(-2) << QByteArray("\xff\xff\xff\xfe", 4);
        QTest::newRow("largest") << std::numeric_limits<qint32>::max() << QByteArray("\x7f\xff\xff\xff", 4);
        QTest::newRow("smallest") << std::numeric_limits<qint32>::min() << QByteArray("\x80\x00\x00\x00", 4);
    }
    void stampIsFourBigEndianBytes()
    {
        QFETCH(qint32, seconds);
        QFETCH(QByteArray, bytes);
        QCOMPARE(VHDateStamp::toBytes(seconds), bytes);
        qint32 read = 12345;
        QVERIFY(VHDateStamp::fromBytes(bytes, read));
        QCOMPARE(read, seconds);
    }

    // "date.txt" of any other size than one stamp means no assist data.
    void expiryReadOnlyFromOneStamp_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("present");
        QTest::addColumn<qint32>("expiry");
        QTest::newRow("stamp") << QByteArray("\x65\x00\x00\x10", 4) << true << qint32(0x65000010);
        QTest::newRow("missing") << QByteArray() << false << qint32(0);
        QTest::newRow("empty") << QByteArray() << true << qint32(0);
        QTest::newRow("three bytes") << QByteArray("\x65\x00\x00", 3) << true << qint32(0);
        QTest::newRow("five bytes") << QByteArray("\x65\x00\x00\x10\x00", 5) << true << qint32(0);
    }
    void expiryReadOnlyFromOneStamp()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, present);
        QFETCH(qint32, expiry);
        QTemporaryDir data;
        const VHUpdatesFolder folder(data.path(), QStringLiteral("Pacer"));
        if (present)
            QVERIFY(writeFile(folder.file(VHUpdatesFolder::kAlpStamp), content));
        QCOMPARE(folder.alpExpiry(), expiry);
        qint32 unchanged = 7;
        QCOMPARE(VHDateStamp::fromBytes(content, unchanged), content.size() == 4);
        if (content.size() != 4)
            QCOMPARE(unchanged, qint32(7));
    }

    void textsAreNullOnlyWhenUnreadable()
    {
        QTemporaryDir data;
        const VHUpdatesFolder folder(data.path(), QStringLiteral("Pacer"));
        QVERIFY(folder.version().isNull());
        QVERIFY(folder.note().isNull());
        QVERIFY(writeFile(folder.file(VHUpdatesFolder::kVersion), QByteArray()));
        QVERIFY(writeFile(folder.file(VHUpdatesFolder::kNote), QByteArray("L\xc3\xa4ufer\r\nfixes")));
        QVERIFY(!folder.version().isNull());
        QVERIFY(folder.version().isEmpty());
        QCOMPARE(folder.note(), QStringLiteral("L\u00e4ufer\nfixes"));
        // No folder for an unsafe model: nothing is read, not even "/updates/version.txt".
        QVERIFY(writeFile(data.path() + QStringLiteral("/updates/version.txt"), QByteArray("9.9")));
        const VHUpdatesFolder none(data.path(), QStringLiteral(".."));
        QVERIFY(none.version().isNull());
        QCOMPARE(none.alpExpiry(), qint32(0));
    }
};

QTEST_GUILESS_MAIN(TestVHUpdatesFolder)
#include "tst_VHUpdatesFolder.moc"
