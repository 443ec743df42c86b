#include "OrlaForm.h"

#include "HoverLabel.h"
#include "OrlaApp.h"
#include "OrlaWindowActions.h"
#include "OrlaWindowStyle.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("orlaform", text); }

const Qt::Alignment kLeftTop = Qt::AlignLeft | Qt::AlignTop;

// The order in which a family's jobs take the slots.
constexpr VHJob kJobOrder[] = {VHJob::SoftwareUpdate, VHJob::AssistData, VHJob::Workouts, VHJob::Languages,
                               VHJob::FactoryRestore, VHJob::Backups,    VHJob::Recover};
const VHJobs kFitJobs = VHJob::SoftwareUpdate | VHJob::AssistData | VHJob::Workouts;

} // namespace

OrlaForm::OrlaForm(OrlaWindowActions *controller, bool beta) : QWidget(nullptr), m_controller(controller)
{
    setUpWindow(this, QStringLiteral("Orla_Form"),
                beta ? QStringLiteral("background-image: url(:/background_beta.png);")
                     : QStringLiteral("background-image: url(:/background.png);"));
    buildWidgets();
    connectSignals();
    setButtonTexts();
    setJobs(kFitJobs);
}

OrlaForm::~OrlaForm() = default;

void OrlaForm::buildWidgets()
{
    m_deviceTitleLabel = label(this, "device_title_label", QRect(180, 42, 164, 67));
    m_remindLabel = label(this, "remind_label", QRect(180, 120, 170, 90), kLeftTop, true);
    m_remindLabel->setFont(pointFont(12));
    m_msgLabel = label(this, "Msg_label", QRect(20, 220, 320, 60), Qt::AlignLeft | Qt::AlignVCenter, true);
    m_msgLabel->setFont(pointFont(13, false));
    m_progressBar = child<QProgressBar>(this, "step_progressBar", QRect(60, 490, 240, 20));
    m_progressBar->hide();
    // The window ends 15 pixels below the bar: room for one small word.
    m_phaseLabel = label(this, "phase_label", QRect(60, 510, 240, 15), Qt::AlignHCenter | Qt::AlignTop);
    m_phaseLabel->setFont(pointFont(8));
    m_phaseLabel->hide();
    m_softUpdateButton = jobButton("soft_update_button", slotGeometry(0));
    m_gpsButton = jobButton("gpsdata_update_button", slotGeometry(1));
    m_workoutButton = jobButton("workout_update_button", slotGeometry(2));
    buildFurtherJobButtons();
    m_deviceLabel = label(this, "device_label", QRect(25, 17, 136, 202));
    m_uuidWordLabel = label(this, "uuid_word_label", QRect(180, 120, 40, 20), kLeftTop, true);
    m_softWordLabel = label(this, "soft_word_label", QRect(180, 140, 60, 70), kLeftTop, true);
    // Texts read from a device are shown as they are, never as markup.
    m_uuidInfoLabel = label(this, "uuid_info_label", QRect(220, 120, 130, 20), kLeftTop, true);
    m_uuidInfoLabel->setTextFormat(Qt::PlainText);
    m_softInfoLabel = label(this, "soft_info_label", QRect(250, 140, 110, 70), kLeftTop);
    m_softInfoLabel->setTextFormat(Qt::PlainText);

    m_downloadIndicator = label(this, "download_indicator", QRect(265, 275, 48, 48));
    m_waitMovie = new QMovie(QStringLiteral(":/wait_update.gif"), QByteArray(), m_downloadIndicator);
    m_downloadIndicator->setMovie(m_waitMovie);
    m_waitMovie->start();

    m_downloadCountLabel = label(this, "download_count_label", QRect(265, 275, 48, 48), Qt::AlignCenter);
    m_downloadCountLabel->setStyleSheet(QStringLiteral("background-image: url(:/update_noti.png);"));
    m_downloadCountLabel->setText(QStringLiteral("1"));
    m_downloadCountLabel->setFont(pointFont(16, true));
    QPalette white = m_downloadCountLabel->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        white.setColor(group, QPalette::WindowText, Qt::white);
    m_downloadCountLabel->setPalette(white);
    m_downloadCountLabel->hide();

    m_deviceTitleText = label(this, "device_title_text", QRect(180, 42, 164, 67));
    m_deviceTitleText->setFont(pointFont(24, true));
    m_deviceTitleText->setTextFormat(Qt::PlainText);

    m_aboutLabel = child<HoverLabel>(this, "about_label", QRect(320, 10, 24, 24));
    m_aboutLabel->setEnabled(true);
    m_aboutLabel->setStyleSheet(QStringLiteral(
        "QLabel{background:url(:/guide_1.png);border:0px;}QLabel:hover{background:url(:/guide_2.png);border:0px}"));

    m_versionLabel = label(this, "version_label", QRect(220, 10, 100, 24), Qt::AlignCenter);
    m_versionLabel->setStyleSheet(QStringLiteral("background-color: rgb(255, 249, 207);"));
    m_versionLabel->setFont(pointFont(12, true));
    const QString version = QStringLiteral("v") + QLatin1String(OrlaApp::appVersion);
    m_versionLabel->setText(
        m_versionLabel->fontMetrics().elidedText(version, Qt::ElideMiddle, m_versionLabel->contentsRect().width()));
    m_versionLabel->setToolTip(version);
    m_versionLabel->hide();

    // Where the job line goes while a device is connected: never both at once.
    m_mountLabel = label(this, "mount_label", QRect(20, 215, 215, 60), Qt::AlignLeft | Qt::AlignVCenter, true);
    m_mountLabel->setTextFormat(Qt::PlainText);
    m_mountLabel->setFont(pointFont(11, false));
    m_mountLabel->hide();
    m_mountButton = child<QPushButton>(this, "mount_button", QRect(240, 228, 105, 34));
    m_mountButton->setFont(pointFont(11, true));
    m_mountButton->hide();
}

