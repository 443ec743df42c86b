// The jobs of the watches whose data lives in a flash store: choosing the
// languages of a language update, and the backups of their external flash.
// Every device access runs as an action on the device's worker thread; the
// windows only ask, and hear the end through onActionDone.

#include "OrlaBackupsForm.h"
#include "OrlaController.h"
#include "OrlaForm.h"
#include "OrlaLanguageForm.h"
#include "VHArchiveFiles.h"
#include "VHLanguageMap.h"
#include "VHLanguageUpdate.h"
#include "VHLog.h"
#include "VHPSFLanguageImage.h"
#include "VHPSFLanguagePack.h"
#include "VHScsiFlashClient.h"
#include "VHUpdatesFolder.h"
#include "recover_complete_form.h"
#include "recover_fail_form.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("OrlaControllerFlashStore", text); }

} // namespace

VHScsiFlashClient *OrlaController::flashStoreDevice() const
{
    return qobject_cast<VHScsiFlashClient *>(currentDevice());
}

void OrlaController::makeFlashStoreWindows()
{
    if (m_languageForm)
        return;
    m_languageForm = std::make_unique<OrlaLanguageForm>();
    m_backupsForm = std::make_unique<OrlaBackupsForm>();
    for (QWidget *window : std::initializer_list<QWidget *>{m_languageForm.get(), m_backupsForm.get()})
        window->installEventFilter(this);
    connect(m_languageForm.get(), &OrlaLanguageForm::updateRequested, this, &OrlaController::startLanguageUpdate);
    connect(m_languageForm.get(), &OrlaLanguageForm::cancelled, this, [this] { refreshMainWindow(false); });
    connect(m_backupsForm.get(), &OrlaBackupsForm::makeRequested, this, &OrlaController::makeBackup);
    connect(m_backupsForm.get(), &OrlaBackupsForm::restoreRequested, this, &OrlaController::confirmRestore);
    connect(m_backupsForm.get(), &OrlaBackupsForm::closed, this, [this] { refreshMainWindow(false); });
}

void OrlaController::hideFlashStoreWindows()
{
    if (!m_languageForm)
        return;
    m_languageForm->hide();
    m_backupsForm->hide();
}

// ---- languages --------------------------------------------------------------------

void OrlaController::chooseLanguages()
{
    VHScsiFlashClient *device = flashStoreDevice();
    if (!device || device->languageAreaSize() <= 0) {
        showFailForm(0, tr_("This device takes no language pack."));
        return;
    }
    const VHUpdatesFolder folder = updatesFolder();
    const QString path = folder.isValid() ? folder.file(VHUpdatesFolder::kPackage) : QString();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        showFailForm(0, tr_("The language pack has not been downloaded."));
        return;
    }
    makeFlashStoreWindows();
    // The window waits in its reading state while a worker reads the pack.
    m_languageForm->setLanguages({});
    m_mainWindow->hide();
    showInstead(m_languageForm.get());
    readLanguagePack(device, path);
}

void OrlaController::readLanguagePack(VHScsiFlashClient *device, const QString &path)
{
    // Read whole and checked before anything is chosen; the device later
    // reads the same file again, with the same checks. Off the GUI thread:
    // a pack is several megabytes.
    const qint64 areaSize = device->languageAreaSize();
    const QPointer<VHScsiFlashClient> asked(device);
    const quint64 reading = ++m_packReading;
    m_packReader.start([this, path, areaSize, asked, reading] {
        auto pack = std::make_shared<VHPSFLanguagePack>();
        VHArchiveFiles::Files files;
        VHResult result = VHArchiveFiles::read(path, files);
        if (result)
            result = VHPSFLanguagePack::parse(files, *pack, areaSize);
        QMetaObject::invokeMethod(
            this, [=] { onLanguagePackRead(asked, reading, path, pack, result); }, Qt::QueuedConnection);
    });
}

