#include "TestSupport.h"
#include "VHZipDirectory.h"
#include "ZipBuilder.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QList<ZipEntryShape> packageEntries()
{
    return {{"release.ini", "[Image1]\nName=system.bin\n"},
            {"system.bin", randomBytes(40000), true},
            {"images/boot.bin", randomBytes(3000)}};
}

// Writes `method` into the first entry's local header and directory record.
QByteArray withFirstMethod(QByteArray zip, quint16 method)
{
    const qsizetype record = zip.indexOf(QByteArray("PK\x01\x02", 4));
    qToLittleEndian(method, zip.data() + 8);
    qToLittleEndian(method, zip.data() + record + 10);
    return zip;
}

// Both headers of the first entry agree on a stored size that reaches into the directory.
QByteArray withFirstSizeGrown(QByteArray zip, quint32 extra)
{
    const qsizetype record = zip.indexOf(QByteArray("PK\x01\x02", 4));
    const quint32 size = qFromLittleEndian<quint32>(zip.constData() + 18) + extra;
    qToLittleEndian(size, zip.data() + 18);
    qToLittleEndian(size, zip.data() + 22);
    qToLittleEndian(size, zip.data() + record + 20);
    qToLittleEndian(size, zip.data() + record + 24);
    return zip;
}

} // namespace

class TestVHZipDirectory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void completeArchivesOnly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("complete");
        const QByteArray whole = ZipBuilder::build(packageEntries());
        const qsizetype directory = whole.indexOf(QByteArray("PK\x01\x02", 4));
        QTest::newRow("whole archive") << whole << true;
        QTest::newRow("one stored entry") << ZipBuilder::build({{"a.txt", "a"}}) << true;
        QTest::newRow("cut in half") << whole.left(whole.size() / 2) << false;
        QTest::newRow("last byte missing") << whole.chopped(1) << false;
        QTest::newRow("directory only, entries cut away") << whole.mid(directory) << false;
        QTest::newRow("HTML page") << QByteArray("<!DOCTYPE html><html><body>Service Unavailable</body></html>")
                                   << false;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("no entries") << ZipBuilder::build({}) << false;
        // A local header that no longer matches its directory record.
        QByteArray renamed = whole;
        renamed[30] = 'R';
        QTest::newRow("local header differs") << renamed << false;
        QTest::newRow("data runs into the directory")
            << withFirstSizeGrown(ZipBuilder::build({{"a.txt", "abc"}}), 20) << false;
        QTest::newRow("unknown compression method") << withFirstMethod(whole, 77) << false;
    }
    void completeArchivesOnly()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, complete);
        const QString path = m_dir.filePath(QStringLiteral("Total.zip"));
        QVERIFY(writeFile(path, bytes));
        QString why;
        QCOMPARE(VHZipDirectory::isComplete(path, &why), complete);
        QCOMPARE(why.isEmpty(), complete);
    }

    void missingFileIsNotComplete()
    {
        QString why;
        QVERIFY(!VHZipDirectory::isComplete(m_dir.filePath(QStringLiteral("absent.zip")), &why));
        QVERIFY(!why.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestVHZipDirectory)
#include "tst_VHZipDirectory.moc"
