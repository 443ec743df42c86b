#include "OrlaBackupsForm.h"
#include "OrlaLanguageForm.h"
#include "OrlaModelChooser.h"
#include "OrlaRecovery.h"
#include "OrlaRestartWatch.h"
#include "OrlaTestSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTranslator>

// Every text of every window fits its fixed-size label or button in every
// shipped language: the windows cannot grow, so a text that does not fit is
// cut off on the user's screen.

namespace {

// The size a label's text needs inside `width` (wrapped when the label wraps).
QSize neededSize(const QLabel *label, int width)
{
    const QString text = label->text();
    const bool rich =
        label->textFormat() == Qt::RichText || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) {
        QTextDocument document;
        document.setDocumentMargin(0);
        document.setDefaultFont(label->font());
        document.setHtml(text);
        document.setTextWidth(label->wordWrap() ? width : -1);
        return QSize(int(document.idealWidth() + 0.5), int(document.size().height() + 0.5));
    }
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return label->fontMetrics().boundingRect(QRect(0, 0, width, 100000), flags, text).size();
}

// Names of the visible labels and buttons of `window` whose text does not fit.
QStringList textsThatDoNotFit(QWidget *window)
{
    QStringList misfits;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty())
            continue;
        const QRect room = label->contentsRect().marginsRemoved(
            QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
        const int indent = std::max(label->indent(), 0);
        const QSize needed = neededSize(label, room.width() - indent);
        if (needed.width() > room.width() - indent || needed.height() > room.height())
            misfits << QStringLiteral("%1 needs %2 x %3 in %4 x %5: %6")
                           .arg(label->objectName())
                           .arg(needed.width())
                           .arg(needed.height())
                           .arg(room.width() - indent)
                           .arg(room.height())
                           .arg(label->text());
    }
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty())
            continue;
        // The button pictures leave a few pixels of frame on each side.
        const int room = button->width() - 12;
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        if (needed > room)
            misfits << QStringLiteral("%1 needs %2 of %3: %4")
                           .arg(button->objectName())
                           .arg(needed)
                           .arg(room)
                           .arg(button->text());
    }
    return misfits;
}

// The steps named under the progress bars.
constexpr const char *kPhaseWords[] = {"Unpacking", "Writing", "Checking", "Waiting for the watch"};

} // namespace

class TestOrlaTextFit : public QObject
{
    Q_OBJECT

    QTemporaryDir m_xdg;
    QTranslator m_translator;
    ActionsStub m_stub;

    void loadLanguage()
    {
        QFETCH(QString, file);
        QVERIFY(m_translator.load(QStringLiteral(VU_QM_DIR "/") + file));
        QCoreApplication::installTranslator(&m_translator);
    }

    static void checkFits(QWidget *window, const char *state)
    {
        window->show();
        const QStringList misfits = textsThatDoNotFit(window);
        window->hide();
        QVERIFY2(misfits.isEmpty(), qPrintable(QLatin1String(state) + QStringLiteral(":\n") + misfits.join('\n')));
    }

private slots:
    void initTestCase() { initTestEnv(m_xdg.path()); }

    void cleanup() { QCoreApplication::removeTranslator(&m_translator); }