QPushButton *OrlaForm::jobButton(const char *objectName, const QRect &geometry)
{
    auto *button = child<QPushButton>(this, objectName, geometry);
    button->setEnabled(true);
    button->setStyleSheet(buttonSheet(1));
    button->setFont(pointFont(12, true, true));
    return button;
}

QRect OrlaForm::slotGeometry(int slot) { return QRect(60, 280 + 70 * slot, 240, 58); }

void OrlaForm::buildFurtherJobButtons()
{
    // Placed by setJobs; hidden until a family offers their job.
    m_languagesButton = jobButton("languages_button", slotGeometry(0));
    m_factoryRestoreButton = jobButton("factory_restore_button", slotGeometry(0));
    m_backupsButton = jobButton("backups_button", slotGeometry(0));
    m_recoverButton = jobButton("recover_button", slotGeometry(0));
    m_moreButton = jobButton("more_button", slotGeometry(kJobSlots - 1));
    m_moreMenu = new QMenu(this);
    m_moreMenu->setObjectName(QStringLiteral("more_menu"));
    m_moreButton->setMenu(m_moreMenu);
    for (QPushButton *button :
         {m_languagesButton, m_factoryRestoreButton, m_backupsButton, m_recoverButton, m_moreButton})
        button->hide();
}

QPushButton *OrlaForm::jobButton(VHJob job) const
{
    switch (job) {
    case VHJob::SoftwareUpdate:
        return m_softUpdateButton;
    case VHJob::AssistData:
        return m_gpsButton;
    case VHJob::Workouts:
        return m_workoutButton;
    case VHJob::Languages:
        return m_languagesButton;
    case VHJob::FactoryRestore:
        return m_factoryRestoreButton;
    case VHJob::Backups:
        return m_backupsButton;
    case VHJob::Recover:
        return m_recoverButton;
    }
    return nullptr;
}

QString OrlaForm::jobText(VHJob job)
{
    switch (job) {
    case VHJob::SoftwareUpdate:
        return tr_("Update Software");
    case VHJob::AssistData:
        return tr_("Update GPS Data");
    case VHJob::Workouts:
        return tr_("Install Velora Workout");
    case VHJob::Languages:
        return tr_("Choose Languages");
    case VHJob::FactoryRestore:
        return tr_("Factory Restore");
    case VHJob::Backups:
        return tr_("Backups");
    case VHJob::Recover:
        return tr_("Recover Device");
    }
    return QString();
}

void OrlaForm::setJobs(VHJobs jobs)
{
    m_jobs = jobs;
    QList<VHJob> offered;
    for (const VHJob job : kJobOrder) {
        jobButton(job)->hide();
        if (jobs.testFlag(job))
            offered << job;
    }
    // A fourth job would leave the window: the last slot opens the rest.
    const int inSlots = offered.size() > kJobSlots ? kJobSlots - 1 : int(offered.size());
    for (int slot = 0; slot < inSlots; ++slot) {
        QPushButton *button = jobButton(offered.at(slot));
        button->setGeometry(slotGeometry(slot));
        button->show();
    }
    m_moreJobs = offered.mid(inSlots);
    fillMoreMenu();
    m_moreButton->setVisible(!m_moreJobs.isEmpty());
}

void OrlaForm::fillMoreMenu()
{
    m_moreMenu->clear();
    for (const VHJob job : std::as_const(m_moreJobs)) {
        QAction *action = m_moreMenu->addAction(jobText(job));
        action->setObjectName(jobButton(job)->objectName());
        connect(action, &QAction::triggered, this, [this, job] { startJob(job); });
    }
}

