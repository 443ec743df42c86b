// The language chooser and the backups window of the updater, on a simulated
// Pacer40 reached through the runtime with the built-in model table: what the
// windows show, what they refuse, and what the device holds afterwards.

#include "OrlaBackupsForm.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaLanguageForm.h"
#include "SoftUpdateForm.h"
#include "VHDaemon.h"
#include "VHDevSim.h"
#include "VHDeviceFamilies.h"
#include "VHDeviceManager.h"
#include "VHEnv.h"
#include "VHLanguageUpdate.h"
#include "VHPSFDevice.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePackBuilder.h"
#include "VHPlatform.h"
#include "VHTestEnv.h"
#include "VHTestFiles.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kName = QStringLiteral("LINDEN1");

// Answers every message box as it shows (Ok, or Cancel when told) and notes its text.
class BoxAnswerer : public QObject
{
public:
    QStringList texts;
    bool cancel = false;

    BoxAnswerer() { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (event->type() == QEvent::Show && box) {
            texts << box->text();
            QAbstractButton *answer = cancel ? box->button(QMessageBox::Cancel) : nullptr;
            QPointer<QAbstractButton> button = answer ? answer : box->button(QMessageBox::Ok);
            QMetaObject::invokeMethod(
                box,
                [button] {
                    if (button)
                        button->click();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }
};

QStringList languagesIn(const QByteArray &internal)
{
    QStringList codes;
    VHLanguageUpdate::listing(internal.left(VHPSFLanguageImage::kAreaSize), VHPSFLanguageImage::kDirectoryReach, codes);
    return codes;
}

} // namespace

class TestOrlaFlashStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QTemporaryDir m_root;
    std::unique_ptr<VHDevSim> m_sim;
    std::unique_ptr<OrlaController> m_controller;
    BoxAnswerer m_boxes;

    VHPSFDevice *device() const
    {
        return qobject_cast<VHPSFDevice *>(VHDaemon::instance()->deviceManager()->currentDevice());
    }
    OrlaLanguageForm *chooser() const { return m_controller->languageForm(); }
    OrlaBackupsForm *backups() const { return m_controller->backupsForm(); }
    template <typename T>
    static T *child(QWidget *window, const char *name)
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    // The completion window, or the failure window's reason as the failure.
    bool completed()
    {
        QTest::qWaitFor(
            [this] { return m_controller->completeForm()->isVisible() || m_controller->failForm()->isVisible(); },
            120000);
        if (!m_controller->completeForm()->isVisible())
            fprintf(stderr, "not completed: %s\n", qPrintable(m_controller->failForm()->details()));
        return m_controller->completeForm()->isVisible();
    }
    QString languageMessage() const { return child<QLabel>(chooser(), "language_msg_label")->text(); }

    bool idle()
    {
        return QTest::qWaitFor([this] { return device() && !device()->isBusy() && !m_controller->isWritingDevice(); },
                               30000);
    }

    // A pack in the model's updates folder, where the updater keeps the downloaded one.
    bool publishPack(const VHPSFLanguagePackBuilder::Options &options)
    {
        const QString folder = VHEnv::instance()->dataFolder() + QStringLiteral("/updates/Pacer40");
        return QDir().mkpath(folder)
               && VHPSFLanguagePackBuilder::writePackage(folder + QStringLiteral("/Total.zip"), options);
    }

    // Opens the chooser and waits until it has ticked the device's languages.
    bool openChooser()
    {
        m_controller->chooseLanguages();
        // The controller's own checks that the read put off run after it.
        return chooser() && chooser()->isVisible()
               && QTest::qWaitFor([this] { return child<QListWidget>(chooser(), "language_list")->isEnabled(); }, 30000)
               && idle();
    }

    void clickUpdate() { QTest::mouseClick(child<QPushButton>(chooser(), "language_update_button"), Qt::LeftButton); }

    QStringList listedCodes() const
    {
        QStringList codes;
        auto *list = child<QListWidget>(chooser(), "language_list");
        for (int row = 0; row < list->count(); ++row)
            codes << list->item(row)->data(Qt::UserRole).toString();
        return codes;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void chooserTicksTheDevicesLanguages();
    void packReadEndsUnheardAfterLeaving_data();
    void packReadEndsUnheardAfterLeaving();
    void chosenLanguagesAreWritten();
    void choicesRefused_data();
    void choicesRefused();
    void backupsListedMadeAndRestored();
    void titleBarCloseActsLikeItsButton_data();
    void titleBarCloseActsLikeItsButton();
    void restoreCancelledOrRefused_data();
    void restoreCancelledOrRefused();
};

void TestOrlaFlashStore::initTestCase()
{
    qputenv("VELORA_SIM_ROOT", m_root.path().toUtf8());
    // No update or assist-data server: the connection's own queries fail at once.
    initTestEnv(m_data.path(), {{QStringLiteral("debug"), QStringLiteral("1")},
                                {QStringLiteral("updateurl"), QStringLiteral("http://127.0.0.1:9/versions/index")},
                                {QStringLiteral("alpurl"), QStringLiteral("http://127.0.0.1:9")}});
    VHDeviceFamilies::registerAll();
    m_sim = std::make_unique<VHDevSim>(m_root.path());
    VHDaemon *daemon = VHDaemon::instance();
    daemon->platform()->setBackend(VHPlatform::createDefaultBackend());
    daemon->deviceManager()->setDeviceClassFlags(3);
    QVERIFY(daemon->start(true));
    m_controller = std::make_unique<OrlaController>();
    QVERIFY(m_sim->createPacer40(kName));
    QVERIFY(m_sim->plug(kName));
    QVERIFY(QTest::qWaitFor([this] { return device() != nullptr; }, 10000));
    device()->setWait([](int) {}); // the simulated flash is ready at once
    QVERIFY(idle());
}

void TestOrlaFlashStore::cleanupTestCase()
{
    m_controller.reset();
    VHDaemon::instance()->deviceManager()->onDeviceUnplug();
}

void TestOrlaFlashStore::chooserTicksTheDevicesLanguages()
{
    QVERIFY(publishPack(VHPSFLanguagePackBuilder::Options()));
    QVERIFY(openChooser());
    // The pack's languages by name, with the code beside; the device holds "eng" and "deu".
    QCOMPARE(listedCodes(), (QStringList{QStringLiteral("deu"), QStringLiteral("eng"), QStringLiteral("fra")}));
    QCOMPARE(child<QListWidget>(chooser(), "language_list")->item(0)->text(), QStringLiteral("Deutsch (deu)"));
    QCOMPARE(chooser()->chosenCodes(), (QStringList{QStringLiteral("deu"), QStringLiteral("eng")}));
    QTest::mouseClick(child<QPushButton>(chooser(), "cancel_button"), Qt::LeftButton);
    QVERIFY(m_controller->mainWindow()->isVisible());
    QVERIFY(!chooser()->isVisible());
}

// The pack is read on a worker while the chooser waits: leaving meanwhile
// drops its result, and nothing is started on the device.
void TestOrlaFlashStore::packReadEndsUnheardAfterLeaving_data()
{
    QTest::addColumn<bool>("controllerGoes");
    QTest::newRow("chooser cancelled") << false;
    QTest::newRow("controller deleted") << true;
}

void TestOrlaFlashStore::packReadEndsUnheardAfterLeaving()
{
    QFETCH(bool, controllerGoes);
    QVERIFY(publishPack(VHPSFLanguagePackBuilder::Options()));
    m_controller->chooseLanguages();
    QVERIFY(chooser()->isVisible());
    QVERIFY(!child<QListWidget>(chooser(), "language_list")->isEnabled());
    if (controllerGoes) {
        m_controller.reset(); // waits for the read
        m_controller = std::make_unique<OrlaController>();
        m_controller->refreshMainWindow(false);
    } else {
        QTest::mouseClick(child<QPushButton>(chooser(), "cancel_button"), Qt::LeftButton);
    }
    QTest::qWait(500);
    QVERIFY(idle());
    QVERIFY(m_controller->mainWindow()->isVisible());
    QVERIFY(!chooser() || !chooser()->isVisible());
    QVERIFY(!m_controller->failForm()->isVisible());
}

void TestOrlaFlashStore::chosenLanguagesAreWritten()
{
    VHPSFLanguagePackBuilder::Options options;
    QVERIFY(publishPack(options));
    QVERIFY(openChooser());
    const QStringList chosen{QStringLiteral("deu"), QStringLiteral("fra")};
    chooser()->setChosen(chosen);
    clickUpdate();
    QVERIFY(device()->isBusy());
    QVERIFY(completed());
    QVERIFY(!chooser()->isVisible());
    const QByteArray internal = m_sim->flash(kName, VHDevSim::Flash::Internal);
    QCOMPARE(languagesIn(internal), chosen);
    QCOMPARE(internal.left(VHPSFLanguageImage::kAreaSize), VHPSFLanguagePackBuilder::expectedArea(options, chosen));
    // Asked again, the chooser ticks what was written.
    QVERIFY(idle());
    QVERIFY(openChooser());
    QCOMPARE(chooser()->chosenCodes(), chosen);
    m_controller->refreshMainWindow(false);
}

void TestOrlaFlashStore::choicesRefused_data()
{
    QTest::addColumn<int>("broken");
    QTest::addColumn<int>("fontSize");
    QTest::addColumn<int>("chosen"); // the first n of the listed languages
    QTest::addColumn<QString>("refusal");
    const int none = int(VHPSFLanguagePackBuilder::Broken::None);
    QTest::newRow("nothing ticked") << none << 300 << 0 << "Choose at least one language.";
    QTest::newRow("more than a directory holds")
        << int(VHPSFLanguagePackBuilder::Broken::TwentyFive) << 300 << 21 << "The watch holds at most 20 languages.";
    QTest::newRow("larger than the language area")
        << none << 400000 << 3 << "These languages do not fit into the watch's language memory. Choose fewer.";
}

void TestOrlaFlashStore::choicesRefused()
{
    QFETCH(int, broken);
    QFETCH(int, fontSize);
    QFETCH(int, chosen);
    QFETCH(QString, refusal);
    VHPSFLanguagePackBuilder::Options options;
    options.broken = VHPSFLanguagePackBuilder::Broken(broken);
    options.fontSize = fontSize;
    QVERIFY(publishPack(options));
    const QByteArray before = m_sim->flash(kName, VHDevSim::Flash::Internal);
    QVERIFY(openChooser());
    chooser()->setChosen(listedCodes().mid(0, chosen));
    clickUpdate();
    QCOMPARE(languageMessage(), refusal);
    // Nothing started; the user may choose again.
    QVERIFY(!device()->isBusy());
    QVERIFY(chooser()->isVisible());
    QVERIFY(child<QPushButton>(chooser(), "language_update_button")->isEnabled());
    QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::Internal), before);
    m_controller->refreshMainWindow(false);
}

