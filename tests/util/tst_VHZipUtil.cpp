#include "TestSupport.h"
#include "ZipBuilder.h"

#include "VHUtility.h"
#include "VHZipUtil.h"

#include <QDateTime>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>
#include <sys/statvfs.h>

class TestVHZipUtil : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;

    // Unpacks `archive` into `folder` without progress, then with it; true
    // when either run succeeded.
    static bool eitherUnpacks(const QString &archive, const QString &folder, float *progress = nullptr)
    {
        QMutex mutex;
        float ignored = 0.0f;
        VHZipUtil zip;
        const bool plain = zip.decompress(archive, folder);
        return zip.decompress(archive, folder, &mutex, progress ? progress : &ignored, 1.0f) || plain;
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void progressStopsOneEntryShortOfTheSpan()
    {
        const QStringList names = {QStringLiteral("a.txt"), QStringLiteral("b.bin"), QStringLiteral("c.txt"),
                                   QStringLiteral("d.txt")};
        for (const QString &name : names)
            QVERIFY(writeFile(path("src/" + name), name.toUtf8().repeated(1000)));
        QDir::setCurrent(path("src"));
        QMutex mutex;
        float progress = -1.0f;
        VHZipUtil zip;
        QVERIFY(zip.compress(path("out.zip"), names, &mutex, &progress));
        QCOMPARE(progress, 3.0f / 4.0f);

        progress = 0.2f;
        QVERIFY(zip.decompress(path("out.zip"), path("dst/x"), &mutex, &progress, 0.5f));
        QCOMPARE(progress, 0.2f + 3.0f / 4.0f * 0.5f);
        for (const QString &name : names)
            QCOMPARE(readFile(path("dst/x/" + name)), name.toUtf8().repeated(1000));
        QCOMPARE(treeOf(path("dst/x")), names);
    }

    void extractedFilesKeepTheEntryTime()
    {
        QVERIFY(ZipBuilder::write(path("t.zip"), {{"sub/t.txt", "hello", true}}));
        VHZipUtil zip;
        QVERIFY(zip.decompress(path("t.zip"), path("dst")));
        const QDateTime expected(QDate(2020, 5, 17), QTime(10, 20, 30));
        QCOMPARE(QFileInfo(path("dst/sub/t.txt")).lastModified(), expected);
    }

    void missingArchiveOrMutexLeavesTheFolderUntouched()
    {
        float progress = 0.5f;
        const QString folder = path("never");
        QVERIFY(!eitherUnpacks(path("missing.zip"), folder, &progress));
        VHZipUtil zip;
        QVERIFY(ZipBuilder::write(path("ok.zip"), {{"a.txt", "a"}}));
        QVERIFY(!zip.decompress(path("ok.zip"), folder, nullptr, &progress, 1.0f));
        QVERIFY(!zip.compress(path("new.zip"), {path("ok.zip")}, nullptr, &progress));
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(!QFileInfo::exists(path("new.zip")));
        QCOMPARE(progress, 0.5f);
    }

    void corruptEntryFailsWhileTheOthersAreExtracted_data()
    {
        QTest::addColumn<bool>("withProgress");
        QTest::newRow("plain") << false;
        QTest::newRow("progress") << true;
    }

    void corruptEntryFailsWhileTheOthersAreExtracted()
    {
        QFETCH(bool, withProgress);
        const QByteArray big = randomBytes(3 * 1024 * 1024) + QByteArray(1024 * 1024, 'x');
        ZipEntryShape badInflate{"img/bad.bin", big, true};
        badInflate.corruptData = true;
        ZipEntryShape badCrc{"img/crc.bin", "stored data with a wrong checksum"};
        badCrc.wrongCrc = true;
        QVERIFY(ZipBuilder::write(path("c.zip"),
                                  {{"first.txt", "first", true}, badInflate, badCrc, {"img/last.bin", big, true}}));
        LogCapture log;
        VHZipUtil zip;
        QMutex mutex;
        float progress = 0.0f;
        const QString folder = path("dst");
        const bool ok = withProgress ? zip.decompress(path("c.zip"), folder, &mutex, &progress, 1.0f)
                                     : zip.decompress(path("c.zip"), folder);
        QVERIFY(!ok);
        QCOMPARE(treeOf(folder), QStringList({"first.txt", "img", "img/last.bin"}));
        QCOMPARE(readFile(folder + QStringLiteral("/img/last.bin")), big);
        QCOMPARE(log.count(QStringLiteral("failed name ")), 2);
        QVERIFY(log.all().contains(QStringLiteral("img/bad.bin")));
        QCOMPARE(
            log.count(QStringLiteral("unzip failed in decompress(QString fname,QString folder,QMutex *m, float *f)")),
            withProgress ? 2 : 0);
        if (withProgress)
            QCOMPARE(progress, 3.0f / 4.0f);
    }

    void nothingIsWrittenOutsideTheFolder()
    {
        const QString outside = path("outside");
        QDir().mkpath(outside);
        const QString folder = path("dst");
        QDir().mkpath(folder);
        QVERIFY(QFile::link(outside, folder + QStringLiteral("/existinglink")));
        ZipEntryShape link{"link", outside.toUtf8()};
        link.unixMode = 0120777;
        const QList<ZipEntryShape> entries = {
            {"../escape1.txt", "x"},           {"sub/../../escape2.txt", "x"},
            {"..\\escape3.txt", "x"},          {(outside + QStringLiteral("/escape4.txt")).toUtf8(), "x"},
            {"C:/escape5.txt", "x"},           link,
            {"link/escape6.txt", "x"},         {"existinglink/escape7.txt", "x"},
            {"EXISTINGLINK/escape8.txt", "x"}, {"good/inside.txt", "fine"},
        };
        QVERIFY(ZipBuilder::write(path("slip.zip"), entries));
        LogCapture log;
        QVERIFY(!eitherUnpacks(path("slip.zip"), folder));
        QCOMPARE(treeOf(outside), QStringList());
        QStringList escaped = treeOf(m_dir->path()).filter(QStringLiteral("escape"));
        // The refused link entry is no link, so "link/" is an ordinary folder inside.
        QCOMPARE(escaped, QStringList({"dst/link/escape6.txt"}));
        QCOMPARE(readFile(folder + QStringLiteral("/good/inside.txt")), QByteArray("fine"));
        QVERIFY(QFileInfo(folder + QStringLiteral("/existinglink")).isSymLink());
        QCOMPARE(log.count(QStringLiteral("failed name ")), 2 * 8);
    }

    void badNamesAreRefusedAsFailedEntries()
    {
        QVERIFY(ZipBuilder::write(path("n.zip"),
                                  {{QByteArray("nul\0name.txt", 12), "x"}, {"caf\xe9.txt", "x"}, {"ok.txt", "ok"}}));
        LogCapture log;
        VHZipUtil zip;
        const QString folder = path("dst");
        QVERIFY(!zip.decompress(path("n.zip"), folder));
        QCOMPARE(treeOf(folder), QStringList({"ok.txt"}));
        QVERIFY(log.all().contains(QStringLiteral("NUL")));
        QVERIFY(log.all().contains(QStringLiteral("UTF-8")));

        // Declared UTF-8 but not: libzip refuses the whole archive.
        ZipEntryShape declared{"caf\xe9.txt", "x"};
        declared.flags = 0x800;
        QVERIFY(ZipBuilder::write(path("u.zip"), {declared, {"ok.txt", "ok"}}));
        QVERIFY(!zip.decompress(path("u.zip"), path("dst2")));
        QVERIFY(!QFileInfo::exists(path("dst2")));
    }

    void malformedArchivesFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray good = ZipBuilder::build({{"a.bin", randomBytes(100000), true}, {"b.txt", "b"}});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << randomBytes(5000);
        QTest::newRow("truncated half") << good.left(good.size() / 2);
        QTest::newRow("truncated end") << good.left(good.size() - 5);
        QByteArray badDirectory = good;
        badDirectory[badDirectory.size() - 6] = char(0x10); // directory offset past the data
        QTest::newRow("directory offset") << badDirectory;
        QByteArray shortData = good;
        shortData.remove(200, 50000); // entries point into the wrong place
        QTest::newRow("cut in the middle") << shortData;
    }

    void malformedArchivesFailCleanly()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(writeFile(path("m.zip"), bytes));
        const QString folder = path("dst");
        QVERIFY(!eitherUnpacks(path("m.zip"), folder));
        QCOMPARE(treeOf(folder).filter(QStringLiteral(".vhtmp")), QStringList());
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/a.bin")));
    }

    void thousandsOfEntries()
    {
        QList<ZipEntryShape> entries;
        for (int i = 0; i < 4000; ++i)
            entries.append(
                {QStringLiteral("d%1/f%2.txt").arg(i % 7).arg(i).toUtf8(), QByteArray::number(i), i % 2 == 0});
        QVERIFY(ZipBuilder::write(path("many.zip"), entries));
        VHZipUtil zip;
        QMutex mutex;
        float progress = 0.0f;
        QVERIFY(zip.decompress(path("many.zip"), path("dst"), &mutex, &progress, 1.0f));
        QCOMPARE(VHUtility::countFiles(path("dst"), QString()), qint64(4000));
        QCOMPARE(readFile(path("dst/d2/f3999.txt")), QByteArray("3999"));
        QCOMPARE(progress, 3999.0f / 4000.0f);
    }

    void existingNamesInAnotherSpellingAreReused()
    {
        const QString folder = path("vol");
        QVERIFY(writeFile(folder + QStringLiteral("/System/Device.ini"), "old"));
        QVERIFY(ZipBuilder::write(
            path("s.zip"),
            {{"system/device.ini", "new"}, {"SYSTEM/Velorawrk/a.fit", "a"}, {"system/VeloraWrk/b.fit", "b"}}));
        VHZipUtil zip;
        QVERIFY(zip.decompress(path("s.zip"), folder));
        QCOMPARE(treeOf(folder), QStringList({"System", "System/Device.ini", "System/Velorawrk",
                                              "System/Velorawrk/a.fit", "System/Velorawrk/b.fit"}));
        QCOMPARE(readFile(folder + QStringLiteral("/System/Device.ini")), QByteArray("new"));
    }

    void archiveTooLargeForTheVolumeIsRefusedWhole()
    {
        TinyVolume volume(path("tiny"));
        if (!volume.isMounted())
            QSKIP("needs root to mount a 64 KiB tmpfs");
        QVERIFY(ZipBuilder::write(path("f.zip"), {{"small.txt", "small"}, {"big.bin", randomBytes(300 * 1024), true}}));
        LogCapture log;
        VHZipUtil zip;
        QVERIFY(!zip.decompress(path("f.zip"), path("tiny/pkg")));
        QVERIFY(log.all().contains(QStringLiteral("would leave less than 64.0 MiB free")));

        QVERIFY(!zip.compress(path("tiny/out.zip"), {path("f.zip")}));
        QCOMPARE(treeOf(path("tiny")), QStringList());
    }

    void freeSpaceReserveIsKept_data()
    {
        QTest::addColumn<int>("mebibytes");
        QTest::addColumn<bool>("unpacks");
        // On a 100 MiB volume: 70 MiB stay free after 30, 60 after 40.
        QTest::newRow("leaves 70 MiB") << 30 << true;
        QTest::newRow("leaves 60 MiB") << 40 << false;
    }

    void freeSpaceReserveIsKept()
    {
        QFETCH(int, mebibytes);
        QFETCH(bool, unpacks);
        TinyVolume volume(path("vol"), QStringLiteral("100m"));
        if (!volume.isMounted())
            QSKIP("needs root to mount a 100 MiB tmpfs");
        QVERIFY(ZipBuilder::write(path("z.zip"), {{"zeros.bin", QByteArray(mebibytes * 1024 * 1024, '\0'), true}}));
        VHZipUtil zip;
        QCOMPARE(zip.decompress(path("z.zip"), path("vol/pkg")), unpacks);
        QCOMPARE(treeOf(path("vol")), unpacks ? QStringList({"pkg", "pkg/zeros.bin"}) : QStringList());
    }

    void hostileArchivesAreRefusedWhole_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        // A 1 MiB entry listed 40 times would unpack to 40 MiB.
        const ZipEntryShape shared{"img.bin", QByteArray(1024 * 1024, 'z'), true};
        QTest::newRow("shared data") << ZipBuilder::buildSharedData(shared, 40)
                                     << QStringLiteral("the entries \"copy0.bin\" and \"copy1.bin\" overlap");

        // The last entry's stated compressed size reaches into the directory.
        QByteArray intoDirectory = ZipBuilder::build({{"good.txt", "good"}, {"last.bin", "last"}});
        const qsizetype directory = qFromLittleEndian<quint32>(intoDirectory.constData() + intoDirectory.size() - 6);
        const qsizetype lastRecord = directory + 46 + qsizetype(qstrlen("good.txt"));
        qToLittleEndian<quint32>(4 + 40, intoDirectory.data() + lastRecord + 20);
        QTest::newRow("data reaching into the directory")
            << intoDirectory << QStringLiteral("the entry \"last.bin\" overlaps the archive's central directory");

        QList<ZipEntryShape> tooMany(100001, ZipEntryShape{"d/", {}});
        QTest::newRow("100,001 entries") << ZipBuilder::build(tooMany)
                                         << QStringLiteral("the archive has 100001 entries, more than 100000");

        // Stated sizes (each just under 4 GiB) that add up to more than the disk has free.
        struct statvfs st;
        QVERIFY(::statvfs(QFile::encodeName(QDir::tempPath()).constData(), &st) == 0);
        const quint64 free = quint64(st.f_bavail) * st.f_frsize;
        QList<ZipEntryShape> huge = {{"good.txt", "good"}};
        for (quint64 stated = 0; stated <= free; stated += 0xFFFFFFFEu) {
            huge.append({"huge" + QByteArray::number(huge.size()) + ".bin", "tiny"});
            huge.last().statedSize = 0xFFFFFFFE;
        }
        QTest::newRow("stated sizes") << ZipBuilder::build(huge) << QStringLiteral("which would leave less than");
    }

    void zip64DirectoryRecordsAreRead()
    {
        QList<ZipEntryShape> entries = {{"a.bin", randomBytes(70000), true}, {"sub/b.txt", "b"}, {"sub/", {}}};
        for (ZipEntryShape &entry : entries)
            entry.zip64 = true;
        QVERIFY(ZipBuilder::write(path("z.zip"), entries));
        VHZipUtil zip;
        QVERIFY(zip.decompress(path("z.zip"), path("dst")));
        QCOMPARE(readFile(path("dst/a.bin")), randomBytes(70000));
        QCOMPARE(readFile(path("dst/sub/b.txt")), QByteArray("b"));

        ZipEntryShape shared{"img.bin", randomBytes(1000), true};
        shared.zip64 = true;
        QVERIFY(writeFile(path("s.zip"), ZipBuilder::buildSharedData(shared, 3)));
        LogCapture log;
        QVERIFY(!zip.decompress(path("s.zip"), path("dst2")));
        QVERIFY(log.all().contains(QStringLiteral("overlap")));
    }

    void hostileArchivesAreRefusedWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QVERIFY(writeFile(path("h.zip"), bytes));
        LogCapture log;
        float progress = 0.25f;
        const QString folder = path("dst");
        QVERIFY(!eitherUnpacks(path("h.zip"), folder, &progress));
        QVERIFY(!QFileInfo::exists(folder));
        QCOMPARE(log.count(reason), 2);
        QCOMPARE(progress, 0.25f);
    }

    void entriesUpToTheLimitUnpack()
    {
        QVERIFY(writeFile(path("l.zip"), ZipBuilder::build(QList<ZipEntryShape>(100000, ZipEntryShape{"d/", {}}))));
        VHZipUtil zip;
        QVERIFY(zip.decompress(path("l.zip"), path("dst")));
        QCOMPARE(treeOf(path("dst")), QStringList({"d"}));
    }

    void entryInflatingPastItsStatedSizeStopsThere()
    {
        ZipEntryShape bomb{"bomb.bin", QByteArray(8 * 1024 * 1024, '\0'), true};
        bomb.statedSize = 1000;
        QVERIFY(ZipBuilder::write(path("b.zip"), {{"good.txt", "good"}, bomb}));
        // Past 2 MiB a write fails: the unpacking must stop long before that.
        struct rlimit previous;
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
        const struct rlimit small = {2 * 1024 * 1024, previous.rlim_max};
        const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        LogCapture log;
        const bool ok = VHZipUtil().decompress(path("b.zip"), path("dst"));
        ::setrlimit(RLIMIT_FSIZE, &previous);
        ::signal(SIGXFSZ, previousHandler);
        QVERIFY(!ok);
        QCOMPARE(treeOf(path("dst")), QStringList({"good.txt"}));
        QVERIFY(log.all().contains(QStringLiteral("the entry inflates past its stated size")));
    }

    void compressSkipsMissingFilesAndReportsUnwritableArchives()
    {
        QVERIFY(writeFile(path("one.txt"), "one"));
        QDir::setCurrent(m_dir->path());
        VHZipUtil zip;
        QVERIFY(zip.compress(path("a.zip"), {QStringLiteral("one.txt"), QStringLiteral("gone.txt")}));
        QVERIFY(zip.decompress(path("a.zip"), path("dst")));
        QCOMPARE(treeOf(path("dst")), QStringList({"one.txt"}));

        QVERIFY(zip.compress(path("empty.zip"), {}));
        QVERIFY(zip.decompress(path("empty.zip"), path("dst-empty")));
        QCOMPARE(treeOf(path("dst-empty")), QStringList());

        QVERIFY(!zip.compress(path("no/such/folder/a.zip"), {QStringLiteral("one.txt")}));
        QVERIFY(!zip.compressFolder(path("no/such/folder/b.zip"), QStringLiteral("logs")));
    }

    void compressFolderHoldsOneEmptyFolderEntry()
    {
        QVERIFY(writeFile(path("logs/a.txt"), "a"));
        QDir::setCurrent(m_dir->path());
        VHZipUtil zip;
        QVERIFY(zip.compressFolder(path("f.zip"), QStringLiteral("logs")));
        QVERIFY(zip.decompress(path("f.zip"), path("dst")));
        QCOMPARE(treeOf(path("dst")), QStringList({"logs"}));
    }
};

QTEST_GUILESS_MAIN(TestVHZipUtil)
#include "tst_VHZipUtil.moc"
