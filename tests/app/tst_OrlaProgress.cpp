// The software-update dialog's bar during a real FIT update of a 100 MiB
// package on the simulated platform: it follows the bytes the device copies,
// climbs without going back, stays below 100 until the action has ended, and
// names the steps under it in their order.

#include "OrlaApp.h"
#include "OrlaController.h"
#include "OrlaRoad.h"
#include "SoftUpdateForm.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestOrlaProgress : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    std::unique_ptr<OrlaRoad> m_road;

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        OrlaRoad::Options options;
        options.work = m_work.path();
        options.imageBytes = 100 * 1024 * 1024;
        options.stepTimeoutMs = 240000;
        m_road = std::make_unique<OrlaRoad>(options);
        QVERIFY2(m_road->prepare(), qPrintable(m_road->lastError()));
        QCOMPARE(OrlaApp::instance()->init(), 0);
        OrlaApp::instance()->controller()->onDeviceConnected(nullptr);
    }

    void barFollowsTheBytesCopied()
    {
        OrlaController *controller = OrlaApp::instance()->controller();
        m_road->attach(controller);
        QVERIFY2(m_road->showsNoDevice() && m_road->plugAndOffer() && m_road->openDialog(),
                 qPrintable(m_road->report()));
        SoftUpdateForm *dialog = controller->softUpdateForm();
        auto *bar = dialog->findChild<QProgressBar *>(QStringLiteral("step_progressBar"));
        QList<int> shown;
        bool doneBeforeEnd = false;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            shown << value;
            if (value == 100 && controller->progressRunning())
                doneBeforeEnd = true;
        });
        auto *phase = dialog->findChild<QLabel *>(QStringLiteral("phase_label"));
        QStringList words;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (phase->isVisibleTo(dialog) && (words.isEmpty() || words.last() != phase->text()))
                words << phase->text();
        });
        watch.start(5);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("soft_update_button")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(controller->completeForm()->isVisible() || controller->failForm()->isVisible(),
                                 240000);
        QVERIFY(controller->completeForm()->isVisible());
        QVERIFY2(shown.size() >= 11, qPrintable(QStringLiteral("%1 values").arg(shown.size())));
        QCOMPARE(shown.last(), 100);
        QVERIFY(!doneBeforeEnd);
        for (qsizetype i = 1; i < shown.size(); ++i)
            QVERIFY2(shown.at(i) > shown.at(i - 1), qPrintable(QString::number(i)));
        QVERIFY(shown.at(shown.size() - 2) <= 99);
        // Each step named once, in order; the short ones may pass between two looks.
        QVERIFY2(words.contains(QStringLiteral("Writing")), qPrintable(words.join(',')));
        const QStringList order{QStringLiteral("Unpacking"), QStringLiteral("Writing"), QStringLiteral("Checking")};
        for (qsizetype i = 1; i < words.size(); ++i)
            QVERIFY2(order.indexOf(words.at(i)) > order.indexOf(words.at(i - 1)), qPrintable(words.join(',')));
    }
};

int main(int argc, char **argv)
{
    OrlaApp app(argc, argv);
    TestOrlaProgress test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaProgress.moc"