void TestOrlaFlashStore::backupsListedMadeAndRestored()
{
    m_controller->manageBackups();
    QVERIFY(backups()->isVisible());
    auto *list = child<QListWidget>(backups(), "backup_list");
    QCOMPARE(list->count(), 0);
    QCOMPARE(child<QLabel>(backups(), "backup_msg_label")->text(), QStringLiteral("No backups of this watch yet."));
    QVERIFY(!child<QPushButton>(backups(), "restore_backup_button")->isEnabled());
    const QByteArray first = m_sim->flash(kName, VHDevSim::Flash::External);
    for (int made = 1; made <= 2; ++made) {
        QTest::mouseClick(child<QPushButton>(backups(), "make_backup_button"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), made, 60000);
        QVERIFY(idle());
        QCOMPARE(child<QLabel>(backups(), "backup_msg_label")->text(), QStringLiteral("A new backup was made."));
    }
    // Newest first, as the data folder holds them.
    backups()->choose(0);
    const OrlaBackupsForm::Backup newest = backups()->chosen();
    QCOMPARE(newest.path, device()->latestBackup());
    QCOMPARE(newest.size, device()->externalFlashSize());
    backups()->choose(1);
    QVERIFY(backups()->chosen().taken <= newest.taken);
    QCOMPARE(readFile(backups()->chosen().path), first);
    // The device's data changes after the backup; the backup brings it back.
    QByteArray changed = first;
    changed[0x1F84AB] = char(changed.at(0x1F84AB) ^ 0x5A);
    QVERIFY(m_sim->setFlash(kName, VHDevSim::Flash::External, changed));
    m_boxes.texts.clear();
    QTest::mouseClick(child<QPushButton>(backups(), "restore_backup_button"), Qt::LeftButton);
    QVERIFY(completed());
    QCOMPARE(m_boxes.texts.size(), 1);
    QVERIFY2(m_boxes.texts.first().startsWith(QStringLiteral("Write the backup of %1 back onto the watch?")
                                                  .arg(OrlaBackupsForm::dateText(backups()->chosen().taken))),
             qPrintable(m_boxes.texts.first()));
    QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), first);
    QVERIFY(idle());
}

