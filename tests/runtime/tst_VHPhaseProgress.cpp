// Which byte counts of an action reach a front end: every phase's start and
// end, otherwise a percent more or the interval gone by; counts never go back.

#include "VHPhaseProgress.h"

#include <QTest>

using Step = QList<qint64>; // phase, done, total, time in ms; -1 in `passed` marks a dropped report

class TestVHPhaseProgress : public QObject
{
    Q_OBJECT

private slots:
    void reports_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QList<qint64>>("passed"); // the done figure passed on, or -1
        const auto w = qint64(VHPhase::Write), v = qint64(VHPhase::Verify);
        QTest::newRow("first report and the end pass, a few bytes in between do not")
            << QList<Step>{{w, 0, 1000, 0}, {w, 5, 1000, 1}, {w, 1000, 1000, 2}} << QList<qint64>{0, -1, 1000};
        QTest::newRow("a whole percent more passes")
            << QList<Step>{{w, 0, 1000, 0}, {w, 9, 1000, 1}, {w, 10, 1000, 2}} << QList<qint64>{0, -1, 10};
        QTest::newRow("the interval gone by passes the smallest step")
            << QList<Step>{{w, 0, 100000, 0}, {w, 1, 100000, 99}, {w, 2, 100000, 200}} << QList<qint64>{0, -1, 2};
        QTest::newRow("a retried block does not rewind the count")
            << QList<Step>{{w, 0, 100, 0}, {w, 50, 100, 1}, {w, 20, 100, 500}, {w, 60, 100, 501}}
            << QList<qint64>{0, 50, -1, 60};
        QTest::newRow("counts past the total stop at it, and the end passes once")
            << QList<Step>{{w, 0, 100, 0}, {w, 150, 100, 1}, {w, 100, 100, 500}} << QList<qint64>{0, 100, -1};
        QTest::newRow("a new phase passes at once")
            << QList<Step>{{w, 100, 100, 0}, {v, 0, 100, 1}, {v, 1, 100, 2}} << QList<qint64>{100, 0, 1};
        QTest::newRow("an empty phase ends where it starts") << QList<Step>{{v, 0, 0, 0}} << QList<qint64>{0};
    }

    void reports()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(QList<qint64>, passed);
        VHPhaseProgress progress;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const Step &s = steps.at(i);
            const auto report = progress.take(VHPhase(s.at(0)), s.at(1), s.at(2), s.at(3));
            QCOMPARE(report ? report->done : -1, passed.at(i));
        }
    }

    void wholeActionShare()
    {
        // The whole action's share only grows from phase to phase.
        float before = -1.0f;
        for (const VHPhase phase : {VHPhase::Unpack, VHPhase::Write, VHPhase::Verify, VHPhase::Waiting}) {
            for (const qint64 done : {0, 50, 100}) {
                const float share = VHPhaseProgress::overallFraction({phase, done, 100});
                QVERIFY(share >= before);
                before = share;
            }
        }
        QCOMPARE(before, 1.0f);
    }
};

QTEST_GUILESS_MAIN(TestVHPhaseProgress)
#include "tst_VHPhaseProgress.moc"
