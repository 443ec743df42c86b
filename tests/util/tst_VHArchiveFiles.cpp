// A package read whole into memory: what it takes, and every archive it refuses whole.

#include "TestSupport.h"
#include "VHArchiveFiles.h"
#include "ZipBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(QList<ZipEntryShape>)

class TestVHArchiveFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    static ZipEntryShape entry(const QByteArray &name, const QByteArray &data = "data")
    {
        ZipEntryShape shape;
        shape.name = name;
        shape.data = data;
        return shape;
    }

private slots:
    void archives_data()
    {
        QTest::addColumn<QList<ZipEntryShape>>("entries");
        QTest::addColumn<QStringList>("names"); // what is read; empty: refused
        QTest::addColumn<QString>("why");       // words of the refusal
        ZipEntryShape deflated = entry("b.bin", QByteArray(5000, 'b'));
        deflated.deflate = true;
        ZipEntryShape folder = entry("sub/");
        folder.data.clear();
        folder.unixMode = 040755;
        ZipEntryShape link = entry("a.bin", "/etc/passwd");
        link.unixMode = 0120777;
        ZipEntryShape badCrc = entry("a.bin");
        badCrc.wrongCrc = true;
        ZipEntryShape longer = entry("a.bin", QByteArray(100, 'x'));
        longer.deflate = true;
        longer.statedSize = 10;
        QTest::newRow("files, deflated, below the top, folders skipped")
            << QList{entry("a.bin"), deflated, folder, entry("sub/c.txt")} << QStringList{"a.bin", "b.bin", "sub/c.txt"}
            << "";
        QTest::newRow("parent name") << QList{entry("../a.bin")} << QStringList() << "not safe";
        QTest::newRow("inner parent") << QList{entry("sub/../../a.bin")} << QStringList() << "not safe";
        QTest::newRow("absolute name") << QList{entry("/tmp/a.bin")} << QStringList() << "not safe";
        QTest::newRow("backslash") << QList{entry("..\\a.bin")} << QStringList() << "not safe";
        QTest::newRow("NUL in name") << QList{entry(QByteArray("a\0.bin", 6))} << QStringList() << "UTF-8";
        QTest::newRow("not UTF-8") << QList{entry("a\xff.bin")} << QStringList() << "UTF-8";
        QTest::newRow("link") << QList{link} << QStringList() << "link";
        QTest::newRow("duplicate") << QList{entry("a.bin"), entry("a.bin")} << QStringList() << "two entries";
        QTest::newRow("duplicate in another case")
            << QList{entry("a.bin"), entry("A.BIN")} << QStringList() << "two entries";
        QTest::newRow("wrong checksum") << QList{badCrc} << QStringList() << "damaged";
        QTest::newRow("inflates past its size") << QList{longer} << QStringList() << "a.bin";
        QTest::newRow("entry too large") << QList{entry("a.bin", QByteArray(7000, 'x'))} << QStringList()
                                         << "larger than";
        QTest::newRow("sum too large") << QList{entry("a.bin", QByteArray(5000, 'x')),
                                                entry("b.bin", QByteArray(5000, 'x'))}
                                       << QStringList() << "more than 8000 bytes";
        QTest::newRow("too many files") << QList{entry("1"), entry("2"), entry("3"), entry("4"), entry("5")}
                                        << QStringList() << "more than 4";
    }

    void archives()
    {
        QFETCH(QList<ZipEntryShape>, entries);
        QFETCH(QStringList, names);
        QFETCH(QString, why);
        const QString zip = m_dir.filePath(QStringLiteral("p%1.zip").arg(++m_count));
        QVERIFY(ZipBuilder::write(zip, entries));
        VHArchiveFiles::Limits limits;
        limits.maxEntries = 4;
        limits.maxEntrySize = 6000;
        limits.maxTotalSize = 8000;
        VHArchiveFiles::Files files;
        const VHResult result = VHArchiveFiles::read(zip, files, limits);
        QCOMPARE(result.ok, !names.isEmpty());
        QCOMPARE(files.keys(), names);
        QVERIFY2(result.reason.contains(why), qPrintable(result.reason));
        if (result)
            QCOMPARE(files.value(QStringLiteral("b.bin")), QByteArray(5000, 'b'));
    }

    void cutOrMissingArchives_data()
    {
        QTest::addColumn<int>("keep"); // bytes of a whole archive kept; -1: no file
        QTest::newRow("cut in half") << 2;
        QTest::newRow("directory cut") << 1;
        QTest::newRow("no file") << -1;
    }

    void cutOrMissingArchives()
    {
        QFETCH(int, keep);
        const QByteArray whole = ZipBuilder::build({entry("a.bin", QByteArray(300, 'a'))});
        const QString zip = m_dir.filePath(QStringLiteral("cut%1.zip").arg(++m_count));
        if (keep > 0)
            QVERIFY(writeFile(zip, keep == 2 ? whole.left(whole.size() / 2) : whole.chopped(10)));
        VHArchiveFiles::Files files;
        const VHResult result = VHArchiveFiles::read(zip, files);
        QVERIFY(!result);
        QVERIFY(files.isEmpty());
        QVERIFY(result.reason.contains(QLatin1String("not a whole zip archive")));
    }

    void folderTakesRegularTopLevelFilesOnly()
    {
        const QString folder = m_dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
        QVERIFY(writeFile(folder + QStringLiteral("/a.bin"), "a"));
        QVERIFY(writeFile(folder + QStringLiteral("/sub/b.bin"), "b"));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("secret")), "s"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("secret")), folder + QStringLiteral("/link.bin")));
        VHArchiveFiles::Files files;
        QVERIFY(VHArchiveFiles::readFolder(folder, files));
        QCOMPARE(files.keys(), QStringList{QStringLiteral("a.bin")});
        QVERIFY(!VHArchiveFiles::readFolder(m_dir.filePath(QStringLiteral("none")), files));
    }

    // A package's tree written out for a family that copies it: exactly its files, with their times.
    void treeWrittenIntoAnEmptiedFolder_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("ok");
        QTest::newRow("tree") << QStringList{"top.bin", "a/b/c.bin"} << true;
        QTest::newRow("climbs out") << QStringList{"a/../../out.bin"} << false;
        QTest::newRow("file where a folder must be") << QStringList{"a", "a/b.bin"} << false;
    }

    void treeWrittenIntoAnEmptiedFolder()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, ok);
        const QString zip = m_dir.filePath(QStringLiteral("tree%1.zip").arg(++m_count));
        QList<ZipEntryShape> entries;
        VHArchiveFiles::Files files;
        for (const QString &name : std::as_const(names)) {
            entries << entry(name.toUtf8(), name.toUtf8());
            files.insert(name, name.toUtf8());
        }
        QVERIFY(ZipBuilder::write(zip, entries));
        VHArchiveFiles::Times times;
        if (ok) // the reader refuses the others itself; the writer must too
            QVERIFY(VHArchiveFiles::read(zip, files, VHArchiveFiles::Limits(), &times));
        const QString folder = m_dir.filePath(QStringLiteral("work%1/in").arg(m_count));
        QVERIFY(writeFile(folder + QStringLiteral("/earlier.bin"), "old"));
        QCOMPARE(bool(VHArchiveFiles::writeInto(folder, files, times)), ok);
        QCOMPARE(QFileInfo::exists(folder + QStringLiteral("/earlier.bin")), false);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("out.bin"))));
        const QDateTime stated(QDate(2020, 5, 17), QTime(10, 20, 30));
        for (const QString &name : std::as_const(names)) {
            const QFileInfo written(folder + QLatin1Char('/') + name);
            QCOMPARE(written.isFile() && readFile(written.filePath()) == name.toUtf8(), ok);
            if (ok)
                QCOMPARE(written.lastModified(), stated);
        }
    }
};

QTEST_GUILESS_MAIN(TestVHArchiveFiles)
#include "tst_VHArchiveFiles.moc"
