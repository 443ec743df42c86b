#include "TestSupport.h"

#include "VHIniDocument.h"
#include "VHSafeFolder.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/stat.h>

// Writes and reads on a volume whose entries may be links planted to reach the
// user's files; "outside" stands for the user's home.
class TestVHSafeFolder : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString volume() const { return path("vol"); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(writeFile(path("outside/user.txt"), "user data"));
        QDir().mkpath(volume());
    }

    void writesReplaceALinkInsteadOfItsTarget_data()
    {
        QTest::addColumn<QString>("linkName");
        QTest::addColumn<QString>("writtenName");
        QTest::newRow("same name") << "update.ini"
                                   << "update.ini";
        QTest::newRow("other spelling") << "UPDATE.INI"
                                        << "update.ini";
    }
    void writesReplaceALinkInsteadOfItsTarget()
    {
        QFETCH(QString, linkName);
        QFETCH(QString, writtenName);
        QVERIFY(QFile::link(path("outside/user.txt"), volume() + QLatin1Char('/') + linkName));
        VHSafeFolder root = VHSafeFolder::open(volume(), QString(), VHSafeFolder::FatNames);
        QVERIFY(root.isValid());
        QVERIFY(root.writeFile(writtenName, QByteArray()));
        QCOMPARE(readFile(path("outside/user.txt")), QByteArray("user data"));
        QCOMPARE(treeOf(volume()), QStringList({linkName}));
        QVERIFY(!QFileInfo(volume() + QLatin1Char('/') + linkName).isSymLink());

        QVERIFY(QFile::link(path("outside/user.txt"), volume() + QStringLiteral("/img.bin")));
        QVERIFY(writeFile(path("src.bin"), "image"));
        QCOMPARE(root.copyFileInto(QStringLiteral("img.bin"), path("src.bin")), 0);
        QCOMPARE(readFile(volume() + QStringLiteral("/img.bin")), QByteArray("image"));
        QByteArray bytes;
        QVERIFY(root.readFile(QStringLiteral("img.bin"), 100, bytes));
        QCOMPARE(bytes, QByteArray("image"));
        QCOMPARE(readFile(path("outside/user.txt")), QByteArray("user data"));
    }

    void streamedFilesTakeTheirNameOnlyWhenPlaced()
    {
        VHSafeFolder root = VHSafeFolder::open(volume(), QString());
        QVERIFY(writeFile(volume() + QStringLiteral("/Total.zip"), "old"));
        {
            VHFileOps::PendingFile dropped = root.newFile();
            QVERIFY(dropped.isValid());
            QCOMPARE(dropped.write("half", 4), 0);
        }
        QCOMPARE(treeOf(volume()), QStringList({"Total.zip"}));
        QCOMPARE(readFile(volume() + QStringLiteral("/Total.zip")), QByteArray("old"));

        VHFileOps::PendingFile file = root.newFile();
        QCOMPARE(file.write("new", 3), 0);
        QCOMPARE(root.placeFile(file, QStringLiteral("Total.zip")), 0);
        QCOMPARE(treeOf(volume()), QStringList({"Total.zip"}));
        QCOMPARE(readFile(volume() + QStringLiteral("/Total.zip")), QByteArray("new"));
    }

    // State files of our own folders: a link of that name is replaced, a
    // relative path means the current folder, a missing folder says why.
    void stateFilesAreReplacedWhole()
    {
        QVERIFY(QFile::link(path("outside/user.txt"), volume() + QStringLiteral("/version.txt")));
        QVERIFY(VHSafeFolder::replaceFile(volume() + QStringLiteral("/version.txt"), "2.0"));
        QCOMPARE(readFile(volume() + QStringLiteral("/version.txt")), QByteArray("2.0"));
        QCOMPARE(readFile(path("outside/user.txt")), QByteArray("user data"));

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(volume()));
        const bool relative = VHSafeFolder::replaceFile(QStringLiteral("date.txt"), "stamp");
        QDir::setCurrent(previous);
        QVERIFY(relative);
        QCOMPARE(readFile(volume() + QStringLiteral("/date.txt")), QByteArray("stamp"));

        QString error;
        QVERIFY(!VHSafeFolder::replaceFile(volume() + QStringLiteral("/missing/date.txt"), "x", &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(treeOf(volume()), QStringList({"date.txt", "version.txt"}));
    }

    void foldersAreNeverEnteredThroughLinks()
    {
        QVERIFY(QFile::link(path("outside"), volume() + QStringLiteral("/System")));
        VHSafeFolder system =
            VHSafeFolder::open(volume(), QStringLiteral("System"), VHSafeFolder::Create | VHSafeFolder::FatNames);
        QVERIFY(!system.isValid());
        QVERIFY(!VHSafeFolder::writeFileBelow(volume(), volume() + QStringLiteral("/System/date.txt"), "x"));
        QByteArray bytes;
        QVERIFY(!VHSafeFolder::readFileBelow(volume(), volume() + QStringLiteral("/System/user.txt"), 100, bytes));
        QCOMPARE(treeOf(path("outside")), QStringList({"user.txt"}));

        // Missing folders are made, in the spelling that exists where one does.
        QDir().mkpath(volume() + QStringLiteral("/Maps"));
        VHSafeFolder deep = VHSafeFolder::open(volume(), QStringLiteral("maps/new/deeper"),
                                               VHSafeFolder::Create | VHSafeFolder::FatNames);
        QVERIFY(deep.isValid());
        QCOMPARE(deep.path(), volume() + QStringLiteral("/Maps/new/deeper"));
        QVERIFY(!VHSafeFolder::open(volume(), QStringLiteral("a/../b"), VHSafeFolder::Create).isValid());
    }

    void readsOnlyRegularFilesUpToTheCap()
    {
        QVERIFY(writeFile(volume() + QStringLiteral("/Device.TXT"), "12345678"));
        QVERIFY(QFile::link(path("outside/user.txt"), volume() + QStringLiteral("/link.txt")));
        QVERIFY(::mkfifo(QFile::encodeName(volume() + QStringLiteral("/fifo")).constData(), 0600) == 0);
        VHSafeFolder root = VHSafeFolder::open(volume(), QString(), VHSafeFolder::FatNames);
        QByteArray bytes;
        QVERIFY(root.readFile(QStringLiteral("device.txt"), 8, bytes));
        QCOMPARE(bytes, QByteArray("12345678"));
        QVERIFY(!root.readFile(QStringLiteral("device.txt"), 7, bytes));
        QVERIFY(bytes.isEmpty());
        QVERIFY(!root.readFile(QStringLiteral("link.txt"), 100, bytes));
        QVERIFY(!root.readFile(QStringLiteral("fifo"), 100, bytes)); // must not hang either
        QCOMPARE(root.kindOf(QStringLiteral("link.txt")), VHSafeFolder::Kind::Other);
        QCOMPARE(root.kindOf(QStringLiteral("DEVICE.txt")), VHSafeFolder::Kind::File);
    }

    void removalTakesEverySpellingAndLinksButNotTargets()
    {
        QVERIFY(writeFile(volume() + QStringLiteral("/update.ini"), ""));
        QVERIFY(writeFile(volume() + QStringLiteral("/Update.INI"), ""));
        QVERIFY(QFile::link(path("outside/user.txt"), volume() + QStringLiteral("/UPDATE.ini")));
        QDir().mkpath(volume() + QStringLiteral("/keep"));
        VHSafeFolder root = VHSafeFolder::open(volume(), QString(), VHSafeFolder::FatNames);
        QVERIFY(root.removeFile(QStringLiteral("update.ini")));
        QCOMPARE(treeOf(volume()), QStringList({"keep"}));
        QVERIFY(!root.removeFile(QStringLiteral("KEEP")));
        QCOMPARE(readFile(path("outside/user.txt")), QByteArray("user data"));
    }

    void leftoversOfAnInterruptedCopyAreRemoved()
    {
        QVERIFY(writeFile(volume() + QStringLiteral("/.vhtmp-4711-3"), "half"));
        QVERIFY(writeFile(volume() + QStringLiteral("/.vhtmp-notours"), "user"));
        QVERIFY(writeFile(volume() + QStringLiteral("/.vhtmp-1-2-3"), "user"));
        VHSafeFolder root = VHSafeFolder::open(volume(), QString());
        QCOMPARE(root.removeLeftovers(), 1);
        QCOMPARE(treeOf(volume()), QStringList({".vhtmp-1-2-3", ".vhtmp-notours"}));
        // A failed copy leaves nothing of its own behind.
        QVERIFY(root.copyFileInto(QStringLiteral("x"), path("missing")) != 0);
        QDir().mkpath(volume() + QStringLiteral("/dir"));
        QVERIFY(writeFile(path("src"), "data"));
        QVERIFY(root.copyFileInto(QStringLiteral("dir"), path("src")) != 0);
        QCOMPARE(treeOf(volume()), QStringList({".vhtmp-1-2-3", ".vhtmp-notours", "dir"}));
    }

    void iniEditsKeepEveryOtherByte_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("insert, CRLF kept")
            << QByteArray("; mine\r\n[UUID]\r\nUUID=1\r\n[MODEL]\r\nModel=X\r\n")
            << QByteArray("; mine\r\n[UUID]\r\nVH=1\r\nUUID=1\r\n[MODEL]\r\nModel=X\r\n");
        QTest::newRow("replace") << QByteArray("[UUID]\nVH = 0 ; old\nUUID=1\n")
                                 << QByteArray("[UUID]\nVH=1\nUUID=1\n");
        QTest::newRow("already there") << QByteArray("[UUID]\nUUID=1\nVH=1") << QByteArray("[UUID]\nUUID=1\nVH=1");
        QTest::newRow("header without ending") << QByteArray("[UUID]") << QByteArray("[UUID]\nVH=1");
        QTest::newRow("no group") << QByteArray("[MODEL]\nModel=X") << QByteArray("[MODEL]\nModel=X\n[UUID]\nVH=1\n");
    }
    void iniEditsKeepEveryOtherByte()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QCOMPARE(VHIniDocument(before).withValue(QStringLiteral("UUID"), QStringLiteral("VH"), QStringLiteral("1")),
                 after);
    }

    void iniValuesAndGroupsInFileOrder()
    {
        const VHIniDocument ini("\xEF\xBB\xBF[OS]\nName=os.bin\nVersion=2\n[MODEL]\nName=M\n[Boot]\nName=\"a;b\"\n"
                                "[CAP]\nCOM=0,1,2 ; note\n[OS]\nVersion=3\n");
        QCOMPARE(ini.groups(), QStringList({"OS", "MODEL", "Boot", "CAP"}));
        QCOMPARE(ini.value(QStringLiteral("OS"), QStringLiteral("Version")), QStringLiteral("3"));
        QCOMPARE(ini.value(QStringLiteral("Boot"), QStringLiteral("Name")), QStringLiteral("a;b"));
        QCOMPARE(ini.value(QStringLiteral("CAP"), QStringLiteral("COM")), QStringLiteral("0,1,2"));
        QVERIFY(!ini.contains(QStringLiteral("CAP"), QStringLiteral("Name")));
    }
};

QTEST_GUILESS_MAIN(TestVHSafeFolder)
#include "tst_VHSafeFolder.moc"
