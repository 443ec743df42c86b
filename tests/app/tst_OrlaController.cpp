#include "OrlaTestSupport.h"
#include "VHHistory.h"
#include "VHTestTls.h"

#include <QDataStream>
#include <QMovie>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTranslator>
#include <QWindow>

namespace {

const QString kModel = QStringLiteral("Pacer60F");

QPushButton *softButton(OrlaForm *w) { return widget<QPushButton>(w, "soft_update_button"); }
QPushButton *gpsButton(OrlaForm *w) { return widget<QPushButton>(w, "gpsdata_update_button"); }
QPushButton *workoutButton(OrlaForm *w) { return widget<QPushButton>(w, "workout_update_button"); }

QStringList listTexts(SoftUpdateForm *dialog)
{
    QStringList texts;
    auto *list = widget<QListWidget>(dialog, "soft_update_list");
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QByteArray stamp(qint32 value)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << value;
    return bytes;
}

} // namespace

class TestOrlaController : public QObject
{
    Q_OBJECT

    VHTestTls m_tls;        // made on first use: openssl takes a while
    QStringList m_sameText; // texts a loaded translation left in English

    const VHTestTls &tls()
    {
        static const bool made = m_tls.make();
        if (!made)
            qWarning("no test certificates");
        return m_tls;
    }

    // A text as the window says it; with a translation loaded, noted when still English.
    QString said(const char *context, const char *text, bool translated)
    {
        const QString words = QCoreApplication::translate(context, text);
        if (translated && words == QLatin1String(text))
            m_sameText << QLatin1String(text);
        return words;
    }

private slots:
    void withoutDevice()
    {
        ControllerRig rig;
        rig.start();
        // Only the main window is built before the event loop runs; the others on first use.
        for (const char *later : {"SoftUpdateForm", "recover_complete_form", "recover_fail_form"})
            for (QWidget *top : QApplication::topLevelWidgets())
                QVERIFY2(!top->inherits(later), later);
        rig.controller->onDeviceConnected(nullptr); // as the entry routine does
        OrlaForm *w = rig.main();
        QVERIFY(w->isVisible());
        QVERIFY(!softButton(w)->isEnabled());
        QVERIFY(!gpsButton(w)->isEnabled());
        QVERIFY(!workoutButton(w)->isEnabled());
        QVERIFY(visible(w, "remind_label"));
        QCOMPARE(widget<QLabel>(w, "remind_label")->text(),
                 QStringLiteral("Please connect your device to the computer"));
        QCOMPARE(widget<QLabel>(w, "device_label")->styleSheet(),
                 QStringLiteral("background-image: url(:/device/device_notfound.png)"));
        for (const char *name : {"device_title_label", "device_title_text", "uuid_word_label", "uuid_info_label",
                                 "soft_word_label", "soft_info_label", "download_indicator", "download_count_label"})
            QVERIFY2(!visible(w, name), name);
        QVERIFY(!rig.dialog()->isVisible());
        QVERIFY(!rig.controller->failForm()->isVisible());
        QVERIFY(!rig.controller->completeForm()->isVisible());
        // Built before any device is reported: the watch animation.
        QCOMPARE(rig.controller->completeForm()->animation()->fileName(), QStringLiteral(":/release_cable.gif"));
        // Message boxes are modal, centred on the main window, with one default "OK".
        w->move(200, 150);
        QTest::mouseClick(softButton(w), Qt::LeftButton); // disabled: nothing
        QVERIFY(rig.messages.boxes.isEmpty());
        w->onSoftUpdateClicked(); // no device: busy
        QCOMPARE(rig.messages.boxes.size(), 1);
        const MessageCatcher::Box box = rig.messages.boxes.first();
        QCOMPARE(box.text, QStringLiteral("Busy. Please try again later."));
        QVERIFY(box.modal);
        QCOMPARE(box.buttons, 1);
        QVERIFY(box.okIsDefault);
        QCOMPARE(box.position, QPoint(w->x() + (w->width() - box.sizeHint.width()) / 2,
                                      w->y() + (w->height() - box.sizeHint.height()) / 2));
        // No nested event loop: the box is still open when the call returns, and
        // goes once its "OK" is pressed.
        QPointer<QMessageBox> open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(open && open->isVisible());
        QTRY_VERIFY(open.isNull());
        // "Update" pressed with no device at all: nothing runs.
        rig.controller->startSoftwareUpdate();
        recover_fail_form *fail = rig.controller->failForm();
        QVERIFY(fail->isVisible());
        QVERIFY(fail->details().startsWith(QStringLiteral("The device is no longer connected.\n")));
        QVERIFY(widget<QLabel>(fail, "msg_label")->text().contains(QStringLiteral("Fail. Please try again later.")));
        QVERIFY(!rig.controller->progressRunning());
        // A box without a parent, open when the controller goes, goes with it.
        rig.controller->onReduzeduFinished(false);
        open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(open && !open->parentWidget());
        rig.controller.reset();
        QVERIFY(open.isNull());
    }

