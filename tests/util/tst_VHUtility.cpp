#include "TestSupport.h"
#include "ZipBuilder.h"

#include "VHTreeRemover.h"
#include "VHUtility.h"
#include "VHZipUtil.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <climits>
#include <memory>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class TestVHUtility : public QObject
{
    Q_OBJECT

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    static void setTime(const QString &file, const QDateTime &time)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(time, QFileDevice::FileModificationTime));
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    static int openDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()); }
    // `levels` nested folders `name` below root, made through handles as their paths pass PATH_MAX, with a
    // file every 100 levels and a link to linkTarget at the bottom.
    static bool makeDeepTree(const QString &root, int levels, const QByteArray &name, const QByteArray &linkTarget)
    {
        QDir().mkpath(root);
        int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; fd >= 0 && i < levels; ++i) {
            if (i % 100 == 0)
                ::close(::openat(fd, "file.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            const int child = ::mkdirat(fd, name.constData(), 0755) == 0
                                  ? ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                  : -1;
            ::close(fd);
            fd = child;
        }
        const bool made = fd >= 0 && ::symlinkat(linkTarget.constData(), fd, "link") == 0;
        ::close(fd);
        return made;
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void copyKeepsDataAndTimeAndReportsProgress()
    {
        const QByteArray data = randomBytes(3 * 1024 * 1024 + 17);
        QVERIFY(writeFile(path("src.bin"), data));
        const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7));
        setTime(path("src.bin"), when);
        QVERIFY(writeFile(path("out/dest.bin"), "older and shorter"));
        qint64 lastDone = 0, lastTotal = 0;
        bool copied = false;
        QVERIFY(VHUtility::copyFile(
            path("src.bin"), path("out/dest.bin"), false, 1, 0,
            [&](qint64 done, qint64 total) { lastDone = done, lastTotal = total; }, false, 0, &copied));
        QVERIFY(copied);
        QCOMPARE(readFile(path("out/dest.bin")), data);
        QCOMPARE(QFileInfo(path("out/dest.bin")).lastModified(), when);
        QCOMPARE(lastDone, data.size());
        QCOMPARE(lastTotal, data.size());
        QCOMPARE(treeOf(path("out")), QStringList({"dest.bin"}));
    }

    void skipIfSameHonoursTheTolerance()
    {
        QVERIFY(writeFile(path("a"), "new content"));
        QVERIFY(writeFile(path("b"), "old content"));
        const QDateTime when(QDate(2022, 1, 1), QTime(12, 0, 0));
        setTime(path("a"), when);
        setTime(path("b"), when.addSecs(-2));
        bool copied = true;
        QVERIFY(VHUtility::copyFile(path("a"), path("b"), true, 3, 0, {}, true, 2, &copied));
        QVERIFY(!copied);
        QCOMPARE(readFile(path("b")), QByteArray("old content"));

        LogCapture log;
        QVERIFY(VHUtility::copyFile(path("a"), path("b"), true, 3, 0, {}, true, 1, &copied));
        QVERIFY(copied);
        QCOMPARE(readFile(path("b")), QByteArray("new content"));
        QCOMPARE(log.count(QStringLiteral("modified time=20220101")), 2);
        QCOMPARE(log.count(QStringLiteral("VHUtility::copyFile")), 2);
    }

    void failingCopyIsTriedTheGivenNumberOfTimes()
    {
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        bool copied = true;
        QVERIFY(!VHUtility::copyFile(path("missing"), path("d"), false, 10, 30, {}, false, 0, &copied));
        QVERIFY(timer.elapsed() >= 9 * 30);
        QVERIFY(!copied);
        QCOMPARE(log.count(QStringLiteral("copy file failed start wait to retry, retry ")), 10);
        QCOMPARE(log.count(QStringLiteral(" win32 error code :")), 10);
        QVERIFY(!QFileInfo::exists(path("d")));

        QVERIFY(!VHUtility::copyFile(path("missing"), path("d"), false, 0, 30));
        QCOMPARE(log.count(QStringLiteral("copy file failed")), 10);
    }

    void copySucceedsOnALaterAttempt()
    {
        QVERIFY(writeFile(path("src"), "data"));
        LogCapture log;
        // The destination folder appears while the copy waits to retry.
        std::unique_ptr<QThread> maker(QThread::create([this] {
            QThread::msleep(100);
            QDir().mkpath(path("late"));
        }));
        maker->start();
        const bool ok = VHUtility::copyFile(path("src"), path("late/dst"), false, 20, 50);
        maker->wait();
        QVERIFY(ok);
        QCOMPARE(readFile(path("late/dst")), QByteArray("data"));
        QCOMPARE(log.count(QStringLiteral("copy file success after retry ")), 1);
    }

    void copyToAFullVolumeFailsAndLeavesNoHalfFile()
    {
        TinyVolume volume(path("tiny"));
        if (!volume.isMounted())
            QSKIP("needs root to mount a 64 KiB tmpfs");
        QVERIFY(writeFile(path("big"), randomBytes(200 * 1024)));
        QVERIFY(writeFile(path("tiny/keep"), "previous"));
        bool copied = true;
        QVERIFY(!VHUtility::copyFile(path("big"), path("tiny/keep"), false, 2, 1, {}, false, 0, &copied));
        QVERIFY(!copied);
        QCOMPARE(treeOf(path("tiny")), QStringList({"keep"}));
        QCOMPARE(readFile(path("tiny/keep")), QByteArray("previous"));
        QVERIFY(writeFile(path("tree/big"), randomBytes(200 * 1024)));
        QVERIFY(!VHUtility::copyFolder(path("tree"), path("tiny/tree")));
        QCOMPARE(treeOf(path("tiny/tree")), QStringList());
    }

    void copyFolderCopiesVisibleFilesRecursively()
    {
        QVERIFY(writeFile(path("s/a.txt"), "a"));
        QVERIFY(writeFile(path("s/.hidden"), "h"));
        QVERIFY(writeFile(path("s/sub/b.txt"), "b"));
        QVERIFY(writeFile(path("s/.git/c.txt"), "c"));
        QVERIFY(QFile::link(path("s"), path("s/sub/loop")));
        QVERIFY(writeFile(path("d/README.TXT"), "old"));
        QVERIFY(writeFile(path("s/readme.txt"), "new"));
        QStringList copied;
        QVERIFY(VHUtility::copyFolder(path("s"), path("d"), {}, &copied));
        // The user's folders keep exact names: a file of the user's in another spelling is left alone.
        QCOMPARE(treeOf(path("d")), QStringList({"README.TXT", "a.txt", "readme.txt", "sub", "sub/b.txt"}));
        QCOMPARE(readFile(path("d/README.TXT")), QByteArray("old"));
        QCOMPARE(readFile(path("d/readme.txt")), QByteArray("new"));
        QCOMPARE(copied, QStringList({path("d/a.txt"), path("d/readme.txt"), path("d/sub/b.txt")}));

        QVERIFY(VHUtility::copyFolder(path("absent"), path("x")));
        QVERIFY(!QFileInfo::exists(path("x")));
        QVERIFY(!VHUtility::copyFolder(path("s"), path("no/parent")));
    }

    void removeFileHandlesReadOnlyAndMissingFiles()
    {
        QVERIFY(writeFile(path("ro.txt"), "x"));
        QVERIFY(QFile::setPermissions(path("ro.txt"), QFileDevice::ReadOwner));
        QVERIFY(VHUtility::clearReadOnly(path("ro.txt")));
        QVERIFY(QFileInfo(path("ro.txt")).permissions() & QFileDevice::WriteOwner);
        QVERIFY(QFile::setPermissions(path("ro.txt"), QFileDevice::ReadOwner));
        QVERIFY(VHUtility::removeFile(path("ro.txt")));
        QVERIFY(!QFileInfo::exists(path("ro.txt")));
        QVERIFY(VHUtility::removeFile(QString()));
        QVERIFY(VHUtility::removeFile(path("never")));
        QVERIFY(!VHUtility::clearReadOnly(path("never")));

        // Exact names in the user's folders: another spelling is another file.
        QVERIFY(writeFile(path("Notes.TXT"), "mine"));
        QVERIFY(VHUtility::removeFile(path("notes.txt")));
        QCOMPARE(readFile(path("Notes.TXT")), QByteArray("mine"));
        QVERIFY(writeFile(path("other"), "other"));
        QVERIFY(VHUtility::copyFile(path("other"), path("notes.txt"), true, 1, 0));
        QCOMPARE(readFile(path("Notes.TXT")), QByteArray("mine"));

        QDir().mkpath(path("adir"));
        LogCapture log;
        QVERIFY(!VHUtility::removeFile(path("adir")));
        QCOMPARE(log.count(QStringLiteral(" delete file failed")), 1);
    }

    void removeFolderRemovesHiddenAndReadOnlyEntriesButNotLinkTargets()
    {
        QVERIFY(writeFile(path("keep/precious.txt"), "p"));
        QVERIFY(writeFile(path("f/.hidden/x"), "x"));
        QVERIFY(writeFile(path("f/sub/ro.txt"), "r"));
        QVERIFY(QFile::setPermissions(path("f/sub/ro.txt"), QFileDevice::ReadOwner));
        QVERIFY(QFile::link(path("keep"), path("f/sub/link")));
        QVERIFY(VHUtility::removeFolder(path("f")));
        QVERIFY(!QFileInfo::exists(path("f")));
        QCOMPARE(readFile(path("keep/precious.txt")), QByteArray("p"));
        QVERIFY(VHUtility::removeFolder(path("f")));

        QVERIFY(writeFile(path("g/sub/a"), "a"));
        QVERIFY(QFile::link(path("keep"), path("g/link")));
        QVERIFY(VHUtility::removeDirectory(path("g/")));
        QVERIFY(!QFileInfo::exists(path("g")));
        QCOMPARE(readFile(path("keep/precious.txt")), QByteArray("p"));
        // A link given as the folder is removed; its target keeps what it holds.
        QVERIFY(QFile::link(path("keep"), path("linked")));
        QVERIFY(VHUtility::removeDirectory(path("linked")));
        QVERIFY(!QFileInfo(path("linked")).isSymLink());
        QCOMPARE(readFile(path("keep/precious.txt")), QByteArray("p"));
        // removeDirectory leaves hidden entries alone, so their folder stays.
        QVERIFY(writeFile(path("h/.hidden"), "h"));
        QVERIFY(!VHUtility::removeDirectory(path("h")));
        QVERIFY(QFileInfo::exists(path("h/.hidden")));
    }

    void treesOfAnyDepthAreRemoved_data()
    {
        QTest::addColumn<bool>("unpacked");
        QTest::addColumn<bool>("keepsHidden");
        QTest::addColumn<int>("levels");
        QTest::addColumn<QByteArray>("name");
        // Long names pass PATH_MAX in fewer levels, which keeps the test quick.
        const QByteArray longName(24, 'n');
        QTest::newRow("5,000 levels, removeFolder") << false << false << 5000 << QByteArray("d");
        QTest::newRow("500 levels, removeDirectory") << false << true << 500 << longName;
        QTest::newRow("unpacked package, removeFolder") << true << false << 200 << longName;
    }

    // Folders nested past PATH_MAX, as a package can unpack them, must not stay for good.
    void treesOfAnyDepthAreRemoved()
    {
        QFETCH(bool, unpacked);
        QFETCH(bool, keepsHidden);
        QFETCH(int, levels);
        QFETCH(QByteArray, name);
        QVERIFY(writeFile(path("keep/precious.txt"), "p"));
        const QString top = path("t");
        if (unpacked) {
            const QByteArray deep = (name + '/').repeated(levels);
            QVERIFY(deep.size() > PATH_MAX);
            QVERIFY(ZipBuilder::write(path("deep.zip"), {{deep + "f.txt", "f"}, {deep, {}}}));
            QVERIFY(VHZipUtil().decompress(path("deep.zip"), top));
        } else {
            QVERIFY(makeDeepTree(top, levels, name, QFile::encodeName(path("keep"))));
        }
        // One descriptor per level would run out long before the bottom.
        struct rlimit previous;
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &previous) == 0);
        const struct rlimit few = {rlim_t(openDescriptors() + 2 * VHTreeRemover::kOpenLevels), previous.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &few) == 0);
        const bool removed = keepsHidden ? VHUtility::removeDirectory(top) : VHUtility::removeFolder(top);
        ::setrlimit(RLIMIT_NOFILE, &previous);
        QVERIFY(removed);
        QVERIFY(!QFileInfo::exists(top));
        QCOMPARE(readFile(path("keep/precious.txt")), QByteArray("p"));
    }

    // The FIT device fails its action on false, so a folder left behind must say so.
    void folderThatCannotBeEmptiedGivesFalse()
    {
        QVERIFY(writeFile(path("w/a/sibling.txt"), "s"));
        TinyVolume busy(path("w/mnt"));
        if (!busy.isMounted())
            QSKIP("needs root to mount a tmpfs");
        QVERIFY(!VHUtility::removeDirectory(path("w")));
        QVERIFY(!VHUtility::removeFolder(path("w")));
        QCOMPARE(treeOf(path("w")), QStringList({"mnt"}));
    }

    void listAndCountFiles()
    {
        QVERIFY(writeFile(path("t/B_eng_.bft"), "1"));
        QVERIFY(writeFile(path("t/a.txt"), "1"));
        QVERIFY(writeFile(path("t/.hidden_ENG_"), "1"));
        QVERIFY(writeFile(path("t/sub/deeper/c_Eng_.bft"), "1"));
        QVERIFY(QFile::link(path("t/a.txt"), path("t/sub/link_eng_")));
        QVERIFY(QFile::link(path("t"), path("t/sub/loop")));
        QCOMPARE(VHUtility::countFiles(path("t"), QString()), qint64(4));
        QCOMPARE(VHUtility::countFiles(path("t"), QStringLiteral("_eng_")), qint64(3));
        QStringList listed;
        VHUtility::listFiles(path("t"), listed);
        QCOMPARE(listed, QStringList({path("t/a.txt"), path("t/B_eng_.bft"), path("t/sub/deeper/c_Eng_.bft"),
                                      path("t/sub/link_eng_")}));
    }

    void renameAllRenamesWhatMatches()
    {
        QVERIFY(writeFile(path("a.tmp"), "a"));
        QVERIFY(writeFile(path("b.tmp"), "b"));
        QVERIFY(writeFile(path("b.bin"), "old b"));
        QStringList paths = {path("a.tmp"), path("b.tmp")};
        const QStringList before = paths;
        QVERIFY(VHUtility::renameAll(paths, QStringLiteral(".zzz"), QStringLiteral(".bin")));
        QCOMPARE(paths, before);
        QVERIFY(VHUtility::renameAll(paths, QStringLiteral(".tmp"), QStringLiteral(".bin")));
        QCOMPARE(paths, QStringList({path("a.bin"), path("b.bin")}));
        QCOMPARE(readFile(path("b.bin")), QByteArray("b"));
        QCOMPARE(treeOf(m_dir->path()), QStringList({"a.bin", "b.bin"}));

        // One failure does not stop the others.
        QVERIFY(writeFile(path("c.tmp"), "c"));
        QStringList broken = {path("gone.tmp"), path("c.tmp")};
        QVERIFY(!VHUtility::renameAll(broken, QStringLiteral(".tmp"), QStringLiteral(".x")));
        QCOMPARE(broken, QStringList({path("gone.tmp"), path("c.x")}));
        QCOMPARE(readFile(path("c.x")), QByteArray("c"));
    }

    void utcTimesIgnoreTheLocalZone()
    {
        // The test runs with TZ=Europe/Berlin: 2023-03-26 02:30 does not exist there.
        const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
        QCOMPARE(VHUtility::formatUtcTime(0, format), QStringLiteral("1970-01-01 00:00:00"));
        QCOMPARE(VHUtility::parseUtcTime(QStringLiteral("2023-03-26 02:30:00"), format), 1679797800);
        QCOMPARE(VHUtility::formatUtcTime(1679797800, format), QStringLiteral("2023-03-26 02:30:00"));
        QCOMPARE(VHUtility::parseUtcTime(QStringLiteral("not a time"), format), 0);
        QCOMPARE(VHUtility::parseUtcTime(QStringLiteral("20240229"), QStringLiteral("yyyyMMdd")), 1709164800);
    }

    void supportedLanguagesComeFromTheFileNames()
    {
        QVERIFY(ZipBuilder::write(
            path("pack.zip"),
            {{"font_eng_12.bft", "e"}, {"font_chi_12.bft", "c"}, {"release.ini", "r"}, {"x_zho_fre_.bft", "z"}}));
        QVERIFY(writeFile(path("work/stale.txt"), "old"));
        QStringList languages;
        QVERIFY(VHUtility::getSupportLanguage(path("pack.zip"), path("work"), languages));
        QCOMPARE(languages, QStringList({"Chinese Simplified", "English", "French", "Chinese Traditional"}));
        QVERIFY(!QFileInfo::exists(path("work/stale.txt")));

        LogCapture log;
        QVERIFY(!VHUtility::getSupportLanguage(path("none.zip"), path("work"), languages));
        QCOMPARE(log.count(QStringLiteral("can not decompress file: ") + path("none.zip")), 1);
    }
};

QTEST_GUILESS_MAIN(TestVHUtility)
#include "tst_VHUtility.moc"