void OrlaForm::startJob(VHJob job)
{
    if (m_controller->refuseIfBusy())
        return;
    switch (job) {
    case VHJob::SoftwareUpdate:
        m_controller->offerSoftwareUpdate();
        break;
    case VHJob::AssistData:
        m_controller->updateAlp(true);
        break;
    case VHJob::Workouts:
        m_controller->installWorkouts();
        break;
    case VHJob::Languages:
        m_controller->chooseLanguages();
        break;
    case VHJob::FactoryRestore:
        m_controller->offerFactoryRestore();
        break;
    case VHJob::Backups:
        m_controller->manageBackups();
        break;
    case VHJob::Recover:
        m_controller->recoverDevice();
        break;
    }
}

void OrlaForm::enableJobButtons(bool on)
{
    for (QPushButton *button : {m_softUpdateButton, m_gpsButton, m_languagesButton, m_factoryRestoreButton,
                                m_backupsButton, m_recoverButton, m_moreButton})
        button->setEnabled(on);
    m_workoutButton->setEnabled(on && m_workoutAllowed);
}

void OrlaForm::connectSignals()
{
    connect(m_softUpdateButton, &QPushButton::clicked, this, &OrlaForm::onSoftUpdateClicked);
    connect(m_gpsButton, &QPushButton::clicked, this, &OrlaForm::onGpsDataClicked);
    connect(m_workoutButton, &QPushButton::clicked, this, &OrlaForm::onWorkoutUpdateClicked);
    connect(m_languagesButton, &QPushButton::clicked, this, &OrlaForm::onLanguagesClicked);
    connect(m_factoryRestoreButton, &QPushButton::clicked, this, &OrlaForm::onFactoryRestoreClicked);
    connect(m_backupsButton, &QPushButton::clicked, this, &OrlaForm::onBackupsClicked);
    connect(m_recoverButton, &QPushButton::clicked, this, &OrlaForm::onRecoverClicked);
    connect(m_aboutLabel, &HoverLabel::mouseEnter, this, &OrlaForm::onAboutLabelEnter);
    connect(m_aboutLabel, &HoverLabel::mouseLeave, this, &OrlaForm::onAboutLabelLeave);
    connect(m_mountButton, &QPushButton::clicked, this, &OrlaForm::mountClicked);
}

void OrlaForm::setButtonTexts()
{
    m_softUpdateButton->setText(tr_("Update Software"));
    m_gpsButton->setText(tr_("Update GPS Data"));
    m_workoutButton->setText(tr_("Install Velora Workout"));
    for (const VHJob job : {VHJob::Languages, VHJob::FactoryRestore, VHJob::Backups, VHJob::Recover})
        jobButton(job)->setText(jobText(job));
    m_moreButton->setText(tr_("More"));
    fillMoreMenu();
    m_mountButton->setText(tr_("Mount"));
}

// ---- what the controller shows ----------------------------------------------------

void OrlaForm::setDevice(const QString &model, const QString &uuid, const QStringList &versions)
{
    setButtonTexts();
    m_noDeviceShown = model.isEmpty();
    if (model.isEmpty()) {
        showNoDevice();
    } else {
        m_remindLabel->hide();
        hideMountOffer();
        showDevicePicture(model);
        showDeviceInfo(uuid, versions);
        enableJobButtons(true);
    }
    m_msgLabel->hide();
    m_downloadIndicator->hide();
}

void OrlaForm::showMountOffer(const QString &text, bool canMount)
{
    // The offer says the device is there; "please connect" beside it would contradict it.
    m_remindLabel->hide();
    m_mountLabel->setText(text);
    m_mountLabel->show();
    m_mountButton->setEnabled(canMount);
    m_mountButton->show();
}

void OrlaForm::hideMountOffer()
{
    m_mountLabel->hide();
    m_mountButton->hide();
    m_remindLabel->setVisible(m_noDeviceShown);
}

void OrlaForm::showNoDevice()
{
    m_deviceLabel->setStyleSheet(backgroundImage(QStringLiteral(":/device/device_notfound.png")));
    m_remindLabel->setText(tr_("Please connect your device to the computer"));
    m_remindLabel->setVisible(!m_mountLabel->isVisibleTo(this));
    // Without a device the window keeps its usual three buttons, disabled.
    setJobs(kFitJobs);
    enableJobButtons(false);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{m_deviceTitleLabel, m_deviceTitleText, m_uuidWordLabel, m_uuidInfoLabel,
                                          m_softWordLabel, m_softInfoLabel, m_downloadIndicator, m_downloadCountLabel})
        widget->hide();
}

