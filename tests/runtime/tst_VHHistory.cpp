// The update history: whole lines appended, damaged lines skipped, huge or
// hostile files read only in part and never rewritten.

#include "VHHistory.h"
#include "VHTestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

namespace {

VHHistoryEntry entry(const QString &uuid, const QString &action, bool ok)
{
    VHHistoryEntry e;
    e.time = QDateTime(QDate(2026, 12, 9), QTime(5, 30, 1, 250), Qt::UTC);
    e.action = action;
    e.model = QStringLiteral("Pacer70");
    e.uuid = uuid;
    e.versionBefore = QStringLiteral("1.0");
    e.versionAfter = QStringLiteral("1.1");
    e.packageMd5 = QStringLiteral("0123456789abcdef0123456789abcdef");
    e.ok = ok;
    e.errorCode = ok ? 0 : 3;
    e.durationMs = 1234;
    return e;
}

QByteArray line(const VHHistoryEntry &e) { return QJsonDocument(e.toJson()).toJson(QJsonDocument::Compact) + '\n'; }

} // namespace

class TestVHHistory : public QObject
{
    Q_OBJECT

private slots:
    void appendsAndReadsBack()
    {
        QTemporaryDir dir;
        const VHHistory history(dir.path());
        QVERIFY(history.append(entry(QStringLiteral("A"), QStringLiteral("update"), true)));
        QVERIFY(history.append(entry(QStringLiteral("B"), QStringLiteral("gps"), false)));
        const QList<VHHistoryEntry> all = history.entries();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0).toJson(), entry(QStringLiteral("A"), QStringLiteral("update"), true).toJson());
        QCOMPARE(all.at(1).errorCode, 3);
        QCOMPARE(all.at(1).time.toString(Qt::ISODateWithMs), QStringLiteral("2026-12-09T05:30:01.250Z"));
        VHHistoryEntry last;
        QVERIFY(history.lastFor(QStringLiteral("A"), last));
        QCOMPARE(last.action, QStringLiteral("update"));
        QVERIFY(!history.lastFor(QStringLiteral("C"), last));
        QCOMPARE(readFile(history.path()).count('\n'), 2);
    }

    void damagedLinesAreSkipped_data()
    {
        QTest::addColumn<QByteArray>("junk");
        QTest::newRow("not json") << QByteArray("garbage {{{\n");
        QTest::newRow("array") << QByteArray("[1,2,3]\n");
        QTest::newRow("no time") << QByteArray("{\"action\":\"update\",\"result\":\"ok\"}\n");
        QTest::newRow("bad time") << QByteArray("{\"time\":\"yesterday\",\"action\":\"update\",\"result\":\"ok\"}\n");
        QTest::newRow("wrong types") << QByteArray("{\"time\":5,\"action\":[],\"result\":{}}\n");
        QTest::newRow("nul bytes") << QByteArray("\0\0\0\n", 4);
        QTest::newRow("huge line") << QByteArray(200 * 1024, 'x') + '\n';
        QTest::newRow("cut line") << line(entry(QStringLiteral("Z"), QStringLiteral("update"), true)).left(30);
    }

    void damagedLinesAreSkipped()
    {
        QFETCH(QByteArray, junk);
        QTemporaryDir dir;
        const VHHistory history(dir.path());
        const QByteArray bytes = line(entry(QStringLiteral("A"), QStringLiteral("update"), true)) + junk;
        QVERIFY(writeFile(history.path(), bytes));
        // A line cut short does not swallow the next one.
        QVERIFY(history.append(entry(QStringLiteral("B"), QStringLiteral("workouts"), true)));
        const QList<VHHistoryEntry> all = history.entries();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all.at(0).uuid, QStringLiteral("A"));
        QCOMPARE(all.at(1).uuid, QStringLiteral("B"));
        // Reading never rewrites.
        QVERIFY(readFile(history.path()).startsWith(bytes));
    }

    void hugeFileIsReadFromItsEnd()
    {
        QTemporaryDir dir;
        const VHHistory history(dir.path());
        QByteArray bytes;
        const QByteArray old = line(entry(QStringLiteral("OLD"), QStringLiteral("update"), true));
        while (bytes.size() < 3 * VHHistory::kMaxReadSize)
            bytes += old;
        bytes += line(entry(QStringLiteral("NEW"), QStringLiteral("gps"), true));
        QVERIFY(writeFile(history.path(), bytes));
        const QList<VHHistoryEntry> all = history.entries();
        QVERIFY(!all.isEmpty());
        QVERIFY(all.size() * old.size() <= VHHistory::kMaxReadSize + old.size());
        QCOMPARE(all.last().uuid, QStringLiteral("NEW"));
        QCOMPARE(readFile(history.path()).size(), bytes.size());
    }

    void rotatesAboveItsCap()
    {
        QTemporaryDir dir;
        const VHHistory history(dir.path());
        QVERIFY(writeFile(history.path(), QByteArray(VHHistory::kRotateSize, '\n')));
        QVERIFY(history.append(entry(QStringLiteral("A"), QStringLiteral("update"), true)));
        QCOMPARE(QFileInfo(history.rotatedPath()).size(), VHHistory::kRotateSize);
        QCOMPARE(history.entries().size(), 1);
        QVERIFY(QFileInfo(history.path()).size() < 1024);
    }

    void linksAndFoldersAreNotFollowed()
    {
        QTemporaryDir dir;
        const VHHistory history(dir.path());
        const QString target = dir.filePath(QStringLiteral("elsewhere.txt"));
        QVERIFY(writeFile(target, line(entry(QStringLiteral("X"), QStringLiteral("update"), true))));
        QVERIFY(QFile::link(target, history.path()));
        QVERIFY(!history.append(entry(QStringLiteral("A"), QStringLiteral("update"), true)));
        QCOMPARE(readFile(target).count('\n'), 1);
        QVERIFY(history.entries().isEmpty());
        QVERIFY(QFile::remove(history.path()));
        QVERIFY(QDir().mkdir(history.path()));
        QVERIFY(!history.append(entry(QStringLiteral("A"), QStringLiteral("update"), true)));
        QVERIFY(history.entries().isEmpty());
    }

    void noFolderWritesNothing()
    {
        QVERIFY(!VHHistory(QString()).append(entry(QStringLiteral("A"), QStringLiteral("update"), true)));
    }
};

QTEST_GUILESS_MAIN(TestVHHistory)
#include "tst_VHHistory.moc"
