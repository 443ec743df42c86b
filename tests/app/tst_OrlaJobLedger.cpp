#include "OrlaJobLedger.h"
#include "VHTestFakes.h"

#include <QTest>

namespace {

class BusyDevice : public FakeDevice
{
public:
    bool busy = false;
    bool isBusy() const override { return busy; }
};

using Job = OrlaJobLedger::Job;

} // namespace

class TestOrlaJobLedger : public QObject
{
    Q_OBJECT

private slots:
    // An end is matched by device and action code, and taken only once.
    void endIsMatchedByDeviceAndAction()
    {
        BusyDevice a, b;
        OrlaJobLedger ledger;
        ledger.start(&a, Job::SoftwareUpdate);
        ledger.start(&b, Job::WorkoutCheck);
        QVERIFY(!ledger.finish(&a, VHClient::ActionUpdateComponent));
        QVERIFY(!ledger.finish(&b, VHClient::ActionUpdateTotal));
        const auto update = ledger.finish(&a, VHClient::ActionUpdateTotal);
        QVERIFY(update && update->job == Job::SoftwareUpdate && update->device == &a);
        QVERIFY(!ledger.finish(&a, VHClient::ActionUpdateTotal));
        QVERIFY(ledger.isRunning(Job::WorkoutCheck));
        QCOMPARE(ledger.finish(&b, VHClient::ActionUpdateComponent)->job, Job::WorkoutCheck);
        QVERIFY(!ledger.isRunning(Job::WorkoutCheck));
    }

    // A removed device never reports its end: its job must not stay running.
    void jobsOfDeletedDevicesAreDropped()
    {
        BusyDevice kept;
        auto gone = std::make_unique<BusyDevice>();
        OrlaJobLedger ledger;
        ledger.start(gone.get(), Job::AlpWrite);
        gone.reset();
        QVERIFY(!ledger.finish(&kept, VHClient::ActionUpdateAlp));
        QVERIFY(!ledger.isRunning(Job::AlpWrite));
    }

    void owedWorkIsPendingUntilForgotten()
    {
        OrlaJobLedger ledger;
        ledger.setOwed(Job::SoftwareUpdate, true); // never put off
        ledger.setOwed(Job::WorkoutCheck, true);
        QVERIFY(ledger.isPending(Job::WorkoutCheck));
        QVERIFY(!ledger.isPending(Job::AlpWrite));
        ledger.setOwed(Job::AlpWrite, true);
        ledger.forgetOwed();
        QVERIFY(!ledger.isPending(Job::WorkoutCheck));
        QVERIFY(!ledger.isPending(Job::AlpWrite));
        BusyDevice device;
        ledger.start(&device, Job::AlpWrite);
        QVERIFY(ledger.isPending(Job::AlpWrite));
    }

    void writingMeansABusyDeviceThatIsWritten()
    {
        BusyDevice device, current;
        OrlaJobLedger ledger;
        QVERIFY(!ledger.isWritingDevice(nullptr));
        ledger.start(&device, Job::WorkoutCheck);
        device.busy = true;
        QVERIFY(!ledger.isWritingDevice(nullptr)); // the check only reads the package
        ledger.start(&device, Job::WorkoutInstall);
        QVERIFY(ledger.isWritingDevice(nullptr));
        device.busy = false;
        QVERIFY(!ledger.isWritingDevice(&current));
        current.busy = true; // an action not started here
        QVERIFY(ledger.isWritingDevice(&current));
    }
};

QTEST_GUILESS_MAIN(TestOrlaJobLedger)
#include "tst_OrlaJobLedger.moc"