void OrlaForm::showDevicePicture(const QString &model)
{
    const QString picture = QStringLiteral(":/device/") + model + QStringLiteral("_device.png");
    if (!QFile::exists(picture)) {
        m_deviceLabel->setStyleSheet(backgroundImage(QStringLiteral(":/device/Velora_device.png")));
        m_deviceTitleLabel->hide();
        m_deviceTitleText->setText(model);
        m_deviceTitleText->show();
        return;
    }
    m_deviceLabel->setStyleSheet(backgroundImage(picture));
    m_deviceTitleLabel->setStyleSheet(
        backgroundImage(QStringLiteral(":/device/") + model + QStringLiteral("_title.png")));
    m_deviceTitleLabel->show();
    m_deviceTitleText->hide();
}

void OrlaForm::showDeviceInfo(const QString &uuid, const QStringList &versions)
{
    m_uuidWordLabel->setText(QStringLiteral("UUID:"));
    m_uuidWordLabel->show();
    m_uuidInfoLabel->setText(uuid);
    m_uuidInfoLabel->show();
    m_softWordLabel->setText(QStringLiteral("%1:").arg(tr_("Software Version")));
    m_softWordLabel->show();
    m_softInfoLabel->setText(
        versionsText(versions, m_softInfoLabel->fontMetrics(), m_softInfoLabel->contentsRect().width()));
    m_softInfoLabel->setToolTip(versions.join(QLatin1Char('\n')));
    m_softInfoLabel->show();
}

QString OrlaForm::versionsText(const QStringList &versions, const QFontMetrics &metrics, int width)
{
    QString text;
    for (const QString &entry : versions)
        text += metrics.elidedText(entry, Qt::ElideMiddle, width) + QLatin1Char('\n');
    return text;
}

void OrlaForm::setGpsUpdating(bool on)
{
    m_gpsButton->setEnabled(!on);
    if (!on) {
        m_msgLabel->hide();
        return;
    }
    m_msgLabel->setText(tr_("Updating GPS data") + QStringLiteral("... "));
    m_msgLabel->show();
}

void OrlaForm::setWorkoutInstalling(bool on)
{
    m_workoutButton->setEnabled(!on);
    if (!on) {
        m_progressBar->hide();
        setPhase(QString());
        m_msgLabel->hide();
        return;
    }
    m_progressBar->setValue(0);
    m_progressBar->show();
    m_msgLabel->setText(tr_("Install Velora Workout & Velora Test") + QStringLiteral("... "));
    m_msgLabel->show();
}

void OrlaForm::setPhase(const QString &word)
{
    m_phaseLabel->setText(word);
    m_phaseLabel->setVisible(!word.isEmpty() && !m_progressBar->isHidden());
}

void OrlaForm::setProgress(int value)
{
    m_progressBar->setValue(value);
    if (value == -1) {
        m_progressBar->hide();
        setPhase(QString());
    } else if (!m_progressBar->isVisible())
        m_progressBar->show();
}

void OrlaForm::allowWorkouts()
{
    m_workoutAllowed = true;
    m_workoutButton->setEnabled(true);
}

void OrlaForm::showUpdateNotice()
{
    m_downloadCountLabel->show();
    m_downloadIndicator->hide();
}

void OrlaForm::showChecking()
{
    m_downloadIndicator->show();
    m_downloadCountLabel->hide();
}

void OrlaForm::hideUpdateIndicators()
{
    m_downloadIndicator->hide();
    m_downloadCountLabel->hide();
}

// ---- the buttons -----------------------------------------------------------------

void OrlaForm::onSoftUpdateClicked()
{
    if (!m_controller->refuseIfBusy())
        m_controller->offerSoftwareUpdate();
}

void OrlaForm::onGpsDataClicked()
{
    if (!m_controller->refuseIfBusy())
        m_controller->updateAlp(true);
}

void OrlaForm::onWorkoutUpdateClicked()
{
    if (!m_controller->refuseIfBusy())
        m_controller->installWorkouts();
}

void OrlaForm::onFactoryRestoreClicked() { startJob(VHJob::FactoryRestore); }

void OrlaForm::onLanguagesClicked() { startJob(VHJob::Languages); }

void OrlaForm::onBackupsClicked() { startJob(VHJob::Backups); }

void OrlaForm::onRecoverClicked() { startJob(VHJob::Recover); }

void OrlaForm::setLastResult(const QString &text) { m_aboutLabel->setToolTip(text); }

QString OrlaForm::lastResult() const { return m_aboutLabel->toolTip(); }

void OrlaForm::onAboutLabelEnter() { m_versionLabel->show(); }

void OrlaForm::onAboutLabelLeave() { m_versionLabel->hide(); }

void OrlaForm::showStatusLine(const QString &text)
{
    m_msgLabel->setText(text);
    m_msgLabel->setVisible(!text.isEmpty());
}
