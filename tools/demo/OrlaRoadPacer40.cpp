// The Pacer40 road: the server's language pack for a flash-store watch, the
// chooser with the watch's languages ticked, one more ticked by the user, the
// language area written, and the watch's languages read back.

#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaLanguageForm.h"
#include "OrlaRoad.h"
#include "VHClient.h"
#include "VHDevSim.h"
#include "VHScsiFlashClient.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

namespace {

QListWidget *languageList(QWidget *chooser)
{
    return chooser->findChild<QListWidget *>(QStringLiteral("language_list"));
}

QStringList listedCodes(QWidget *chooser)
{
    QStringList codes;
    QListWidget *list = languageList(chooser);
    for (int row = 0; row < list->count(); ++row)
        codes << list->item(row)->data(Qt::UserRole).toString();
    return codes;
}

} // namespace

bool OrlaRoad::runPacer40Road()
{
    return plugPacer40AndOfferLanguages() && chooserTicksTheDevicesLanguages() && oneMoreLanguageTicked()
           && languageUpdateCompletes();
}

bool OrlaRoad::plugPacer40AndOfferLanguages()
{
    return step(QStringLiteral("Pacer40 shown, languages offered"), [this](QString &detail) {
        OrlaForm *main = m_controller->mainWindow();
        if (!plugRoadDevice([](VHDevSim &sim, const QString &name) { return sim.createPacer40(name); }))
            return failWith(detail, QStringLiteral("the Pacer40 was not found: ") + m_error);
        // The simulated flash is ready at once: no pauses for a real one's erase.
        if (auto *flash = qobject_cast<VHScsiFlashClient *>(currentDevice()))
            flash->setWait([](int) {});
        QPushButton *languages = main->jobButton(VHJob::Languages);
        // The pack is downloaded with the update notice; the chooser reads it from the model's folder.
        const QString pack = m_controller->modelUpdatesDir() + QStringLiteral("/Total.zip");
        auto offered = [this, main, languages, pack] {
            return main->isVisible() && languages->isVisible() && languages->isEnabled()
                   && label(main, "download_count_label")->isVisible() && QFileInfo(pack).isFile() && deviceIdle();
        };
        if (!waitFor(offered))
            return failWith(detail, QStringLiteral("no language offer or no downloaded pack"));
        shoot(QStringLiteral("languages-offered"), main);
        return true;
    });
}

bool OrlaRoad::chooserTicksTheDevicesLanguages()
{
    return step(QStringLiteral("chooser with the watch's languages ticked"), [this](QString &detail) {
        if (!click(m_controller->mainWindow(), "languages_button"))
            return failWith(detail, QStringLiteral("\"Choose Languages\" can not be pressed"));
        OrlaLanguageForm *chooser = m_controller->languageForm();
        // The list is held until the watch's own languages are read and ticked.
        auto ready = [this, chooser] {
            return chooser && chooser->isVisible() && languageList(chooser)->isEnabled() && deviceIdle();
        };
        if (!waitFor(ready))
            return failWith(detail, QStringLiteral("the chooser did not open with the watch's languages"));
        QStringList onDevice;
        currentDevice()->getLanguageOnDevice(onDevice);
        m_languagesBefore = chooser->chosenCodes();
        detail =
            QStringLiteral("offered %1, ticked %2").arg(listedCodes(chooser).join(','), m_languagesBefore.join(','));
        if (m_languagesBefore.isEmpty() || !listedCodes(chooser).contains(addedLanguage())
            || m_languagesBefore.contains(addedLanguage()))
            return failWith(detail, QStringLiteral("not the pack's languages with the watch's ticked: ") + detail);
        for (const QString &code : std::as_const(m_languagesBefore))
            if (!onDevice.contains(code))
                return failWith(detail, QStringLiteral("%1 is ticked but not on the watch").arg(code));
        shoot(QStringLiteral("chooser"), chooser);
        return true;
    });
}

bool OrlaRoad::oneMoreLanguageTicked()
{
    return step(QStringLiteral("one more language ticked"), [this](QString &detail) {
        OrlaLanguageForm *chooser = m_controller->languageForm();
        QListWidget *list = languageList(chooser);
        const qsizetype row = listedCodes(chooser).indexOf(addedLanguage());
        if (row < 0)
            return failWith(detail, QStringLiteral("the pack has no ") + addedLanguage());
        list->item(int(row))->setCheckState(Qt::Checked);
        const QStringList chosen = chooser->chosenCodes();
        detail = chosen.join(QLatin1Char(','));
        if (chosen.size() != m_languagesBefore.size() + 1)
            return failWith(detail, QStringLiteral("the choice did not change as ticked: ") + detail);
        shoot(QStringLiteral("language-ticked"), chooser);
        return true;
    });
}

bool OrlaRoad::languageUpdateCompletes()
{
    return step(QStringLiteral("languages written, completion, read back"), [this](QString &detail) {
        OrlaLanguageForm *chooser = m_controller->languageForm();
        const QStringList chosen = chooser->chosenCodes();
        if (!click(chooser, "language_update_button"))
            return failWith(detail, QStringLiteral("\"Update\" can not be pressed"));
        // The bar moves with the first block written; the picture waits for it.
        auto *bar = chooser->findChild<QProgressBar *>();
        recover_complete_form *done = m_controller->completeForm();
        waitFor([bar, done] { return done->isVisible() || (bar && bar->value() > 0); });
        shoot(QStringLiteral("updating"), chooser);
        if (!waitFor([this, done] { return done->isVisible() || m_controller->failForm()->isVisible(); })
            || !done->isVisible())
            return failWith(detail, QStringLiteral("no completion window: ") + m_controller->failForm()->details());
        shoot(QStringLiteral("completion"), done);
        if (!waitFor([this] { return deviceIdle(); }))
            return failWith(detail, QStringLiteral("the watch stays busy"));
        QStringList onDevice;
        if (!currentDevice() || !currentDevice()->getLanguageOnDevice(onDevice))
            return failWith(detail, QStringLiteral("the watch's languages can not be read"));
        detail = onDevice.join(QLatin1Char(','));
        for (const QString &code : chosen)
            if (!onDevice.contains(code))
                return failWith(detail, QStringLiteral("%1 is not on the watch: %2").arg(code, detail));
        return true;
    });
}