void OrlaController::onLanguagePackRead(const QPointer<VHScsiFlashClient> &device, quint64 reading, const QString &path,
                                        const std::shared_ptr<VHPSFLanguagePack> &pack, VHResult result)
{
    // Gone, another device, a later read, or the window closed meanwhile: the pack is not wanted now.
    if (reading != m_packReading || !device || device != flashStoreDevice() || !m_languageForm->isVisible())
        return;
    if (result && pack->languageCodes(VHLanguageMap()).isEmpty())
        result = VHResult::failure(VHScsiFlashClient::BadPackage, tr_("The language pack holds no languages."));
    if (!result) {
        showFailForm(0, result.reason);
        return;
    }
    m_languagePack = std::make_unique<VHPSFLanguagePack>(std::move(*pack));
    m_languagePackPath = path;
    QList<OrlaLanguageForm::Language> languages;
    for (const QString &code : m_languagePack->languageCodes(VHLanguageMap()))
        languages.append({code, OrlaLanguageForm::languageName(code)});
    m_languageForm->setLanguages(languages);
    if (!startFlashJob(device, FlashJob::ReadLanguages, device->readLanguages()))
        showFailForm(0, tr_("The device is busy. Please try again later."));
}

QString OrlaController::languageChoiceRefusal(const QStringList &codes) const
{
    switch (m_languagePack->checkChoice(codes)) {
    case VHPSFLanguagePack::Choice::Fits:
        return QString();
    case VHPSFLanguagePack::Choice::Empty:
        return tr_("Choose at least one language.");
    case VHPSFLanguagePack::Choice::TooMany:
        return tr_("The watch holds at most %1 languages.").arg(VHPSFLanguageImage::kMaxLanguages);
    case VHPSFLanguagePack::Choice::NoFile:
        return tr_("The language pack has no file for one of these languages.");
    case VHPSFLanguagePack::Choice::TooLarge:
        break;
    }
    return tr_("These languages do not fit into the watch's language memory. Choose fewer.");
}

void OrlaController::startLanguageUpdate(const QStringList &codes)
{
    if (const QString refusal = languageChoiceRefusal(codes); !refusal.isEmpty()) {
        m_languageForm->refuse(refusal);
        return;
    }
    VHScsiFlashClient *device = flashStoreDevice();
    if (!device) {
        showFailForm(0, tr_("The device is no longer connected."));
        return;
    }
    // The same argument as the command line's update PACKAGE LANG: the codes in their order.
    const bool started = device->updateTotal(m_languagePackPath, VHLanguageUpdate::joinLanguages(codes));
    if (!startFlashJob(device, FlashJob::LanguageUpdate, started)) {
        m_languageForm->refuse(tr_("The device is busy. Please try again later."));
        return;
    }
    m_languageForm->setUpdating();
}

// ---- backups ----------------------------------------------------------------------

void OrlaController::manageBackups()
{
    if (!flashStoreDevice()) {
        showFailForm(0, tr_("This device keeps no backups."));
        return;
    }
    makeFlashStoreWindows();
    showBackups();
    m_mainWindow->hide();
    showInstead(m_backupsForm.get());
}

void OrlaController::showBackups(const QString &message)
{
    QList<OrlaBackupsForm::Backup> backups;
    if (VHScsiFlashClient *device = flashStoreDevice()) {
        for (const VHScsiFlashClient::BackupEntry &entry : device->ownBackupEntries())
            backups.append({entry.path, entry.taken, entry.size});
    }
    m_backupsForm->setBackups(backups, message);
}

void OrlaController::makeBackup()
{
    VHScsiFlashClient *device = flashStoreDevice();
    if (!startFlashJob(device, FlashJob::MakeBackup, device && device->makeBackup())) {
        showBackups(device ? tr_("The device is busy. Please try again later.")
                           : tr_("The device is no longer connected."));
        return;
    }
    m_backupsForm->setWorking(tr_("Making a backup..."));
}