void TestOrlaFlashStore::titleBarCloseActsLikeItsButton_data()
{
    QTest::addColumn<int>("window"); // 0 languages, 1 backups, 2 the update dialog
    QTest::addColumn<bool>("busy");  // a backup is being made
    QTest::newRow("language window") << 0 << false;
    QTest::newRow("backups window") << 1 << false;
    QTest::newRow("update dialog") << 2 << false;
    QTest::newRow("backups window, a backup being made") << 1 << true;
}

void TestOrlaFlashStore::titleBarCloseActsLikeItsButton()
{
    QFETCH(int, window);
    QFETCH(bool, busy);
    QWidget *shown = nullptr;
    if (window == 0) {
        QVERIFY(openChooser());
        shown = chooser();
    } else if (window == 1) {
        m_controller->manageBackups();
        shown = backups();
    } else {
        m_controller->mainWindow()->hide();
        m_controller->softUpdateForm()->show();
        shown = m_controller->softUpdateForm();
    }
    QVERIFY(shown->isVisible());
    if (busy)
        QTest::mouseClick(child<QPushButton>(backups(), "make_backup_button"), Qt::LeftButton);
    QCOMPARE(shown->close(), !busy);
    QCOMPARE(shown->isVisible(), busy);
    QCOMPARE(m_controller->mainWindow()->isVisible(), !busy);
    if (busy) {
        QVERIFY(idle());
        QTRY_VERIFY(child<QPushButton>(backups(), "back_button")->isEnabled());
        QVERIFY(backups()->close());
        QVERIFY(m_controller->mainWindow()->isVisible());
    }
}

