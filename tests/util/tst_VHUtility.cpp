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
        QVERIFY(writeFile(path(QStringLiteral("src.bin")), data));
        const QDateTime when(QDate(2021, 3, 4), QTime(5, 6, 7));
        setTime(path(QStringLiteral("src.bin")), when);
        QVERIFY(writeFile(path(QStringLiteral("out/dest.bin")), "older and shorter"));
        qint64 lastDone = 0, lastTotal = 0;
        bool copied = false;
        QVERIFY(VHUtility::copyFile(
            path(QStringLiteral("src.bin")), path(QStringLiteral("out/dest.bin")), false, 1, 0,
            [&](qint64 done, qint64 total) { lastDone = done, lastTotal = total; }, false, 0, &copied));
        QVERIFY(copied);
        QCOMPARE(readFile(path(QStringLiteral("out/dest.bin"))), data);
        QCOMPARE(QFileInfo(path(QStringLiteral("out/dest.bin"))).lastModified(), when);
        QCOMPARE(lastDone, data.size());
        QCOMPARE(lastTotal, data.size());
        QCOMPARE(treeOf(path(QStringLiteral("out"))), QStringList({"dest.bin"}));
    }

    void skipIfSameHonoursTheTolerance()
    {
        QVERIFY(writeFile(path(QStringLiteral("a")), "new content"));
        QVERIFY(writeFile(path(QStringLiteral("b")), "old content"));
        const QDateTime when(QDate(2022, 1, 1), QTime(12, 0, 0));
        setTime(path(QStringLiteral("a")), when);
        setTime(path(QStringLiteral("b")), when.addSecs(-2));
        bool copied = true;
        QVERIFY(VHUtility::copyFile(path(QStringLiteral("a")), path(QStringLiteral("b")), true, 3, 0, {}, true, 2,
                                    &copied));
        QVERIFY(!copied);
        QCOMPARE(readFile(path(QStringLiteral("b"))), QByteArray("old content"));

        LogCapture log;
        QVERIFY(VHUtility::copyFile(path(QStringLiteral("a")), path(QStringLiteral("b")), true, 3, 0, {}, true, 1,
                                    &copied));
        QVERIFY(copied);
        QCOMPARE(readFile(path(QStringLiteral("b"))), QByteArray("new content"));
        QCOMPARE(log.count(QStringLiteral("modified time=20220101")), 2);
        QCOMPARE(log.count(QStringLiteral("VHUtility::copyFile")), 2);
    }

    void failingCopyIsTriedTheGivenNumberOfTimes()
    {
        LogCapture log;
        QElapsedTimer timer;
        timer.start();
        bool copied = true;
        QVERIFY(!VHUtility::copyFile(path(QStringLiteral("missing")), path(QStringLiteral("d")), false, 10, 30, {},
                                     false, 0, &copied));
        QVERIFY(timer.elapsed() >= 9 * 30);
        QVERIFY(!copied);
        QCOMPARE(log.count(QStringLiteral("copy file failed start wait to retry, retry ")), 10);
        QCOMPARE(log.count(QStringLiteral(" win32 error code :")), 10);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("d"))));

        QVERIFY(!VHUtility::copyFile(path(QStringLiteral("missing")), path(QStringLiteral("d")), false, 0, 30));
        QCOMPARE(log.count(QStringLiteral("copy file failed")), 10);
    }

    void copySucceedsOnALaterAttempt()
    {
        QVERIFY(writeFile(path(QStringLiteral("src")), "data"));
        LogCapture log;
        // The destination folder appears while the copy waits to retry.
        std::unique_ptr<QThread> maker(QThread::create([this] {
            QThread::msleep(100);
            QDir().mkpath(path(QStringLiteral("late")));
        }));
        maker->start();
        const bool ok =
            VHUtility::copyFile(path(QStringLiteral("src")), path(QStringLiteral("late/dst")), false, 20, 50);
        maker->wait();
        QVERIFY(ok);
        QCOMPARE(readFile(path(QStringLiteral("late/dst"))), QByteArray("data"));
        QCOMPARE(log.count(QStringLiteral("copy file success after retry ")), 1);
    }

    void copyToAFullVolumeFailsAndLeavesNoHalfFile()
    {
        TinyVolume volume(path(QStringLiteral("tiny")));
        if (!volume.isMounted())
            QSKIP("needs root to mount a 64 KiB tmpfs");
        QVERIFY(writeFile(path(QStringLiteral("big")), randomBytes(200 * 1024)));
        QVERIFY(writeFile(path(QStringLiteral("tiny/keep")), "previous"));
        bool copied = true;
        QVERIFY(!VHUtility::copyFile(path(QStringLiteral("big")), path(QStringLiteral("tiny/keep")), false, 2, 1, {},
                                     false, 0, &copied));
        QVERIFY(!copied);
        QCOMPARE(treeOf(path(QStringLiteral("tiny"))), QStringList({"keep"}));
        QCOMPARE(readFile(path(QStringLiteral("tiny/keep"))), QByteArray("previous"));
        QVERIFY(writeFile(path(QStringLiteral("tree/big")), randomBytes(200 * 1024)));
        QVERIFY(!VHUtility::copyFolder(path(QStringLiteral("tree")), path(QStringLiteral("tiny/tree"))));
        QCOMPARE(treeOf(path(QStringLiteral("tiny/tree"))), QStringList());
    }

    void copyFolderCopiesVisibleFilesRecursively()
    {
        QVERIFY(writeFile(path(QStringLiteral("s/a.txt")), "a"));
        QVERIFY(writeFile(path(QStringLiteral("s/.hidden")), "h"));
        QVERIFY(writeFile(path(QStringLiteral("s/sub/b.txt")), "b"));
        QVERIFY(writeFile(path(QStringLiteral("s/.git/c.txt")), "c"));
        QVERIFY(QFile::link(path(QStringLiteral("s")), path(QStringLiteral("s/sub/loop"))));
        QVERIFY(writeFile(path(QStringLiteral("d/README.TXT")), "old"));
        QVERIFY(writeFile(path(QStringLiteral("s/readme.txt")), "new"));
        QStringList copied;
        QVERIFY(VHUtility::copyFolder(path(QStringLiteral("s")), path(QStringLiteral("d")), {}, &copied));
        // The user's folders keep exact names: a file of the user's in another spelling is left alone.
        QCOMPARE(treeOf(path(QStringLiteral("d"))),
                 QStringList({"README.TXT", "a.txt", "readme.txt", "sub", "sub/b.txt"}));
        QCOMPARE(readFile(path(QStringLiteral("d/README.TXT"))), QByteArray("old"));
        QCOMPARE(readFile(path(QStringLiteral("d/readme.txt"))), QByteArray("new"));
        QCOMPARE(copied, QStringList({path(QStringLiteral("d/a.txt")), path(QStringLiteral("d/readme.txt")),
                                      path(QStringLiteral("d/sub/b.txt"))}));

        QVERIFY(VHUtility::copyFolder(path(QStringLiteral("absent")), path(QStringLiteral("x"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("x"))));
        QVERIFY(!VHUtility::copyFolder(path(QStringLiteral("s")), path(QStringLiteral("no/parent"))));
    }

    void removeFileHandlesReadOnlyAndMissingFiles()
    {
        QVERIFY(writeFile(path(QStringLiteral("ro.txt")), "x"));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("ro.txt")), QFileDevice::ReadOwner));
        QVERIFY(VHUtility::clearReadOnly(path(QStringLiteral("ro.txt"))));
        QVERIFY(QFileInfo(path(QStringLiteral("ro.txt"))).permissions() & QFileDevice::WriteOwner);
        QVERIFY(QFile::setPermissions(path(QStringLiteral("ro.txt")), QFileDevice::ReadOwner));
        QVERIFY(VHUtility::removeFile(path(QStringLiteral("ro.txt"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("ro.txt"))));
        QVERIFY(VHUtility::removeFile(QString()));
        QVERIFY(VHUtility::removeFile(path(QStringLiteral("never"))));
        QVERIFY(!VHUtility::clearReadOnly(path(QStringLiteral("never"))));

        // Exact names in the user's folders: another spelling is another file.
        QVERIFY(writeFile(path(QStringLiteral("Notes.TXT")), "mine"));
        QVERIFY(VHUtility::removeFile(path(QStringLiteral("notes.txt"))));
        QCOMPARE(readFile(path(QStringLiteral("Notes.TXT"))), QByteArray("mine"));
        QVERIFY(writeFile(path(QStringLiteral("other")), "other"));
        QVERIFY(VHUtility::copyFile(path(QStringLiteral("other")), path(QStringLiteral("notes.txt")), true, 1, 0));
        QCOMPARE(readFile(path(QStringLiteral("Notes.TXT"))), QByteArray("mine"));

        QDir().mkpath(path(QStringLiteral("adir")));
        LogCapture log;
        QVERIFY(!VHUtility::removeFile(path(QStringLiteral("adir"))));
        QCOMPARE(log.count(QStringLiteral(" delete file failed")), 1);
    }

    void removeFolderRemovesHiddenAndReadOnlyEntriesButNotLinkTargets()
    {
        QVERIFY(writeFile(path(QStringLiteral("keep/precious.txt")), "p"));
        QVERIFY(writeFile(path(QStringLiteral("f/.hidden/x")), "x"));
        QVERIFY(writeFile(path(QStringLiteral("f/sub/ro.txt")), "r"));
        QVERIFY(QFile::setPermissions(path(QStringLiteral("f/sub/ro.txt")), QFileDevice::ReadOwner));
        QVERIFY(QFile::link(path(QStringLiteral("keep")), path(QStringLiteral("f/sub/link"))));
        QVERIFY(VHUtility::removeFolder(path(QStringLiteral("f"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("f"))));
        QCOMPARE(readFile(path(QStringLiteral("keep/precious.txt"))), QByteArray("p"));
        QVERIFY(VHUtility::removeFolder(path(QStringLiteral("f"))));

        QVERIFY(writeFile(path(QStringLiteral("g/sub/a")), "a"));
        QVERIFY(QFile::link(path(QStringLiteral("keep")), path(QStringLiteral("g/link"))));
        QVERIFY(VHUtility::removeDirectory(path(QStringLiteral("g/"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("g"))));
        QCOMPARE(readFile(path(QStringLiteral("keep/precious.txt"))), QByteArray("p"));
        // A link given as the folder is removed; its target keeps what it holds.
        QVERIFY(QFile::link(path(QStringLiteral("keep")), path(QStringLiteral("linked"))));
        QVERIFY(VHUtility::removeDirectory(path(QStringLiteral("linked"))));
        QVERIFY(!QFileInfo(path(QStringLiteral("linked"))).isSymLink());
        QCOMPARE(readFile(path(QStringLiteral("keep/precious.txt"))), QByteArray("p"));
        // removeDirectory leaves hidden entries alone, so their folder stays.
        QVERIFY(writeFile(path(QStringLiteral("h/.hidden")), "h"));
        QVERIFY(!VHUtility::removeDirectory(path(QStringLiteral("h"))));
        QVERIFY(QFileInfo::exists(path(QStringLiteral("h/.hidden"))));
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
        QVERIFY(writeFile(path(QStringLiteral("keep/precious.txt")), "p"));
        const QString top = path(QStringLiteral("t"));
        if (unpacked) {
            const QByteArray deep = (name + '/').repeated(levels);
            QVERIFY(deep.size() > PATH_MAX);
            QVERIFY(ZipBuilder::write(path(QStringLiteral("deep.zip")), {{deep + "f.txt", "f"}, {deep, {}}}));
            QVERIFY(VHZipUtil().decompress(path(QStringLiteral("deep.zip")), top));
        } else {
            QVERIFY(makeDeepTree(top, levels, name, QFile::encodeName(path(QStringLiteral("keep")))));
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
        QCOMPARE(readFile(path(QStringLiteral("keep/precious.txt"))), QByteArray("p"));
    }

    // The FIT device fails its action on false, so a folder left behind must say so.
    void folderThatCannotBeEmptiedGivesFalse()
    {
        QVERIFY(writeFile(path(QStringLiteral("w/a/sibling.txt")), "s"));
        TinyVolume busy(path(QStringLiteral("w/mnt")));
        if (!busy.isMounted())
            QSKIP("needs root to mount a tmpfs");
        QVERIFY(!VHUtility::removeDirectory(path(QStringLiteral("w"))));
        QVERIFY(!VHUtility::removeFolder(path(QStringLiteral("w"))));
        QCOMPARE(treeOf(path(QStringLiteral("w"))), QStringList({"mnt"}));
    }

    void listAndCountFiles()
    {
        QVERIFY(writeFile(path(QStringLiteral("t/B_eng_.bft")), "1"));
        QVERIFY(writeFile(path(QStringLiteral("t/a.txt")), "1"));
        QVERIFY(writeFile(path(QStringLiteral("t/.hidden_ENG_")), "1"));
        QVERIFY(writeFile(path(QStringLiteral("t/sub/deeper/c_Eng_.bft")), "1"));
        QVERIFY(QFile::link(path(QStringLiteral("t/a.txt")), path(QStringLiteral("t/sub/link_eng_"))));
        QVERIFY(QFile::link(path(QStringLiteral("t")), path(QStringLiteral("t/sub/loop"))));
        QCOMPARE(VHUtility::countFiles(path(QStringLiteral("t")), QString()), qint64(4));
        QCOMPARE(VHUtility::countFiles(path(QStringLiteral("t")), QStringLiteral("_eng_")), qint64(3));
        QStringList listed;
        VHUtility::listFiles(path(QStringLiteral("t")), listed);
        QCOMPARE(listed, QStringList({path(QStringLiteral("t/a.txt")), path(QStringLiteral("t/B_eng_.bft")),
                                      path(QStringLiteral("t/sub/deeper/c_Eng_.bft")),
                                      path(QStringLiteral("t/sub/link_eng_"))}));
    }

    void renameAllRenamesWhatMatches()
    {
        QVERIFY(writeFile(path(QStringLiteral("a.tmp")), "a"));
        QVERIFY(writeFile(path(QStringLiteral("b.tmp")), "b"));
        QVERIFY(writeFile(path(QStringLiteral("b.bin")), "old b"));
        QStringList paths = {path(QStringLiteral("a.tmp")), path(QStringLiteral("b.tmp"))};
        const QStringList before = paths;
        QVERIFY(VHUtility::renameAll(paths, QStringLiteral(".zzz"), QStringLiteral(".bin")));
        QCOMPARE(paths, before);
        QVERIFY(VHUtility::renameAll(paths, QStringLiteral(".tmp"), QStringLiteral(".bin")));
        QCOMPARE(paths, QStringList({path(QStringLiteral("a.bin")), path(QStringLiteral("b.bin"))}));
        QCOMPARE(readFile(path(QStringLiteral("b.bin"))), QByteArray("b"));
        QCOMPARE(treeOf(m_dir->path()), QStringList({"a.bin", "b.bin"}));

        // One failure does not stop the others.
        QVERIFY(writeFile(path(QStringLiteral("c.tmp")), "c"));
        QStringList broken = {path(QStringLiteral("gone.tmp")), path(QStringLiteral("c.tmp"))};
        QVERIFY(!VHUtility::renameAll(broken, QStringLiteral(".tmp"), QStringLiteral(".x")));
        QCOMPARE(broken, QStringList({path(QStringLiteral("gone.tmp")), path(QStringLiteral("c.x"))}));
        QCOMPARE(readFile(path(QStringLiteral("c.x"))), QByteArray("c"));
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
            path(QStringLiteral("pack.zip")),
            {{"font_eng_12.bft", "e"}, {"font_chi_12.bft", "c"}, {"release.ini", "r"}, {"x_zho_fre_.bft", "z"}}));
        QVERIFY(writeFile(path(QStringLiteral("work/stale.txt")), "old"));
        QStringList languages;
        QVERIFY(
            VHUtility::getSupportLanguage(path(QStringLiteral("pack.zip")), path(QStringLiteral("work")), languages));
        QCOMPARE(languages, QStringList({"Chinese Simplified", "English", "French", "Chinese Traditional"}));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("work/stale.txt"))));

        LogCapture log;
        QVERIFY(
            !VHUtility::getSupportLanguage(path(QStringLiteral("none.zip")), path(QStringLiteral("work")), languages));
        QCOMPARE(log.count(QStringLiteral("can not decompress file: ") + path(QStringLiteral("none.zip"))), 1);
    }
};

QTEST_GUILESS_MAIN(TestVHUtility)
#include "tst_VHUtility.moc"
