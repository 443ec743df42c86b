// The restore files beside a package: what is accepted into the updates
// folder's "restore", and that a refused archive keeps the earlier files.

#include "VHPackageServer.h"
#include "VHRestoreFetcher.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "VHTestIoThreads.h"
#include "VHTestZip.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Entries = QList<QPair<QString, QByteArray>>;

class TestRestoreFetcher : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;

    QString updates() const { return m_work.filePath(QStringLiteral("updates")); }
    QString restored(const QString &name) const { return updates() + QStringLiteral("/restore/") + name; }

private slots:
    void initTestCase() { initTestEnv(m_work.filePath(QStringLiteral("xdg"))); }

    void init()
    {
        QDir(updates()).removeRecursively();
        QVERIFY(writeFile(restored(QStringLiteral("old.bin")), "old"));
    }

    void install_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain files") << Entries{{"LINDEN.bin", "image"}, {"LINDENExData.bin", "data"}} << true;
        QTest::newRow("a file below a folder") << Entries{{"LINDEN.bin", "image"}, {"sub/x.bin", "x"}} << false;
    }
    void install()
    {
        QFETCH(Entries, entries);
        QFETCH(bool, ok);
        const QString zip = zipFiles(m_work.filePath(QStringLiteral("r%1.zip").arg(QTest::currentDataTag())), entries);
        QVERIFY(!zip.isEmpty());
        QString error;
        QCOMPARE(VHRestoreFetcher::install(zip, updates(), error), ok);
        // Swapped in whole, or not at all.
        QCOMPARE(QFileInfo::exists(restored(QStringLiteral("old.bin"))), !ok);
        QCOMPARE(QFileInfo::exists(restored(QStringLiteral("LINDEN.bin"))), ok);
        QVERIFY(!QFileInfo::exists(updates() + QStringLiteral("/restore.new")));
    }

    void fetch_data()
    {
        QTest::addColumn<bool>("rightChecksum");
        QTest::newRow("checksum matches") << true;
        QTest::newRow("checksum differs") << false;
    }
    void fetch()
    {
        QFETCH(bool, rightChecksum);
        QTemporaryDir root;
        VHPackageServer server(root.path());
        QVERIFY(server.listen());
        const QString zip = zipFiles(m_work.filePath(QStringLiteral("fetch.zip")), {{"LINDEN.bin", "image"}});
        QVERIFY(VHPackageServer::publishRestore(root.path(), QStringLiteral("Pacer40"), zip, QStringLiteral("R1")));
        QVERIFY(VHRestoreFetcher::isNeeded(updates(), QStringLiteral("R1")));
        VHRestoreFetcher fetcher;
        QSignalSpy finished(&fetcher, &VHRestoreFetcher::finished);
        const auto writes = VHTestIoThreads::install(updates(), VHSys::Op::Write);
        const QString md5 = rightChecksum ? VHPackageServer::fileMd5(zip) : QString(32, QLatin1Char('0'));
        fetcher.fetch(QUrl(server.baseUrl() + QStringLiteral("/packages/Pacer40/restore.zip")), md5,
                      QStringLiteral("R1"), updates());
        QVERIFY(finished.wait(15000));
        QVERIFY(!fetcher.isFetching());
        QCOMPARE(finished.first().first().toBool(), rightChecksum);
        // Checked and unpacked off the caller's thread (a GUI thread in the updater).
        QCOMPARE(writes->onHomeThread.load(), 0);
        QCOMPARE(writes->elsewhere > 0, rightChecksum);
        QCOMPARE(QFileInfo::exists(restored(QStringLiteral("LINDEN.bin"))), rightChecksum);
        QCOMPARE(QFileInfo::exists(restored(QStringLiteral("old.bin"))), !rightChecksum);
        // Fetched once per version.
        QCOMPARE(VHRestoreFetcher::isNeeded(updates(), QStringLiteral("R1")), !rightChecksum);
        QVERIFY(!QFileInfo::exists(updates() + QStringLiteral("/restore.zip")));
    }
};

QTEST_MAIN(TestRestoreFetcher)
#include "tst_RestoreFetcher.moc"