    void windows_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("English") << "vu_en_us.qm";
        QTest::newRow("German") << "vu_de_de.qm";
        QTest::newRow("Chinese") << "vu_zh_tw.qm";
    }

    // Each window in each of its states, built after the language is loaded
    // as the program builds them.
    void windows()
    {
        loadLanguage();
        OrlaForm main(&m_stub, false);
        main.setDevice(QString(), QString(), {});
        checkFits(&main, "no device");
        main.showMountOffer(
            QCoreApplication::translate("orlaform", "The device volume %1 is connected but not mounted.")
                .arg(QStringLiteral("PACER60")),
            true);
        checkFits(&main, "volume not mounted");
        main.showMountOffer(QCoreApplication::translate("orlaform", "Mounting %1 ...").arg(QStringLiteral("PACER60")),
                            false);
        checkFits(&main, "mounting");
        main.hideMountOffer();
        main.setDevice(QStringLiteral("Pacer60"), QStringLiteral("0F01AAAABBBBCCCC"),
                       {QStringLiteral("9.123.0101.77.024.042"), QStringLiteral("1.04.07.2.10.0311.12.203.105")});
        main.allowWorkouts();
        main.showUpdateNotice();
        checkFits(&main, "device");
        main.setGpsUpdating(true);
        checkFits(&main, "GPS data");
        main.setGpsUpdating(false);
        main.setWorkoutInstalling(true);
        checkFits(&main, "workouts");
        for (const char *word : kPhaseWords) {
            main.setPhase(QCoreApplication::translate("orlacontroller", word));
            checkFits(&main, word);
        }
        main.onAboutLabelEnter();
        checkFits(&main, "version");
        // Each further job once in a slot of its own, and the "More" button.
        main.setJobs(VHJob::Languages | VHJob::FactoryRestore | VHJob::Backups);
        checkFits(&main, "flash-store jobs");
        main.setJobs(VHJob::Recover);
        checkFits(&main, "recover");
        main.setJobs(VHJob::SoftwareUpdate | VHJob::Languages | VHJob::FactoryRestore | VHJob::Backups);
        checkFits(&main, "more");
        for (const QString &line : {OrlaRestartWatch::restartingText(), OrlaRestartWatch::replugText(),
                                    OrlaRecovery::waitingLine(), OrlaRecovery::recoveringLine()}) {
            main.showStatusLine(line);
            checkFits(&main, qPrintable(line));
        }

        SoftUpdateForm dialog(&m_stub);
        dialog.setData(QStringLiteral("2.0"), QStringLiteral("1.5"), QString());
        checkFits(&dialog, "offering");
        dialog.onUpdateclicked();
        checkFits(&dialog, "updating");
        for (const char *word : kPhaseWords) {
            dialog.setPhase(QCoreApplication::translate("orlacontroller", word));
            checkFits(&dialog, word);
        }
        dialog.showWaitText(OrlaRestartWatch::restartingText());
        checkFits(&dialog, "restarting");

        recover_complete_form done(false);
        checkFits(&done, "completed");
        done.showResult(false);
        checkFits(&done, "already up to date");

        recover_fail_form fail(&m_stub);
        fail.setReason(3, QStringLiteral("not enough free space on the device: 1024 KiB needed"));
        checkFits(&fail, "no space");
        fail.setReason(0, QStringLiteral("the update server http://nonexistent.invalid/versions/index could not be "
                                         "reached"));
        checkFits(&fail, "failed with a reason");
        for (auto hint : {OrlaRestartWatch::Hint::Recover, OrlaRestartWatch::Hint::RestoreAgain,
                          OrlaRestartWatch::Hint::UpdateAgain}) {
            fail.setReason(0, OrlaRestartWatch::timeoutDetails(180, hint));
            checkFits(&fail, "the device stayed away");
        }
        // The longest signature refusal, as the window words it.
        const auto inWords = [](const char *text) { return QCoreApplication::translate("orlacontroller", text); };
        fail.setReason(0, inWords("The package was not written: %1.")
                              .arg(inWords("the package is signed by an unknown key %1").arg("0123456789ABCDEF")));
        checkFits(&fail, "unknown signing key");
        fail.setReason(0, inWords("The package was not written: %1.")
                              .arg(inWords("the package's signature does not match its contents")));
        checkFits(&fail, "signature does not match");
        fail.setReason(0, QCoreApplication::translate(
                              "OrlaRecovery", "The restore files the device was being restored from are gone."));
        checkFits(&fail, "restore files gone");
        fail.setReason(0);
        checkFits(&fail, "failed");

        OrlaModelChooser chooser;
        chooser.offer({QStringLiteral("Pacer21"), QStringLiteral("Pacer20plus")}, QStringLiteral("Pacer20plus"));
        checkFits(&chooser, "model chooser");
    }

    void flashStoreWindows_data() { windows_data(); }

    // The language chooser and the backups window, with the longest texts the
    // controller puts under their lists.
    void flashStoreWindows()
    {
        loadLanguage();
        const auto controllerText = [](const char *text) {
            return QCoreApplication::translate("OrlaControllerFlashStore", text).arg(20);
        };
        OrlaLanguageForm languages;
        languages.setLanguages({{QStringLiteral("deu"), OrlaLanguageForm::languageName(QStringLiteral("deu"))},
                                {QStringLiteral("zho"), OrlaLanguageForm::languageName(QStringLiteral("zho"))}});
        checkFits(&languages, "reading the device's languages");
        for (const char *refusal :
             {"These languages do not fit into the watch's language memory. Choose fewer.",
              "The language pack has no file for one of these languages.", "The watch holds at most %1 languages."}) {
            languages.refuse(controllerText(refusal));
            checkFits(&languages, refusal);
        }
        languages.setUpdating();
        checkFits(&languages, "updating");

        OrlaBackupsForm backups;
        backups.setBackups({});
        checkFits(&backups, "no backups");
        backups.setBackups({{QStringLiteral("/a.dat"), QDateTime::currentDateTimeUtc(), 2 * 1024 * 1024}},
                           controllerText("The backup was not written back: the device is busy, or the file is no "
                                          "backup of this watch."));
        checkFits(&backups, "not written back");
        backups.setWorking(controllerText("Writing the backup back onto the watch..."));
        checkFits(&backups, "writing back");
    }
};

QTEST_MAIN(TestOrlaTextFit)
#include "tst_OrlaTextFit.moc"