void OrlaController::confirmRestore(const QString &path)
{
    const OrlaBackupsForm::Backup backup = m_backupsForm->chosen();
    auto *box = new QMessageBox(m_backupsForm.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Velora Update"));
    box->setIcon(QMessageBox::Warning);
    box->setText(tr_("Write the backup of %1 back onto the watch? Everything the watch recorded after it is replaced.")
                     .arg(OrlaBackupsForm::dateText(backup.taken)));
    box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box->button(QMessageBox::Ok)->setText(tr_("Restore"));
    box->button(QMessageBox::Cancel)->setText(tr_("Cancel"));
    // Nothing is overwritten by a key pressed in passing.
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::accepted, this, [this, path] { restoreBackup(path); });
    m_openBoxes.removeAll(nullptr);
    m_openBoxes.append(box);
    box->open();
}

void OrlaController::restoreBackup(const QString &path)
{
    VHScsiFlashClient *device = flashStoreDevice();
    if (!startFlashJob(device, FlashJob::RestoreBackup, device && device->restoreBackup(path))) {
        showBackups(device ? tr_("The backup was not written back: the device is busy, or the file is no backup of "
                                 "this watch.")
                           : tr_("The device is no longer connected."));
        return;
    }
    m_backupsForm->setWorking(tr_("Writing the backup back onto the watch..."));
}

// ---- the end of their actions -----------------------------------------------------

bool OrlaController::startFlashJob(VHScsiFlashClient *device, FlashJob job, bool started)
{
    if (!started)
        return false;
    m_flashJobDevice = device;
    m_flashJob = job;
    disconnect(m_flashProgress);
    m_flashProgress = connect(device, &VHClient::progressChanged, this, &OrlaController::showFlashStoreProgress,
                              Qt::QueuedConnection);
    return true;
}

void OrlaController::showFlashStoreProgress(float value)
{
    // Never 100 before the end is reported.
    const int percent = std::clamp(int(value * 100.0f), 0, 99);
    if (m_flashJob == FlashJob::LanguageUpdate)
        m_languageForm->setProgress(percent);
    else if (m_flashJob == FlashJob::MakeBackup || m_flashJob == FlashJob::RestoreBackup)
        m_backupsForm->setProgress(percent);
}

bool OrlaController::finishFlashStoreJob(VHClient *device, int action)
{
    const FlashJob job = m_flashJob;
    const int expected = job == FlashJob::LanguageUpdate  ? VHClient::ActionUpdateTotal
                         : job == FlashJob::RestoreBackup ? VHClient::ActionRestoreFactory
                                                          : VHClient::ActionReadData;
    if (job == FlashJob::None || device != m_flashJobDevice || action != expected)
        return false;
    m_flashJob = FlashJob::None;
    m_flashJobDevice.clear();
    disconnect(m_flashProgress);
    if (job == FlashJob::ReadLanguages)
        finishLanguageRead(device);
    else if (job == FlashJob::MakeBackup && device && !device->errorFlag())
        showBackups(tr_("A new backup was made."));
    else
        finishWrite(device);
    return true;
}

void OrlaController::finishLanguageRead(VHClient *device)
{
    auto *flash = qobject_cast<VHScsiFlashClient *>(device);
    if (!flash || !m_languageForm->isVisible())
        return;
    m_languageForm->tickOnDevice(flash->languagesRead());
    // Nothing could be read: the user names the languages to write.
    if (flash->errorFlag())
        m_languageForm->refuse(tr_("The languages on the watch could not be read: %1").arg(actionReason(flash)));
}

void OrlaController::finishWrite(VHClient *device)
{
    int code = 0;
    if (!device || device->actionFailed(code)) {
        showFailForm(code, actionReason(device));
        return;
    }
    if (!device->actionChanged()) {
        refreshMainWindow(false);
        showMessage(Message::NothingWritten, tr_("Nothing had to be written."), device->errorText(),
                    m_mainWindow.get());
        return;
    }
    hideFlashStoreWindows();
    m_mainWindow->hide();
    showInstead(completeForm());
}
