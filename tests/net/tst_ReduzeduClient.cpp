#include "NetTestSupport.h"
#include "ReduzeduClient.h"

#include <QTest>
#include <QThread>
#include <QtEndian>

#include <ctime>
#include <unistd.h>

namespace {

QDateTime fifthOfMarchAt(int hour, int minute = 0) { return QDateTime(QDate(2024, 3, 5), QTime(hour, minute)); }

QString folder() { return VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer"); }
QString dataFile() { return folder() + QStringLiteral("/AssitOff.alp"); }
QString stampFile() { return folder() + QStringLiteral("/date.txt"); }

// A client with a delegate that records what it is told, on which thread, and
// the stamp as the controller, reading it right away, would find it; the
// client's clock stands at 18:00 on 5 March.
struct Fetcher : ReduzeduClientDelegate
{
    QList<bool> results;
    QList<QThread *> threads;
    QByteArray stampAtNotice;
    ReduzeduClient client{this};
    Fetcher()
    {
        client.setClock([] { return fifthOfMarchAt(18); });
    }
    void onReduzeduFinished(bool ok) override
    {
        results.append(ok);
        threads.append(QThread::currentThread());
        stampAtNotice = readFile(stampFile());
    }
};

QByteArray bigEndian(qint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

// 19 March 2024 00:00 in New York (daylight-saving time began on 10 March).
constexpr qint32 k19MarchNewYork = 1710820800;

} // namespace

// Runs in New York time (set in initTestCase), so a stamp computed in UTC, or
// as a fixed number of seconds across the clock change, is caught.
class TestReduzeduClient : public QObject
{
    Q_OBJECT

    NetTestWorld m_world;
    const QByteArray m_alpData = QByteArray("\xb5\x62\x0b\x50 assist data for fourteen days", 34).repeated(300);
    const QByteArray m_sevenDayData = QByteArray("\xb5\x62\x0b\x50 seven days", 15).repeated(100);

    static bool inNewYorkTime() { return fifthOfMarchAt(18).offsetFromUtc() == -5 * 3600; }

    bool runDownload(Fetcher &fetcher, int days = 14)
    {
        fetcher.client.download(folder(), QStringLiteral("AssitOff.alp"), days);
        if (!QTest::qWaitFor([&] { return !fetcher.results.isEmpty(); }, 20000))
            qFatal("the fetch did not end");
        QTest::qWait(50);
        return fetcher.results.constFirst();
    }

    void putOldFiles()
    {
        writeFile(dataFile(), "old assist data");
        writeFile(stampFile(), bigEndian(1700000000));
    }

    void verifyOldFilesUntouched()
    {
        QCOMPARE(readFile(dataFile()), QByteArray("old assist data"));
        QCOMPARE(readFile(stampFile()), bigEndian(1700000000));
    }

private slots:
    void initTestCase()
    {
        // New York: its clock change on 10 March lies inside the 14 days the tests use.
        qputenv("TZ", "America/New_York");
        ::tzset();
        QVERIFY(inNewYorkTime());
        QVERIFY(m_world.start());
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/current_14d.alp"), m_alpData));
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/current_7d.alp"), m_sevenDayData));
    }

    void init() { m_world.reset(); }

    void expiryIsLocalMidnightAfterTheDays_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("days");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("18:00 on 5 March") << fifthOfMarchAt(18) << 14 << k19MarchNewYork;
        QTest::newRow("midnight on 5 March") << fifthOfMarchAt(0) << 14 << k19MarchNewYork;
        QTest::newRow("23:30, already the 6th in UTC") << fifthOfMarchAt(23, 30) << 14 << k19MarchNewYork;
        QTest::newRow("same moment given in UTC") << fifthOfMarchAt(23, 30).toUTC() << 14 << k19MarchNewYork;
        QTest::newRow("one day") << fifthOfMarchAt(12) << 1 << qint32(1709701200);
    }
    void expiryIsLocalMidnightAfterTheDays()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, days);
        QFETCH(qint32, expected);
        QCOMPARE(ReduzeduClient::expiryStamp(now, days), expected);
    }

    void fetchStoresDataAndStamp()
    {
        putOldFiles();
        Fetcher fetcher;
        QVERIFY(!fetcher.client.isDownloading());
        fetcher.client.download(folder(), QStringLiteral("AssitOff.alp"), 14);
        QVERIFY(fetcher.client.isDownloading());
        QTRY_COMPARE(fetcher.results, QList<bool>{true});
        QVERIFY(!fetcher.client.isDownloading());
        QCOMPARE(fetcher.threads, QList<QThread *>{fetcher.client.thread()});
        QCOMPARE(fetcher.stampAtNotice, bigEndian(k19MarchNewYork));
        QCOMPARE(m_world.server().requestTargets(), QStringList{QStringLiteral("/current_14d.alp")});
        QCOMPARE(readFile(dataFile()), m_alpData);
        QCOMPARE(readFile(stampFile()), bigEndian(k19MarchNewYork));
        QCOMPARE(folderEntries(folder()), QStringList({"AssitOff.alp", "date.txt"}));
    }

    void dayCountNamesTheFile()
    {
        Fetcher fetcher;
        QVERIFY(runDownload(fetcher, 7));
        QCOMPARE(m_world.server().requestTargets(), QStringList{QStringLiteral("/current_7d.alp")});
        QCOMPARE(readFile(dataFile()), m_sevenDayData);
    }

    void failedFetchKeepsBothFiles_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("logText");
        QTest::newRow("HTTP 500") << int(VHServerFault::Http500) << "http error=";
        QTest::newRow("empty body") << int(VHServerFault::EmptyBody) << "download failed - get no data";
        QTest::newRow("truncated body") << int(VHServerFault::TruncatedBody) << "http error=";
        QTest::newRow("stalled server") << int(VHServerFault::SlowReply) << "http error=";
        QTest::newRow("HTML page with 200")
            << int(VHServerFault::NonJsonBody) << "not assist data: content type text/html";
    }
    void failedFetchKeepsBothFiles()
    {
        QFETCH(int, fault);
        QFETCH(QString, logText);
        putOldFiles();
        m_world.server().setFault(QStringLiteral("/current_14d.alp"), VHServerFault(fault));
        m_world.server().setSlowPause(5000);
        LogWatch log;
        Fetcher fetcher;
        fetcher.client.setTransferTimeout(1000);
        QVERIFY(!runDownload(fetcher));
        QCOMPARE(fetcher.results.size(), 1);
        QVERIFY(!fetcher.client.isDownloading());
        QVERIFY2(log.contains(logText), qPrintable(log.text()));
        verifyOldFilesUntouched();
    }

    void replyThatCannotBeAssistDataIsRefused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("stored");
        QTest::newRow("one byte") << QByteArray("x") << false;
        QTest::newRow("error text") << QByteArray("Service temporarily unavailable\n") << false;
        QTest::newRow("just under a kilobyte") << QByteArray(1023, '\x5a') << false;
        QTest::newRow("a kilobyte") << QByteArray(1024, '\x5a') << true;
    }
    void replyThatCannotBeAssistDataIsRefused()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, stored);
        putOldFiles();
        QVERIFY(writeFile(m_world.root() + QStringLiteral("/current_3d.alp"), body));
        LogWatch log;
        Fetcher fetcher;
        QCOMPARE(runDownload(fetcher, 3), stored);
        if (stored) {
            QCOMPARE(readFile(dataFile()), body);
            return;
        }
        QVERIFY2(log.contains(QStringLiteral("not assist data")), qPrintable(log.text()));
        verifyOldFilesUntouched();
    }

    void alpAddressIsLoggedByDefault()
    {
        Fetcher fetcher;
        bool ok = false;
        const QString text = m_world.logAtShippedLevel([&] { return runDownload(fetcher); }, ok);
        QVERIFY(ok);
        QVERIFY2(text.contains(QStringLiteral("alp url= ") + m_world.server().baseUrl()
                               + QStringLiteral("/current_14d.alp")),
                 qPrintable(text));
    }

    void unwritableDataFileLeavesNoStamp()
    {
        putOldFiles();
        const bool root = ::geteuid() == 0;
        if (root) {
            // Permissions do not stop root: a folder where the data file should
            // be makes the write fail just the same.
            QFile::remove(dataFile());
            QVERIFY(QDir().mkpath(dataFile()));
        } else {
            QFile::remove(stampFile());
            QVERIFY(QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        LogWatch log;
        Fetcher fetcher;
        const bool ok = runDownload(fetcher);
        QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!ok);
        QVERIFY(log.contains(QStringLiteral("can not open ") + dataFile() + QStringLiteral(" to write")));
        QVERIFY(!QFileInfo::exists(stampFile()));
        if (root)
            QVERIFY(QFileInfo(dataFile()).isDir());
        else
            QCOMPARE(readFile(dataFile()), QByteArray("old assist data")); // replaced whole or not at all
    }

    void replacedRequestIsNotTakenForTheNewOne()
    {
        m_world.server().setFault(QStringLiteral("/current_14d.alp"), VHServerFault::SlowReply);
        m_world.server().setSlowPause(1000);
        Fetcher fetcher;
        fetcher.client.download(folder(), QStringLiteral("AssitOff.alp"), 14);
        QTRY_COMPARE(m_world.server().requestCount(QStringLiteral("/current_14d.alp")), 1);
        QVERIFY(runDownload(fetcher, 7));
        QTest::qWait(1500);
        QCOMPARE(fetcher.results, QList<bool>{true});
        QCOMPARE(readFile(dataFile()), m_sevenDayData);
        QCOMPARE(readFile(stampFile()), bigEndian(ReduzeduClient::expiryStamp(fifthOfMarchAt(18), 7)));
    }
};

QTEST_GUILESS_MAIN(TestReduzeduClient)
#include "tst_ReduzeduClient.moc"
