#include "VHPackageFile.h"
#include "VHTestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestPackageFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void checksumOfManyChunksMatchesTheWhole()
    {
        // Far more than the hasher may queue, in uneven pieces.
        QByteArray data;
        for (int i = 0; i < 3 * 1024 * 1024; ++i)
            data.append(char((i * 2654435761u) >> 24));
        VHPackageFile file(path("Total.zip"));
        QVERIFY(file.open());
        for (qsizetype offset = 0, step = 1; offset < data.size(); offset += step, step = step * 3 % 700001 + 1)
            QVERIFY(file.append(data.constData() + offset, qMin(step, data.size() - offset)));
        QCOMPARE(file.size(), data.size());
        QCOMPARE(file.md5Hex(), QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()));
        QVERIFY(file.commit());
        QCOMPARE(readFile(path("Total.zip")), data);
    }

    void emptyStreamHasTheEmptyDigest()
    {
        VHPackageFile file(path("Total.zip"));
        QVERIFY(file.open());
        QCOMPARE(file.md5Hex(), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    }

    void commitReplacesTheOldFileWhole()
    {
        writeFile(path("Total.zip"), "old package");
        VHPackageFile file(path("Total.zip"));
        QVERIFY(file.open());
        QVERIFY(file.append("new ", 4));
        // Until the commit the old file is what others see.
        QCOMPARE(readFile(path("Total.zip")), QByteArray("old package"));
        QVERIFY(file.append("package", 7));
        QVERIFY(file.commit());
        QCOMPARE(readFile(path("Total.zip")), QByteArray("new package"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Total.zip")});
    }

    void unfinishedFileLeavesNothing()
    {
        writeFile(path("Total.zip"), "old package");
        {
            VHPackageFile abandoned(path("Total.zip"));
            QVERIFY(abandoned.open());
            QVERIFY(abandoned.append("partial", 7));
            QVERIFY(QFile::exists(path("Total.zip.part")));
            abandoned.abandon();
            QVERIFY(!QFile::exists(path("Total.zip.part")));
        }
        {
            VHPackageFile dropped(path("Total.zip"));
            QVERIFY(dropped.open());
            QVERIFY(dropped.append("partial", 7));
        }
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Total.zip")});
        QCOMPARE(readFile(path("Total.zip")), QByteArray("old package"));
    }

    void leftOverPartIsReplacedNotWrittenThrough_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("stale part from a crash") << false;
        QTest::newRow("link named like the part") << true;
    }
    void leftOverPartIsReplacedNotWrittenThrough()
    {
        QFETCH(bool, link);
        writeFile(path("notes.txt"), "the user's notes");
        if (link)
            QVERIFY(QFile::link(path("notes.txt"), path("Total.zip.part")));
        else
            writeFile(path("Total.zip.part"), "left over by a crash, longer than the new data");
        VHPackageFile file(path("Total.zip"));
        QVERIFY(file.open());
        QVERIFY(file.append("fresh", 5));
        QVERIFY(file.commit());
        QCOMPARE(readFile(path("Total.zip")), QByteArray("fresh"));
        QCOMPARE(readFile(path("notes.txt")), QByteArray("the user's notes"));
    }

    void unwritableFolderFailsToOpen()
    {
        VHPackageFile file(path("missing/Total.zip"));
        QVERIFY(!file.open());
        QVERIFY(!file.errorString().isEmpty());
        QVERIFY(!file.commit());
    }
};

QTEST_GUILESS_MAIN(TestPackageFile)
#include "tst_PackageFile.moc"
