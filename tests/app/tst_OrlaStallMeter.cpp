#include "OrlaApp.h"
#include "OrlaStallMeter.h"

#include <QEventLoop>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

// The GUI-thread watchdog inside the application object that runs it, as
// VELORA_STALL_LOG switches it on.

namespace {

// Lets the event loop run (and sleep) for a while, as a window waiting for input.
void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class TestOrlaStallMeter : public QObject
{
    Q_OBJECT

private slots:
    void reportsTheWorstStall_data()
    {
        QTest::addColumn<QString>("block"); // "", "slot", "outside", "section" or "unmeasured"
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("belowMs");
        QTest::addColumn<QString>("place");
        // A busy machine may take the CPU from the test for a moment; a meter
        // that counted the loop's sleep would fail every attempt, not one.
        QTest::addColumn<int>("attempts");
        QTest::newRow("idle loop") << QString() << 0 << 30 << QString() << 3;
        QTest::newRow("80 ms in a timer's slot") << "slot" << 70 << 1000 << "Timer to QTimer" << 1;
        QTest::newRow("80 ms between two loops") << "outside" << 70 << 1000 << "code outside event dispatch" << 1;
        QTest::newRow("80 ms in a named section") << "section" << 70 << 1000 << "start-up" << 1;
        // A driver's own work is not the updater's stall; a slot it calls is.
        QTest::newRow("80 ms in an unmeasured section") << "unmeasured" << 0 << 30 << QString() << 3;
        QTest::newRow("80 ms in a slot called from an unmeasured section")
            << "unmeasured slot" << 70 << 1000 << "MetaCall to QObject" << 1;
    }

    void reportsTheWorstStall()
    {
        QFETCH(QString, block);
        QFETCH(int, atLeastMs);
        QFETCH(int, belowMs);
        QFETCH(QString, place);
        QFETCH(int, attempts);
        OrlaStallMeter *meter = OrlaApp::instance()->stallMeter();
        QVERIFY(meter);
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            runLoop(50);
            meter->reset();
            QTimer blocker;
            blocker.setSingleShot(true);
            connect(&blocker, &QTimer::timeout, [] { QThread::msleep(80); });
            if (block == QLatin1String("slot"))
                blocker.start(20);
            runLoop(150);
            if (block == QLatin1String("outside"))
                QThread::msleep(80);
            if (block == QLatin1String("section")) {
                const OrlaStallMeter::Section section(meter, "start-up");
                QThread::msleep(80);
            }
            if (block.startsWith(QLatin1String("unmeasured"))) {
                const OrlaStallMeter::Section section(meter, "demo driver", OrlaStallMeter::Measured::No);
                QThread::msleep(80);
                if (block.endsWith(QLatin1String("slot"))) {
                    QObject receiver;
                    QMetaObject::invokeMethod(
                        &receiver, [] { QThread::msleep(80); }, Qt::QueuedConnection);
                    QCoreApplication::sendPostedEvents(&receiver);
                }
            }
            runLoop(150);
            if (meter->worstStallMs() < belowMs || attempt == attempts)
                break;
        }
        QVERIFY2(meter->worstStallMs() >= atLeastMs, qPrintable(meter->summary()));
        QVERIFY2(meter->worstStallMs() < belowMs, qPrintable(meter->summary()));
        if (!place.isEmpty())
            QCOMPARE(meter->worstStallPlace(), place);
        QVERIFY(meter->summary().startsWith(QStringLiteral("worst GUI stall: %1 ms").arg(meter->worstStallMs())));
    }

    void switchedOnByTheEnvironment()
    {
        const QByteArray appLog = qgetenv(OrlaStallMeter::kLogVariable);
        const auto restore = qScopeGuard([&appLog] { qputenv(OrlaStallMeter::kLogVariable, appLog); });
        QCOMPARE(OrlaApp::instance()->stallMeter()->logPath(), QString::fromUtf8(appLog));
        qputenv(OrlaStallMeter::kLogVariable, "");
        QVERIFY(!OrlaStallMeter::fromEnvironment());
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("stall.log"));
        qputenv(OrlaStallMeter::kLogVariable, path.toUtf8());
        const std::unique_ptr<OrlaStallMeter> meter = OrlaStallMeter::fromEnvironment();
        QVERIFY(meter);
        QCOMPARE(meter->logPath(), path);
        QThread::msleep(40);
        runLoop(30);
        QVERIFY(meter->appendSummaryTo(path));
        QFile log(path);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()), meter->summary() + QLatin1Char('\n'));
        // What ran before the loop's first turn is the start-up, told apart from the stalls.
        QVERIFY(meter->startUpMs() >= 40);
        QVERIFY(meter->worstStallMs() < 40);
        QVERIFY(meter->summary().endsWith(
            QStringLiteral("; start-up before the event loop: %1 ms").arg(meter->startUpMs())));
        QVERIFY(!meter->appendSummaryTo(dir.filePath(QStringLiteral("missing/stall.log"))));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir logs;
    qputenv(OrlaStallMeter::kLogVariable, logs.filePath(QStringLiteral("stall.log")).toUtf8());
    OrlaApp app(argc, argv);
    TestOrlaStallMeter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaStallMeter.moc"