void TestOrlaFlashStore::restoreCancelledOrRefused_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("reason"); // under the failure window; empty: none shown
    QTest::newRow("cancelled") << true << false << QString();
    QTest::newRow("damaged backup") << false << true << "the backup holds no sound store";
}

void TestOrlaFlashStore::restoreCancelledOrRefused()
{
    QFETCH(bool, cancel);
    QFETCH(bool, damaged);
    QFETCH(QString, reason);
    m_controller->manageBackups();
    backups()->choose(0);
    const QString path = backups()->chosen().path;
    QVERIFY(!path.isEmpty());
    if (damaged)
        writeFile(path, QByteArray(int(device()->externalFlashSize()), char(0x5A)));
    const QByteArray before = m_sim->flash(kName, VHDevSim::Flash::External);
    m_boxes.cancel = cancel;
    QTest::mouseClick(child<QPushButton>(backups(), "restore_backup_button"), Qt::LeftButton);
    if (reason.isEmpty()) {
        QTest::qWait(300);
        QVERIFY(backups()->isVisible());
        QVERIFY(!device()->isBusy());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(m_controller->failForm()->isVisible(), 60000);
        QVERIFY2(m_controller->failForm()->details().contains(reason), qPrintable(m_controller->failForm()->details()));
    }
    m_boxes.cancel = false;
    // Nothing was erased or written over.
    QCOMPARE(m_sim->flash(kName, VHDevSim::Flash::External), before);
    QVERIFY(idle());
    m_controller->refreshMainWindow(false);
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestOrlaFlashStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_OrlaFlashStore.moc"
