#include "SoftUpdateForm.h"

#include "HoverLabel.h"
#include "OrlaWindowActions.h"
#include "OrlaWindowStyle.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

using namespace OrlaWindowStyle;

namespace {

QString tr_(const char *text) { return QCoreApplication::translate("softupdateform", text); }

} // namespace

SoftUpdateForm::SoftUpdateForm(OrlaWindowActions *controller) : QWidget(nullptr), m_controller(controller)
{
    setUpWindow(this, QStringLiteral("SoftUpdateForm"));
    buildWidgets();
    connect(m_cancelButton, &QPushButton::clicked, this, &SoftUpdateForm::onCancelclicked);
    connect(m_updateButton, &QPushButton::clicked, this, &SoftUpdateForm::onUpdateclicked);
    connect(m_infoLabel, &HoverLabel::mouseEnter, this, &SoftUpdateForm::onMouseEnter);
    connect(m_infoLabel, &HoverLabel::mouseLeave, this, &SoftUpdateForm::onMouseLeave);
}

SoftUpdateForm::~SoftUpdateForm() = default;

void SoftUpdateForm::buildWidgets()
{
    // Wrapped: with the fonts of this system the title may be wider than its box.
    m_titleLabel = label(this, "title_label", QRect(30, 20, 164, 67), Qt::Alignment(), true);
    m_titleLabel->setFont(pointFont(16, true));
    m_titleLabel->setText(tr_("Software Update"));
    m_warningLabel = label(this, "warning_label", QRect(30, 230, 48, 48));
    m_warningLabel->setStyleSheet(QStringLiteral("background-image: url(:/warning.png);"));
    m_remindLabel = label(this, "remind_label", QRect(80, 230, 250, 80), Qt::AlignLeft | Qt::AlignTop, true);
    m_remindLabel->setFont(pointFont(13));
    m_remindLabel->setText(tr_("Backup_Data_Warn_Msg"));
    m_msgLabel = label(this, "Msg_label", QRect(80, 320, 250, 90), Qt::AlignLeft | Qt::AlignVCenter, true);
    m_msgLabel->setFont(pointFont(13));
    m_msgLabel->setText(tr_("Force_Update_Device_Msg"));
    m_infoLabel = child<HoverLabel>(this, "info_label", QRect(305, 75, 24, 24));
    m_infoLabel->setEnabled(true);
    m_infoLabel->setStyleSheet(QStringLiteral(
        "QLabel{background:url(:/info_2.png);border:0px;}QLabel:hover{background:url(:/info_1.png);border:0px}"));
    m_updateButton = dialogButton("soft_update_button", QRect(190, 450, 140, 50), "Update");
    m_cancelButton = dialogButton("cancel_button", QRect(40, 450, 140, 50), "Cancel");
    m_list = child<QListWidget>(this, "soft_update_list", QRect(30, 100, 300, 100));
    m_list->setEnabled(true);
    m_progressBar = child<QProgressBar>(this, "step_progressBar", QRect(45, 350, 280, 30));
    m_phaseLabel = label(this, "phase_label", QRect(45, 385, 280, 30), Qt::AlignHCenter | Qt::AlignTop);
    m_phaseLabel->setFont(pointFont(12));
    m_phaseLabel->hide();
}

QPushButton *SoftUpdateForm::dialogButton(const char *objectName, const QRect &geometry, const char *text)
{
    auto *button = OrlaWindowStyle::dialogButton(this, objectName, geometry, tr_(text));
    button->setEnabled(true);
    return button;
}

void SoftUpdateForm::setData(const QString &newVersion, const QString &currentVersion, const QString &)
{
    m_list->clear();
    m_progressBar->setValue(0);
    m_updateButton->setEnabled(true);
    m_cancelButton->setEnabled(true);
    m_list->addItem(tr_("Device software"));
    m_list->addItem(tr_("Current") + QStringLiteral(": ") + currentVersion);
    m_list->addItem(tr_("Update") + QStringLiteral(": ") + newVersion);
    m_remindLabel->setText(tr_("Backup_Data_Warn_Msg"));
    m_progressBar->hide();
    setPhase(QString());
    m_msgLabel->show();
}

void SoftUpdateForm::setProgress(int value) { m_progressBar->setValue(value); }

void SoftUpdateForm::setPhase(const QString &word)
{
    m_phaseLabel->setText(word);
    m_phaseLabel->setVisible(!word.isEmpty() && !m_progressBar->isHidden());
}

void SoftUpdateForm::onUpdateclicked()
{
    m_remindLabel->setText(tr_("Device_Updating_Warn_Msg"));
    m_progressBar->show();
    m_msgLabel->hide();
    m_updateButton->setEnabled(false);
    m_cancelButton->setEnabled(false);
    m_controller->startSoftwareUpdate();
}

void SoftUpdateForm::onCancelclicked() { m_controller->refreshMainWindow(false); }

void SoftUpdateForm::onMouseEnter()
{
    if (!m_noteLabel) {
        // Wrapped, so a long release note stays inside its box.
        m_noteLabel = label(this, "note_text_label", QRect(20, 100, 300, 200), Qt::AlignLeft | Qt::AlignTop, true);
        m_noteLabel->setIndent(5);
        // The note comes from the server: shown as it is, never as markup that
        // could lay out the window or load pictures and links.
        m_noteLabel->setTextFormat(Qt::PlainText);
        m_noteLabel->setTextInteractionFlags(Qt::NoTextInteraction);
        m_noteLabel->setOpenExternalLinks(false);
        m_noteLabel->setStyleSheet(QStringLiteral("background-color: rgb(255, 249, 207);"));
    }
    m_noteLabel->setText(m_controller->note());
    m_noteLabel->show();
    m_noteLabel->raise();
}

void SoftUpdateForm::onMouseLeave()
{
    if (m_noteLabel)
        m_noteLabel->hide();
}

void SoftUpdateForm::showWaitText(const QString &text) { m_remindLabel->setText(text); }