    void checkingIndicatorThenUpdateNotice()
    {
        ControllerRig rig;
        // Fresh assist data on disk and device: nothing keeps the device busy.
        const qint32 expiry = ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14);
        writeFile(rig.modelFolder(kModel) + QStringLiteral("/date.txt"), stamp(expiry));
        rig.device.alpDate = expiry;
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0.0")));
        // The query's answer stalls a moment, so the busy indicator can be seen.
        rig.server.setSlowPause(800);
        rig.server.setFault(QStringLiteral("/versions/index"), VHServerFault::SlowReply);
        rig.startWith(kModel, QStringLiteral("1.5.0"));
        OrlaForm *w = rig.main();
        QVERIFY(visible(w, "download_indicator"));
        QVERIFY(!visible(w, "download_count_label"));
        // Both versions still unknown while the server is asked.
        QTest::mouseClick(softButton(w), Qt::LeftButton);
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("Checking new version now")});
        rig.messages.clear();
        QTRY_VERIFY_WITH_TIMEOUT(visible(w, "download_count_label"), 15000);
        QVERIFY(!visible(w, "download_indicator"));
        QCOMPARE(widget<QLabel>(w, "download_count_label")->text(), QStringLiteral("1"));
        QCOMPARE(rig.controller->serverVersion(), QStringLiteral("2.0.0"));
        QCOMPARE(rig.controller->deviceVersion(), QStringLiteral("1.5.0"));
        QVERIFY(QFile::exists(rig.modelFolder(kModel) + QStringLiteral("/Total.zip")));
        QVERIFY(rig.messages.boxes.isEmpty());
    }

    void versionsCompareInNaturalOrder()
    {
        // 1.10.0 is newer than 1.9.0: the update is offered.
        ControllerRig rig;
        QVERIFY(rig.publish(kModel, QStringLiteral("1.10.0")));
        rig.startWith(kModel, QStringLiteral("1.9.0"));
        QTRY_VERIFY_WITH_TIMEOUT(visible(rig.main(), "download_count_label"), 15000);
        rig.unplug();
        // And 1.2.0 is older than 1.10.0, which as plain strings it would not be.
        rig.plug(kModel, QStringLiteral("1.2.0"));
        QTRY_VERIFY_WITH_TIMEOUT(visible(rig.main(), "download_count_label"), 15000);
        rig.unplug();
        rig.plug(kModel, QStringLiteral("1.10.0"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.controller->deviceVersion(), QStringLiteral("1.10.0"), 15000);
        QVERIFY(!visible(rig.main(), "download_count_label"));
        QVERIFY(!visible(rig.main(), "download_indicator"));
    }

    void dialogOffersAndCancels()
    {
        ControllerRig rig;
        QVERIFY(rig.offerUpdate(kModel, QStringLiteral("2.0"), QStringLiteral("1.5")));
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        SoftUpdateForm *dialog = rig.dialog();
        QVERIFY(dialog->isVisible());
        QVERIFY(!rig.main()->isVisible());
        QCOMPARE(listTexts(dialog), (QStringList{QStringLiteral("Device software"), QStringLiteral("Current: 1.5"),
                                                 QStringLiteral("Update: 2.0")}));
        // Offering: both buttons enabled, the backup warning, no progress.
        QVERIFY(widget<QPushButton>(dialog, "soft_update_button")->isEnabled());
        QVERIFY(widget<QPushButton>(dialog, "cancel_button")->isEnabled());
        QCOMPARE(widget<QLabel>(dialog, "remind_label")->text(), QStringLiteral("Backup_Data_Warn_Msg"));
        QVERIFY(!visible(dialog, "step_progressBar"));
        QVERIFY(visible(dialog, "Msg_label"));
        QTest::mouseClick(widget<QPushButton>(dialog, "cancel_button"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(rig.main()->isVisible());
        QVERIFY(rig.device.totalCalls.isEmpty());
        // Opened again, it goes with the device.
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        QVERIFY(dialog->isVisible());
        rig.unplug();
        QVERIFY(!dialog->isVisible());
        QVERIFY(rig.main()->isVisible());
        QVERIFY(!softButton(rig.main())->isEnabled());
        QCOMPARE(rig.controller->serverVersion(), QString());
        // A late press on the hidden dialog starts nothing and says so.
        dialog->onUpdateclicked();
        QVERIFY(rig.controller->failForm()->isVisible());
        QVERIFY(rig.device.totalCalls.isEmpty());
    }

    void updateRunsToCompletion()
    {
        ControllerRig rig;
        QVERIFY(rig.startUpdate(kModel, true));
        SoftUpdateForm *dialog = rig.dialog();
        auto *update = widget<QPushButton>(dialog, "soft_update_button");
        // Updating: buttons disabled, so a second press does nothing.
        QVERIFY(!update->isEnabled());
        QVERIFY(!widget<QPushButton>(dialog, "cancel_button")->isEnabled());
        QCOMPARE(widget<QLabel>(dialog, "remind_label")->text(), QStringLiteral("Device_Updating_Warn_Msg"));
        QVERIFY(visible(dialog, "step_progressBar"));
        QVERIFY(!visible(dialog, "Msg_label"));
        QTest::mouseClick(update, Qt::LeftButton);
        QVERIFY(rig.controller->progressRunning());
        // No guessing: the bar stands until the device reports its bytes, then shows them with the step's word.
        auto *bar = widget<QProgressBar>(dialog, "step_progressBar");
        QTest::qWait(50);
        QCOMPARE(bar->value(), 0);
        QVERIFY(!visible(dialog, "phase_label"));
        rig.manager()->currentDevice()->reportProgress(VHPhase::Write, 50, 100);
        QTRY_COMPARE(bar->value(), 50);
        QVERIFY(visible(dialog, "phase_label"));
        QCOMPARE(widget<QLabel>(dialog, "phase_label")->text(), QStringLiteral("Writing"));
        // Nothing reaches the main window's bar.
        QVERIFY(!visible(rig.main(), "step_progressBar"));
        rig.gate.open();
        QTRY_VERIFY_WITH_TIMEOUT(rig.controller->completeForm()->isVisible(), 10000);
        QVERIFY(!dialog->isVisible());
        QVERIFY(!rig.main()->isVisible());
        QVERIFY(!rig.controller->progressRunning());
        QCOMPARE(rig.device.totalCalls, QStringList{rig.modelFolder(kModel) + QStringLiteral("/Total.zip")});
        QCOMPARE(widget<QLabel>(rig.controller->completeForm(), "msg_label")->text(),
                 QStringLiteral("Last_Remind_Msg"));
        // Recorded in the history, and named on the main window's help label.
        VHHistoryEntry last;
        QVERIFY(VHHistory::ofDataFolder().lastFor(QStringLiteral("0F01000011112222"), last));
        QCOMPARE(last.action, QStringLiteral("update"));
        QVERIFY(last.ok);
        QCOMPARE(last.versionBefore, QStringLiteral("1.5"));
        QVERIFY(rig.main()->lastResult().contains(QStringLiteral("update")));
        // Unplugging (the device restarts) brings the main window back.
        rig.unplug();
        QVERIFY(rig.main()->isVisible());
        QVERIFY(!rig.controller->completeForm()->isVisible());
    }

    void failureWindowShowsReason_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("unplugged"); // the device goes while the update runs
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("reason"); // what the device says
        QTest::addColumn<QString>("shown");  // the details' first line
        const QString general =
            QStringLiteral("<font size=\"16\" weight=\"50\" color=\"#00aa00\">Fail. Please try again later.</font>");
        QTest::newRow("no space") << 3 << false << QStringLiteral("<font size=\"5\">Not_Enough_Space_Msg</font>")
                                  << "12 MiB more needed"
                                  << "12 MiB more needed";
        QTest::newRow("general") << 0 << false << general << ""
                                 << "The device gave no reason.";
        QTest::newRow("copy failed") << 4 << false << general << "os.bin: no space left"
                                     << "os.bin: no space left";
        // The volume went away under the copy; no device object is needed for its report.
        QTest::newRow("device vanished") << 4 << true << general << "volume gone"
                                         << "volume gone";
    }

    void failureWindowShowsReason()
    {
        QFETCH(int, code);
        QFETCH(bool, unplugged);
        QFETCH(QString, text);
        QFETCH(QString, reason);
        QFETCH(QString, shown);
        ControllerRig rig;
        rig.device.updateTotalOk = false;
        rig.device.updateTotalCode = code;
        rig.device.updateTotalReason = reason;
        QVERIFY(rig.startUpdate(kModel, unplugged));
        if (unplugged) {
            rig.unplug();
            // The device may come back to finish: the dialog stays in front and says so.
            QVERIFY(rig.dialog()->isVisible());
            QVERIFY(!rig.main()->isVisible());
            QCOMPARE(widget<QLabel>(rig.dialog(), "remind_label")->text(), OrlaRestartWatch::restartingText());
            rig.gate.open();
        }
        recover_fail_form *fail = rig.controller->failForm();
        QTRY_VERIFY_WITH_TIMEOUT(fail->isVisible(), 10000);
        QCOMPARE(widget<QLabel>(fail, "msg_label")->text(), text);
        QCOMPARE(fail->details(),
                 shown + QStringLiteral("\nDetails are in the log: ") + VHEnv::instance()->logFilePath());
        QVERIFY(!rig.dialog()->isVisible());
        QTest::mouseClick(widget<QPushButton>(fail, "OK_button"), Qt::LeftButton);
        QVERIFY(!fail->isVisible());
        QVERIFY(rig.main()->isVisible());
        // Without the device nothing can be pressed.
        QCOMPARE(softButton(rig.main())->isEnabled(), !unplugged);
        QCOMPARE(gpsButton(rig.main())->isEnabled(), !unplugged);
    }

    void unexpectedActionEndsInFailure()
    {
        ControllerRig rig;
        rig.start();
        AppFakeDevice *device = rig.plug(kModel, QStringLiteral("1.0"));
        QVERIFY(rig.waitIdle());
        // An action this controller never starts (a factory restore is one of
        // its jobs now, judged by its result: tst_OrlaJobs).
        QVERIFY(device->startRaw(VHClient::ActionFinalize));
        recover_fail_form *fail = rig.controller->failForm();
        QTRY_VERIFY_WITH_TIMEOUT(fail->isVisible(), 10000);
        QVERIFY(widget<QLabel>(fail, "msg_label")->text().contains(QStringLiteral("#00aa00")));
        QVERIFY(!rig.main()->isVisible());
    }

    void gpsDataFetchedAndWritten_data()
    {
        QTest::addColumn<QByteArray>("stampFile"); // date.txt beforehand; none when empty
        QTest::addColumn<bool>("fresh");           // the stamp is current: only the device is behind
        QTest::newRow("no stamp") << QByteArray() << false;
        // A stamp file of other than four bytes counts as missing.
        QTest::newRow("3-byte stamp") << QByteArray("abc") << false;
        QTest::newRow("5-byte stamp") << QByteArray("abcde") << false;
        QTest::newRow("fresh stamp") << stamp(ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14)) << true;
    }

    void gpsDataFetchedAndWritten()
    {
        QFETCH(QByteArray, stampFile);
        QFETCH(bool, fresh);
        ControllerRig rig;
        rig.writeAlp(QByteArray(4096, 'G'));
        const QString folder = rig.modelFolder(kModel);
        if (!stampFile.isEmpty())
            writeFile(folder + QStringLiteral("/date.txt"), stampFile);
        if (fresh) {
            // Not fetched again: the data on disk goes to the device, a day behind.
            writeFile(folder + QStringLiteral("/AssitOff.alp"), "old data");
            rig.device.alpDate = ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14) - 86400;
        }
        rig.startWith(kModel, QStringLiteral("1.0"));
        // The fetch or write runs on connection: the GPS button waits meanwhile.
        QVERIFY(!gpsButton(rig.main())->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.alpCalls.size(), 1, 15000);
        QVERIFY(rig.waitIdle());
        QTRY_VERIFY(gpsButton(rig.main())->isEnabled());
        const qint32 expected = ReduzeduClient::expiryStamp(QDateTime::currentDateTime(), 14);
        QCOMPARE(rig.device.alpCalls.first(), QStringLiteral("AssitOff.alp|%1").arg(expected));
        QCOMPARE(QFile(folder + QStringLiteral("/AssitOff.alp")).size(), fresh ? 8 : 4096);
        QFile date(folder + QStringLiteral("/date.txt"));
        QVERIFY(date.open(QIODevice::ReadOnly));
        QCOMPARE(date.readAll(), stamp(expected));
        QVERIFY(!visible(rig.main(), "Msg_label"));
        // The device has it now: the button says so.
        QTest::mouseClick(gpsButton(rig.main()), Qt::LeftButton);
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("GPS data on device is up-to-date")});
        QCOMPARE(rig.server.requestCount(QStringLiteral("/current_14d.alp")), fresh ? 0 : 1);
    }

    void busyDeviceDefersAndRefuses()
    {
        // The silent workout check still runs when the assist data arrives: the
        // data is written when the check ends, and the GPS display waits for it.
        ControllerRig rig;
        rig.hold(rig.device.componentGate);
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0")));
        // Long enough that the package and the check come first even on a busy machine.
        rig.server.setSlowPause(2500);
        rig.server.setFault(QStringLiteral("/current_14d.alp"), VHServerFault::SlowReply);
        rig.startWith(kModel, QStringLiteral("1.0"));
        QVERIFY(rig.gate.waitEntered(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.controller->assistClient()->isDownloading(), 15000);
        QVERIFY(rig.device.alpCalls.isEmpty());
        QVERIFY(!gpsButton(rig.main())->isEnabled());
        // The buttons are refused while the check holds the device.
        for (QPushButton *button : {softButton(rig.main()), workoutButton(rig.main())}) {
            rig.messages.clear();
            button->setEnabled(true);
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("Busy. Please try again later.")});
            QCOMPARE(rig.messages.boxes.first().parent.data(), static_cast<QWidget *>(rig.main()));
        }
        QVERIFY(!rig.dialog()->isVisible());
        rig.messages.clear();
        rig.gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.alpCalls.size(), 1, 10000);
        QVERIFY(rig.waitIdle());
        QTRY_VERIFY(gpsButton(rig.main())->isEnabled());
        QVERIFY(workoutButton(rig.main())->isEnabled());
        QVERIFY(rig.messages.boxes.isEmpty());
        // Busy while the assist data downloads, too.
        rig.unplug();
        QFile::remove(rig.modelFolder(kModel) + QStringLiteral("/date.txt"));
        rig.server.setSlowPause(1500);
        rig.device.componentGate = nullptr;
        rig.plug(kModel, QStringLiteral("1.0"));
        QVERIFY(rig.controller->assistClient()->isDownloading());
        rig.main()->onSoftUpdateClicked();
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("Busy. Please try again later.")});
        QVERIFY(rig.waitIdle(15000));
    }

    void silentWorkoutCheck_data()
    {
        QTest::addColumn<bool>("packageHasWorkouts");
        QTest::newRow("allowed") << true;
        QTest::newRow("refused") << false;
    }

    void silentWorkoutCheck()
    {
        QFETCH(bool, packageHasWorkouts);
        ControllerRig rig;
        rig.device.checkOk = packageHasWorkouts;
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0"), packageHasWorkouts));
        rig.startWith(kModel, QStringLiteral("2.0"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.componentCalls.size(), 1, 15000);
        QVERIFY(rig.waitIdle());
        QCOMPARE(rig.device.componentCalls.first(),
                 QStringLiteral("0|") + rig.modelFolder(kModel) + QStringLiteral("/Total.zip"));
        QTRY_COMPARE(workoutButton(rig.main())->isEnabled(), packageHasWorkouts);
        QVERIFY(rig.messages.boxes.isEmpty());
        QVERIFY(!rig.controller->workoutCheckPending());
        // Once allowed, every later device of this run has the button.
        rig.unplug();
        rig.device.checkOk = false;
        rig.plug(QStringLiteral("Pacer50"), QStringLiteral("1.0"));
        QCOMPARE(workoutButton(rig.main())->isEnabled(), packageHasWorkouts);
        QVERIFY(rig.waitIdle());
    }

    void workoutInstallReportsResult()
    {
        for (bool ok : {true, false}) {
            ControllerRig rig;
            rig.device.installOk = ok;
            QVERIFY(rig.startHeldWorkoutInstall(kModel));
            QVERIFY(!workoutButton(rig.main())->isEnabled());
            QVERIFY(visible(rig.main(), "step_progressBar"));
            QCOMPARE(widget<QLabel>(rig.main(), "Msg_label")->text(),
                     QStringLiteral("Install Velora Workout & Velora Test... "));
            rig.manager()->currentDevice()->reportProgress(VHPhase::Unpack, 10, 10);
            QTRY_COMPARE(widget<QProgressBar>(rig.main(), "step_progressBar")->value(), 15);
            QCOMPARE(widget<QLabel>(rig.main(), "phase_label")->text(), QStringLiteral("Unpacking"));
            // Asked to end meanwhile: the program waits for the install.
            QSignalSpy ready(rig.controller.get(), &OrlaController::readyToQuit);
            rig.controller->quitWhenIdle();
            QTest::qWait(100);
            QCOMPARE(ready.size(), 0);
            rig.gate.open();
            QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(rig.messages.boxes.size(), 1, 10000);
            QCOMPARE(rig.messages.texts().first(),
                     ok ? QStringLiteral("Completion") : QStringLiteral("Fail. Please try again later."));
            QVERIFY(!visible(rig.main(), "step_progressBar"));
            QVERIFY(workoutButton(rig.main())->isEnabled());
            QCOMPARE(rig.device.componentCalls.last().left(2), QStringLiteral("1|"));
        }
    }

    void serverUnreachable()
    {
        ControllerRig rig(false);
        rig.startWith(kModel, QStringLiteral("1.0"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.messages.boxes.size(), 1, 15000);
        QCOMPARE(rig.messages.boxes.first().text, QStringLiteral("Download GPS data failed."));
        QCOMPARE(rig.messages.boxes.first().informative, QStringLiteral("Check the netwrok and try again."));
        QVERIFY(rig.messages.boxes.first().parent.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(rig.controller->deviceVersion(), QStringLiteral("1.0"), 15000);
        QVERIFY(!visible(rig.main(), "download_indicator"));
        QVERIFY(!visible(rig.main(), "download_count_label"));
        QVERIFY(gpsButton(rig.main())->isEnabled());
        QVERIFY(rig.waitIdle());
        rig.messages.clear();
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        // Never told the device is current when the server was never heard.
        QCOMPARE(rig.messages.texts(),
                 QStringList{QStringLiteral("Could not reach the update server. Check your network "
                                            "connection and try again.")});
        QCOMPARE(rig.controller->lastMessage(), OrlaController::Message::UpdateServerUnreachable);
        // Which server, where to name another, and where the log is.
        const QString informative = rig.messages.boxes.first().informative;
        QVERIFY2(informative.startsWith(
                     QStringLiteral("The update server http://127.0.0.1:9/versions/index could not be reached.\n")),
                 qPrintable(informative));
        QVERIFY(informative.contains(QStringLiteral("the key \"updateurl\" in the group \"VeloraHub\" of ")
                                     + VHEnv::instance()->dataFolder() + QStringLiteral("/vh.ini")));
        QVERIFY(informative.endsWith(QStringLiteral("Details are in the log: ") + VHEnv::instance()->logFilePath()));
        QVERIFY(readTestLog().contains(QStringLiteral("http error=")));
    }

    void updateSoftwareSaysWhatWasLearned_data()
    {
        QTest::addColumn<QString>("published"); // empty: the model has no package
        QTest::addColumn<QString>("faultPath");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("message");
        QTest::addColumn<QString>("why"); // how the box's details begin
        const int none = int(VHServerFault::None);
        const int upToDate = int(OrlaController::Message::SoftwareUpToDate);
        const int unreachable = int(OrlaController::Message::UpdateServerUnreachable);
        const QString index = QStringLiteral("/versions/index");
        const QString package = QStringLiteral("/packages/Pacer60F/Total.zip");
        QTest::newRow("answered, same version") << QStringLiteral("1.0") << QString() << none << upToDate << "";
        QTest::newRow("answered, no package") << QString() << QString() << none << upToDate << "";
        QTest::newRow("query 500") << QStringLiteral("2.0") << index << int(VHServerFault::Http500) << unreachable
                                   << "the update server http://127.0.0.1:";
        QTest::newRow("query html") << QStringLiteral("2.0") << index << int(VHServerFault::NonJsonBody) << unreachable
                                    << "the update server's reply is not readable";
        QTest::newRow("package 500") << QStringLiteral("2.0") << package << int(VHServerFault::Http500) << unreachable
                                     << "the package download failed";
        QTest::newRow("package cut") << QStringLiteral("2.0") << package << int(VHServerFault::TruncatedBody)
                                     << unreachable << "the package download";
    }

    void updateSoftwareSaysWhatWasLearned()
    {
        QFETCH(QString, published);
        QFETCH(QString, faultPath);
        QFETCH(int, fault);
        QFETCH(int, message);
        QFETCH(QString, why);
        ControllerRig rig;
        if (!published.isEmpty())
            QVERIFY(rig.publish(kModel, published));
        if (!faultPath.isEmpty())
            rig.server.setFault(faultPath, VHServerFault(fault));
        rig.start();
        QVERIFY(rig.plugAndSettle(kModel, QStringLiteral("1.0")));
        QVERIFY(!visible(rig.main(), "download_count_label"));
        rig.messages.clear();
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        QCOMPARE(int(rig.controller->lastMessage()), message);
        const QString text = message == int(OrlaController::Message::SoftwareUpToDate)
                                 ? QStringLiteral("Your software is up-to-date.")
                                 : QStringLiteral("The update server's answer could not be used."); // it was reached
        QCOMPARE(rig.messages.texts(), QStringList{text});
        const QString informative = rig.messages.boxes.first().informative;
        QVERIFY2(why.isEmpty() ? informative.isEmpty() : informative.startsWith(why), qPrintable(informative));
        QVERIFY(why.isEmpty() || informative.endsWith(VHEnv::instance()->logFilePath()));
        QVERIFY(!rig.dialog()->isVisible());
        // A new connection asks again and forgets the old outcome.
        rig.unplug();
        if (!faultPath.isEmpty())
            rig.server.setFault(faultPath, VHServerFault::None);
        QVERIFY(rig.plugAndSettle(kModel, QStringLiteral("1.0")));
        rig.messages.clear();
        if (published.isEmpty() || published == QLatin1String("1.0")) {
            QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
            QCOMPARE(rig.controller->lastMessage(), OrlaController::Message::SoftwareUpToDate);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(visible(rig.main(), "download_count_label"), 15000);
        }
    }

    // A package server whose certificate is refused, or a package signed by an unknown key: the box the
    // update button opens names it in the user's language; the package already there stays and the device
    // is not written.
    void refusedDownloadIsNamedInTheUsersLanguage_data()
    {
        QTest::addColumn<QString>("translation"); // "" for English
        QTest::addColumn<QString>("refusal"); // "othername", "expired": the package's server; "stranger": its signer
        for (const char *translation : {"", "vu_de_de.qm"})
            for (const char *refusal : {"othername", "expired", "stranger"})
                QTest::addRow("%s | %s", refusal, *translation ? "German" : "English") << translation << refusal;
    }

    void refusedDownloadIsNamedInTheUsersLanguage()
    {
        QFETCH(QString, translation);
        QFETCH(QString, refusal);
        QTranslator translator;
        const bool translated = !translation.isEmpty();
        if (translated) {
            QVERIFY(translator.load(QStringLiteral(VU_QM_DIR "/") + translation));
            QCoreApplication::installTranslator(&translator);
        }
        const auto untranslate = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });
        m_sameText.clear();
        ControllerRig rig;
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0")));
        const QString folder = rig.modelFolder(kModel);
        QVERIFY(writeFile(folder + QStringLiteral("/Total.zip"), "the last good package"));
        QVERIFY(writeFile(folder + QStringLiteral("/version.txt"), "1.0"));
        QTemporaryDir keys;
        const VHTestSigning stranger(keys.path());
        VHPackageServer elsewhere(rig.serverRoot.path()); // where the package address leads
        QString reason;
        if (refusal == QLatin1String("stranger")) {
            rig.server.setSigningKey(stranger.key());
            writeTestSettings(rig.xdg.path(), {{QStringLiteral("signature"), QStringLiteral("required")}});
            reason = said("VHMinisign", "the package is signed by an unknown key %1", translated)
                         .arg(VHMinisign::keyIdText(stranger.key().keyId));
        } else {
            // Expired: signatures are required, so the package's signature is what fails to arrive.
            const bool expired = refusal == QLatin1String("expired");
            const VHTestTls::Server server = expired ? tls().expired() : tls().otherName();
            QVERIFY(elsewhere.setTls(server.certificate, server.key) && elsewhere.listen());
            const QString package = QStringLiteral("/packages/%1/Total.zip").arg(kModel);
            for (const QString &path : {package, package + VHMinisign::kSignatureSuffix})
                rig.server.setRedirect(path, elsewhere.baseUrl() + path);
            writeTestSettings(rig.xdg.path(), {{QStringLiteral("cafile"), tls().caFile()},
                                               {QStringLiteral("signature"), expired ? "required" : "off"}});
            reason =
                said("VeloraApiClient",
                     expired ? "the package's signature could not be fetched: %1" : "the package download failed: %1",
                     translated)
                    .arg(said("VHNetRequest", "the server's certificate is not valid for %1: %2", translated)
                             .arg(QStringLiteral("127.0.0.1"),
                                  said("VHNetRequest",
                                       expired ? "the certificate has expired"
                                               : "the certificate is made out for another host name",
                                       translated)));
        }
        rig.start();
        QVERIFY(rig.plugAndSettle(kModel, QStringLiteral("1.0")));
        rig.messages.clear();
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        QCOMPARE(rig.controller->lastMessage(), OrlaController::Message::UpdateServerUnreachable);
        // The server was reached: not a network fault.
        QCOMPARE(rig.messages.texts(),
                 QStringList{said("orlacontroller", "The update server's answer could not be used.", translated)});
        const QString informative = rig.messages.boxes.value(0).informative;
        QVERIFY2(informative.startsWith(reason), qPrintable(informative));
        QCOMPARE(m_sameText, QStringList());
        QCOMPARE(readFile(folder + QStringLiteral("/Total.zip")), QByteArray("the last good package"));
        QCOMPARE(readFile(folder + QStringLiteral("/version.txt")), QByteArray("1.0"));
        QCOMPARE(
            QDir(folder).entryList({QStringLiteral("Total*"), QStringLiteral(".*Total*")}, QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("Total.zip")});
        QVERIFY(rig.device.totalCalls.isEmpty());
        QVERIFY(!rig.dialog()->isVisible());
    }

    void heldUpdateRefusesCloseAndFollowsTheDevice()
    {
        ControllerRig rig;
        rig.hold(rig.device.totalGate);
        QVERIFY(rig.offerUpdate(kModel, QStringLiteral("2.0"), QStringLiteral("1.5")));
        // Nothing is written: closing is allowed (and the window comes back).
        QVERIFY(rig.main()->close());
        rig.controller->refreshMainWindow(false);
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        SoftUpdateForm *dialog = rig.dialog();
        QTest::mouseClick(widget<QPushButton>(dialog, "soft_update_button"), Qt::LeftButton);
        QVERIFY(rig.gate.waitEntered());
        QVERIFY(rig.controller->isWritingDevice());
        rig.messages.clear();
        QVERIFY(!dialog->close());
        QVERIFY(dialog->isVisible());
        QCOMPARE(rig.controller->lastMessage(), OrlaController::Message::WaitForDeviceWrite);
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("The device is being updated. Please wait until the "
                                                                  "update has finished before closing VeloraUpdate.")});
        // The window system's close button arrives through the native window.
        QVERIFY(dialog->windowHandle());
        QVERIFY(!dialog->windowHandle()->close());
        QVERIFY(dialog->isVisible());
        // The device's bytes move the bar: through the phases, never
        // backwards, at most 99 while the action runs; the step in words.
        auto *bar = widget<QProgressBar>(dialog, "step_progressBar");
        struct Step
        {
            VHPhase phase;
            qint64 done;
            int shown;
            const char *word;
        };
        const QList<Step> steps{{VHPhase::Unpack, 100, 15, "Unpacking"},
                                {VHPhase::Write, 50, 50, "Writing"},
                                {VHPhase::Write, 30, 50, "Writing"},
                                {VHPhase::Verify, 100, 97, "Checking"},
                                {VHPhase::Waiting, 100, 99, "Waiting for the watch"}};
        for (const Step &step : steps) {
            rig.manager()->currentDevice()->reportProgress(step.phase, step.done, 100);
            QTest::qWait(20);
            QCOMPARE(bar->value(), step.shown);
            QCOMPARE(widget<QLabel>(dialog, "phase_label")->text(), QString::fromLatin1(step.word));
        }
        rig.gate.open();
        QTRY_VERIFY_WITH_TIMEOUT(rig.controller->completeForm()->isVisible(), 10000);
        QCOMPARE(bar->value(), 100);
        QVERIFY(!rig.controller->isWritingDevice());
        QVERIFY(rig.controller->completeForm()->close());
    }

    void dataFolderNotWritable()
    {
        ControllerRig rig;
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0")));
        // "updates" is a file: no model folder can be made (as root, permissions would not stop us).
        writeFile(rig.dataFolder() + QStringLiteral("/updates"), "not a folder");
        rig.startWith(kModel, QStringLiteral("1.0"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.messages.texts().contains(QStringLiteral("Download GPS data failed.")), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.controller->deviceVersion(), QStringLiteral("1.0"), 15000);
        QVERIFY(rig.waitIdle());
        QVERIFY(!visible(rig.main(), "download_count_label"));
        QVERIFY(rig.device.alpCalls.isEmpty());
        QVERIFY(rig.main()->isVisible());
        QVERIFY(gpsButton(rig.main())->isEnabled());
    }

    void unsafeModelNameIsShownNotQueried()
    {
        ControllerRig rig;
        rig.startWith(QStringLiteral(".."), QStringLiteral("1.0"));
        OrlaForm *w = rig.main();
        QVERIFY(visible(w, "device_title_text"));
        QCOMPARE(widget<QLabel>(w, "device_title_text")->text(), QStringLiteral(".."));
        QVERIFY(!visible(w, "download_indicator"));
        QTest::qWait(300);
        QVERIFY2(rig.server.requestTargets().isEmpty(), qPrintable(rig.server.requestTargets().join(' ')));
        QCOMPARE(rig.controller->modelUpdatesDir(), QString());
        QTest::mouseClick(softButton(w), Qt::LeftButton);
        // Never asked, so never told it is current.
        QCOMPARE(rig.controller->lastMessage(), OrlaController::Message::UpdateServerUnreachable);
        rig.messages.clear();
        QTest::mouseClick(gpsButton(w), Qt::LeftButton);
        QCOMPARE(rig.messages.texts(), QStringList{QStringLiteral("Download GPS data failed.")});
        QVERIFY(rig.device.alpCalls.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.dataFolder() + QStringLiteral("/date.txt")));
        QVERIFY(readTestLog().contains(QStringLiteral("model name can not name a folder")));
    }

    void releaseNoteReadOnceAsPlainText()
    {
        ControllerRig rig;
        QVERIFY(rig.publish(kModel, QStringLiteral("2.0")));
        rig.startWith(kModel, QStringLiteral("1.5"));
        QTRY_VERIFY_WITH_TIMEOUT(visible(rig.main(), "download_count_label"), 15000);
        QCOMPARE(rig.controller->note(), QStringLiteral("Release note of 2.0"));
        writeFile(rig.modelFolder(kModel) + QStringLiteral("/note.txt"), "changed");
        QCOMPARE(rig.controller->note(), QStringLiteral("Release note of 2.0"));
        QVERIFY(rig.waitIdle());
        // The dialog's info icon shows it in its yellow box.
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        rig.dialog()->onMouseEnter();
        auto *note = widget<QLabel>(rig.dialog(), "note_text_label");
        QVERIFY(note && note->isVisible());
        QCOMPARE(note->text(), QStringLiteral("Release note of 2.0"));
        QCOMPARE(note->geometry(), QRect(20, 100, 300, 200));
        rig.dialog()->onMouseLeave();
        QVERIFY(!note->isVisible());
        rig.unplug();
        QCOMPARE(rig.controller->note(), QStringLiteral("empty"));
        // A note with a picture it must never load, and markup it must never render.
        const QString picture = rig.dataFolder() + QStringLiteral("/probe.png");
        QImage(200, 300, QImage::Format_RGB32).save(picture);
        const QString markup =
            QStringLiteral("<h1>Big</h1><img src=\"%1\"><a href=\"http://127.0.0.1:9/x\">link</a>").arg(picture);
        writeFile(rig.modelFolder(kModel) + QStringLiteral("/note.txt"), markup.toUtf8());
        rig.plug(kModel, QStringLiteral("1.5"));
        QTRY_VERIFY_WITH_TIMEOUT(visible(rig.main(), "download_count_label"), 15000);
        QVERIFY(rig.waitIdle());
        QTest::mouseClick(softButton(rig.main()), Qt::LeftButton);
        rig.dialog()->onMouseEnter();
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), markup);
        QCOMPARE(note->textFormat(), Qt::PlainText);
        QVERIFY(!note->openExternalLinks());
        // As plain text the note is one line of its own characters, not a 300-pixel picture.
        QVERIFY(note->sizeHint().height() < 150);
    }

    void isBetaFollowsVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("beta");
        QTest::newRow("shipped, even") << QStringLiteral("1.0.0.62") << false;
        QTest::newRow("odd fourth part") << QStringLiteral("1.0.0.63") << true;
        QTest::newRow("negative odd") << QStringLiteral("1.0.0.-3") << true;
        QTest::newRow("leading zero, decimal") << QStringLiteral("1.0.0.07") << true;
        QTest::newRow("zero") << QStringLiteral("2.1.4.0") << false;
        QTest::newRow("not a number") << QStringLiteral("1.0.0.rc1") << false;
        QTest::newRow("hexadecimal is not decimal") << QStringLiteral("1.0.0.0x3") << false;
        QTest::newRow("empty fourth part") << QStringLiteral("1.0.0.") << false;
        QTest::newRow("three parts") << QStringLiteral("1.0.62") << true;
        QTest::newRow("five parts, even") << QStringLiteral("1.0.0.62.2") << true;
        QTest::newRow("empty parts counted") << QStringLiteral("1..0.62") << false;
        QTest::newRow("no dots") << QStringLiteral("62") << true;
        QTest::newRow("empty") << QString() << true;
    }

    void isBetaFollowsVersion()
    {
        QFETCH(QString, version);
        QFETCH(bool, beta);
        QCOMPARE(OrlaController::isBetaVersion(version), beta);
        ControllerRig rig;
        rig.controller = std::make_unique<OrlaController>(version);
        QCOMPARE(rig.controller->isBeta(), beta);
        QCOMPARE(widget<QLabel>(rig.main(), "background_label")->styleSheet(),
                 beta ? QStringLiteral("background-image: url(:/background_beta.png);")
                      : QStringLiteral("background-image: url(:/background.png);"));
        // The program's own version is a release.
        QVERIFY(!OrlaController().isBeta());
    }
};

QTEST_MAIN(TestOrlaController)
#include "tst_OrlaController.moc"
